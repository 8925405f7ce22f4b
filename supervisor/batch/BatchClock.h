#pragma once
// The thirty-second batch clock as pure state machines: the daily restart and
// the watch over each batch page. All comparisons with now are strict.

#include <chrono>
#include <vector>

namespace tolvane {

// The clock's state of one batch page.
struct BatchPageClock {
    bool armed = false;                      // the next instant is valid and watched
    std::chrono::local_seconds next{};       // the next batch instant
    bool started = false;                    // the batch due at `next` was started
    std::chrono::local_seconds recompute{};  // replan after this instant
    // The instants whose batch this run has started (the last day's). When
    // the clocks go back, the wall clock shows an instant a second time; its
    // batch has run already and is never started again.
    std::vector<std::chrono::local_seconds> startedInstants{};
};

enum class PageTickAction { None, StartBatch, Replan };

// One tick for one page. StartBatch: the caller starts the batch (the state
// is already latched and the instant noted as started, replan 120 s later).
// Replan: the caller recomputes the next instant; also asked, instead of a
// start, when the instant due is one already started. An unarmed page does
// nothing.
PageTickAction batchPageTick(BatchPageClock& page, std::chrono::local_seconds now);

enum class RestartAction { None, StartRestarter, NoRestarter };

// The daily restart: once now is past `instant`, it moves a day ahead and the
// caller starts Krandel when it exists (StartRestarter), or carries on
// (NoRestarter).
RestartAction dailyRestartTick(std::chrono::local_seconds& instant, std::chrono::local_seconds now,
                               bool restarterExists);

}  // namespace tolvane
