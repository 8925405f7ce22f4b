#include "supervisor/batch/BatchClock.h"

#include <algorithm>

namespace tolvane {

using namespace std::chrono;

namespace {
// Long enough for the batch's own minute to be well past when the next
// instant is planned, so the same weekday goes to next week.
constexpr seconds kReplanDelay{120};

// A change of hour sets the wall clock back by one hour; a started instant
// older than a day can no longer come round again that way, so the list
// stays a handful long however long Tolvane runs.
constexpr days kStartedMemory{1};

bool alreadyStarted(const BatchPageClock& page, local_seconds instant) {
    return std::find(page.startedInstants.begin(), page.startedInstants.end(), instant) != page.startedInstants.end();
}
}  // namespace

PageTickAction batchPageTick(BatchPageClock& page, local_seconds now) {
    if (!page.armed) return PageTickAction::None;
    if (now > page.next) {
        if (!page.started) {
            // The clocks went back over an instant started before the page
            // was replanned (the repeated hour): that batch has run, so plan
            // the next instant instead of starting it again.
            if (alreadyStarted(page, page.next)) return PageTickAction::Replan;
            // Latched before the start, so a batch whose start fails is not
            // retried until its next instant.
            page.recompute = now + kReplanDelay;
            page.started = true;
            std::erase_if(page.startedInstants, [&](local_seconds instant) { return instant < now - kStartedMemory; });
            page.startedInstants.push_back(page.next);
            return PageTickAction::StartBatch;
        }
        return now > page.recompute ? PageTickAction::Replan : PageTickAction::None;
    }
    // The instant lies ahead again (replanned, or changed by the operator):
    // the next time it passes is a new batch.
    page.started = false;
    return PageTickAction::None;
}

RestartAction dailyRestartTick(local_seconds& instant, local_seconds now, bool restarterExists) {
    if (!(now > instant)) return RestartAction::None;
    // The instant moves on whether or not Krandel is there, so a missing
    // Krandel is tried again tomorrow, not at every tick. After a clock jump
    // or a sleep of several days it moves to the first instant still ahead,
    // so one restart is attempted, not one per missed day.
    instant += days{1};
    if (!(now < instant)) instant += days{(now - instant) / days{1} + 1};
    return restarterExists ? RestartAction::StartRestarter : RestartAction::NoRestarter;
}

}  // namespace tolvane
