#pragma once
// A tool that keeps being started again ("en boucle"): three restarts by
// Tolvane's own supervision (a verification that found no window, the
// verification after its end, the restart of a frozen tool) within ten
// minutes make a loop. While it loops, the journal gets one line as it
// begins, one an hour with the counts, and one once it is over, instead of
// a restart line and an end line each time round: a player dying at every
// start would otherwise bury a night's journal and the system's log under
// lines that all say the same.
//
// ToolLoop is the pure state of one tool, fed with the instants of its
// restarts, its ends, the sight of it running and the current tick; it
// answers which lines to fold and which to write. All instants are
// monotonic ticks in milliseconds.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace tolvane {

// So many restarts within LoopWindowMs make a loop.
inline constexpr int LoopRestarts = 3;
inline constexpr std::int64_t LoopWindowMs = 600'000;
// A loop's line while it lasts.
inline constexpr std::int64_t LoopReportMs = 3'600'000;
// A loop is over once the tool has gone this long without a restart.
inline constexpr std::int64_t LoopQuietMs = 600'000;

// A line the journal gets for a loop.
struct LoopLine {
    enum class Kind { Began, Lasts, Over };
    Kind kind = Kind::Began;
    int restartsInWindow = 0;   // Began: the restarts of the last ten minutes
    int restartsSinceLine = 0;  // Lasts, Over: folded since the loop's previous line
    int endsSinceLine = 0;
    int restartsInLoop = 0;  // since it began, the first three included
    std::int64_t lastedMs = 0;
    // Over: the tool was seen running (its window found, no end since)
    // through the ten minutes after its last restart; otherwise it was only
    // not started again (its "Vérifier" unticked, a display that did not
    // answer).
    bool held = false;
    bool operator==(const LoopLine&) const = default;
};

class ToolLoop {
public:
    struct Step {
        bool fold = false;             // the restart's or the end's own line is not written
        std::optional<LoopLine> line;  // written instead, or before it
        bool operator==(const Step&) const = default;
    };

    // Tolvane's supervision started the tool again.
    Step restarted(std::int64_t now);
    // Its last watched process ended.
    Step ended(std::int64_t now);
    // Its window was found, or a process of its name is watched.
    void seenRunning() { m_seenSinceRestart = true; }
    // The hour's line, or the end of the loop, when due.
    std::optional<LoopLine> tick(std::int64_t now);

    bool looping() const { return m_loop.has_value(); }
    // "Redémarre en boucle : 5 fois en 10 min" while it loops.
    std::optional<std::string> tooltip(std::int64_t now) const;

private:
    int restartsWithin(std::int64_t now) const;

    struct Loop {
        std::int64_t began = 0;
        std::int64_t lastLine = 0;
        int restarts = 0;
        int restartsSinceLine = 0;
        int endsSinceLine = 0;
    };
    std::deque<std::int64_t> m_restarts;  // of the last ten minutes, oldest first
    std::optional<Loop> m_loop;
    bool m_seenSinceRestart = false;
};

// "45 s", "12 min", "2 h 05 min": how long a loop lasted.
std::string loopDurationText(std::int64_t ms);

}  // namespace tolvane
