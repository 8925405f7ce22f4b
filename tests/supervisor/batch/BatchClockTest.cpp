#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "supervisor/batch/BatchClock.h"
#include "supervisor/batch/BatchSchedule.h"
#include "supervisor/core/Startup.h"

namespace tolvane {
namespace {

using namespace std::chrono;

local_seconds at(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
    return local_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

// A page ticked for Monday 10:15, driven as the window drives it: a tick
// every 30 s, the batch started on StartBatch, the next instant planned on
// Replan (and whenever the operator changes the page).
struct PageHarness {
    std::array<bool, 8> days{false, true};
    int hour = 10, minute = 15;
    BatchPageClock clock;
    std::vector<local_seconds> starts, replans;

    void plan(local_seconds now) {
        const auto next = nextBatchInstant(now, days, hour, minute);
        clock.armed = next.has_value();
        if (next) clock.next = *next;
    }
    void tick(local_seconds now) {
        const PageTickAction action = batchPageTick(clock, now);
        if (action == PageTickAction::StartBatch) starts.push_back(now);
        if (action == PageTickAction::Replan) {
            replans.push_back(now);
            plan(now);
        }
    }
    void run(local_seconds from, local_seconds to) {
        for (local_seconds t = from; t <= to; t += seconds{30}) tick(t);
    }
};

// Monday 9 June 2025 at h:m:s.
local_seconds mon(int h, int m, int s = 0) { return at(2025, 6, 9, h, m, s); }

TEST(BatchPageTick, StartsOnceAfterTheInstantAndReplansAfter120Seconds) {
    PageHarness page;
    page.plan(mon(9, 0));
    page.run(mon(10, 14, 40), mon(11, 0));
    EXPECT_EQ(page.starts, std::vector{mon(10, 15, 10)});
    // Latched until 10:17:10, which is not later than itself.
    EXPECT_EQ(page.replans, std::vector{mon(10, 17, 40)});
    EXPECT_EQ(page.clock.next, at(2025, 6, 16, 10, 15));
    EXPECT_FALSE(page.clock.started);
}

TEST(BatchPageTick, TickExactlyAtTheInstantWaitsForTheNextOne) {
    PageHarness page;
    page.plan(mon(9, 0));
    page.run(mon(10, 15), mon(10, 15, 30));
    EXPECT_EQ(page.starts, std::vector{mon(10, 15, 30)});
}

TEST(BatchPageTick, ReplanIsAskedUntilTheInstantMovesNeverASecondStart) {
    BatchPageClock clock{true, mon(10, 15), false, {}};
    EXPECT_EQ(batchPageTick(clock, mon(10, 15, 20)), PageTickAction::StartBatch);
    EXPECT_EQ(clock.recompute, mon(10, 17, 20));
    EXPECT_EQ(batchPageTick(clock, mon(10, 17, 20)), PageTickAction::None);
    EXPECT_EQ(batchPageTick(clock, mon(10, 17, 21)), PageTickAction::Replan);
    EXPECT_EQ(batchPageTick(clock, mon(10, 17, 51)), PageTickAction::Replan);
    BatchPageClock unarmed{false, mon(10, 15), false, {}};
    EXPECT_EQ(batchPageTick(unarmed, mon(11, 0)), PageTickAction::None);
}

TEST(BatchPageTick, OperatorChangeBeforeTheReplanClearsTheLatchAtTheNextTick) {
    PageHarness page;
    page.plan(mon(9, 0));
    page.run(mon(10, 14, 40), mon(10, 15, 40));
    ASSERT_TRUE(page.clock.started);
    page.minute = 30;  // at 10:16 the start moves to 10:30
    page.plan(mon(10, 16));
    page.tick(mon(10, 16, 10));
    EXPECT_FALSE(page.clock.started);
    page.run(mon(10, 16, 40), mon(10, 35));
    EXPECT_EQ(page.starts, (std::vector{mon(10, 15, 10), mon(10, 30, 10)}));
    // The first batch was never replanned; only the second one was.
    EXPECT_EQ(page.replans, std::vector{mon(10, 32, 40)});
}

TEST(BatchPageTick, PageMadeInactiveKeepsItsLatchUntilArmedAhead) {
    PageHarness page;
    page.plan(mon(9, 0));
    page.run(mon(10, 15, 10), mon(10, 16));
    page.days[1] = false;  // nothing ticked: unarmed
    page.plan(mon(10, 16, 5));
    page.run(mon(10, 16, 10), mon(10, 30));
    EXPECT_TRUE(page.clock.started);
    page.days[2] = true;  // Tuesday
    page.plan(mon(10, 30, 5));
    page.tick(mon(10, 30, 10));
    EXPECT_FALSE(page.clock.started);
    EXPECT_EQ(page.starts.size(), 1u);
}

TEST(BatchPageTick, InstantsMissedDuringASleepGiveOneStart) {
    PageHarness page;
    page.days = {false, true, true, true};  // Monday to Wednesday
    page.plan(mon(9, 0));
    page.run(at(2025, 6, 12, 12, 0), at(2025, 6, 12, 13, 0));  // woken on Thursday
    EXPECT_EQ(page.starts, std::vector{at(2025, 6, 12, 12, 0)});
    EXPECT_EQ(page.clock.next, at(2025, 6, 16, 10, 15));
}

TEST(BatchPageTick, AWeekStartsOncePerTickedDay) {
    PageHarness page;
    page.days = {false, true, false, false, true};  // Monday and Thursday
    page.plan(mon(0, 0));
    page.run(mon(0, 0), at(2025, 6, 16, 12, 0));
    EXPECT_EQ(page.starts, (std::vector{mon(10, 15, 30), at(2025, 6, 12, 10, 15, 30), at(2025, 6, 16, 10, 15, 30)}));
}

TEST(BatchPageTick, AStartedInstantTheClockBringsRoundAgainIsReplannedNotStarted) {
    PageHarness page;
    page.plan(mon(9, 0));
    page.run(mon(10, 14, 40), mon(10, 16, 10));  // started, not replanned yet
    page.run(mon(9, 30), mon(10, 30));           // the wall clock an hour back
    EXPECT_EQ(page.starts, std::vector{mon(10, 15, 10)});
    EXPECT_EQ(page.replans, std::vector{mon(10, 15, 30)});
    EXPECT_EQ(page.clock.next, at(2025, 6, 16, 10, 15));
    // Only the last day's starts are remembered.
    page.days = {false, true, true, true, true, true, true, true};
    page.plan(mon(10, 30));
    page.run(mon(10, 30, 30), at(2025, 6, 11, 12, 0));
    EXPECT_EQ(page.clock.startedInstants, std::vector{at(2025, 6, 11, 10, 15)});
}

TEST(DailyRestartTick, StrictlyAfterTheInstantThenOneDayAhead) {
    local_seconds instant = at(2025, 6, 10, 4, 7);
    EXPECT_EQ(dailyRestartTick(instant, at(2025, 6, 10, 4, 7, 0), true), RestartAction::None);
    EXPECT_EQ(dailyRestartTick(instant, at(2025, 6, 10, 4, 7, 20), true), RestartAction::StartRestarter);
    EXPECT_EQ(instant, at(2025, 6, 11, 4, 7));
    instant = at(2025, 12, 31, 4, 7);
    dailyRestartTick(instant, at(2025, 12, 31, 4, 7, 10), true);
    EXPECT_EQ(instant, at(2026, 1, 1, 4, 7));
}

TEST(DailyRestartTick, WithoutKrandelNothingMoreHappensUntilTomorrow) {
    local_seconds instant = at(2025, 6, 10, 4, 7);
    EXPECT_EQ(dailyRestartTick(instant, at(2025, 6, 10, 4, 7, 20), false), RestartAction::NoRestarter);
    for (local_seconds t = at(2025, 6, 10, 4, 7, 50); t <= at(2025, 6, 11, 4, 7); t += seconds{30})
        ASSERT_EQ(dailyRestartTick(instant, t, false), RestartAction::None);
    EXPECT_EQ(dailyRestartTick(instant, at(2025, 6, 11, 4, 7, 30), false), RestartAction::NoRestarter);
}

TEST(DailyRestartTick, AfterSeveralMissedDaysOneAttemptThenTheNextDay) {
    // The machine slept from Monday to Thursday afternoon.
    local_seconds instant = at(2025, 6, 10, 4, 7);
    EXPECT_EQ(dailyRestartTick(instant, at(2025, 6, 13, 15, 0), true), RestartAction::StartRestarter);
    EXPECT_EQ(instant, at(2025, 6, 14, 4, 7));
    EXPECT_EQ(dailyRestartTick(instant, at(2025, 6, 13, 15, 0, 30), true), RestartAction::None);
    // Exactly on a missed instant: that one is past too only a second later.
    instant = at(2025, 6, 10, 4, 7);
    EXPECT_EQ(dailyRestartTick(instant, at(2025, 6, 12, 4, 7), true), RestartAction::StartRestarter);
    EXPECT_EQ(instant, at(2025, 6, 13, 4, 7));
}

TEST(DailyRestartTick, StartBetweenFourAndTheRestartWaitsForTomorrow) {
    local_seconds instant = initialRestartInstant(at(2025, 6, 10, 4, 3));
    for (local_seconds t = at(2025, 6, 10, 4, 3, 30); t <= at(2025, 6, 11, 4, 7); t += seconds{30})
        ASSERT_EQ(dailyRestartTick(instant, t, true), RestartAction::None);
    EXPECT_EQ(dailyRestartTick(instant, at(2025, 6, 11, 4, 7, 30), true), RestartAction::StartRestarter);
}

}  // namespace
}  // namespace tolvane
