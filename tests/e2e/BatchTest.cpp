// The batch clock of the real Tolvane: a Scheduler page due at its instant
// starts the Scheduler program once, at the first 30-second tick after the
// instant, with the page's command line, and not again while that instant
// lies in the past.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/e2e/Station.h"

using namespace tolvane::testsupport;
using namespace tolvane::testsupport;

namespace {

const std::string Scheduler = "VX8_Tools_Scheduler";
const std::string DefaultBatch = "/Batch=J+1<ChargerSquelette:1><NoStation:1><HeureDeb:00><HeureFin:23><OptDuree:1>";

// The Scheduler page active on every day of the week, at 10:15.
void armSchedulerEveryDayAt1015(Station& s) {
    for (int day = 0; day <= 7; ++day) s.set("CheckSchedulerJour", "Idx_" + std::to_string(day), "1");
    s.set("CheckSchedulerTiming", "Idx_0", "10");
    s.set("CheckSchedulerTiming", "Idx_1", "1");
}

}  // namespace

TEST(BatchClock, DueSchedulerPageStartsItsProgramOnceAtTheFirstTickWithThePageCommandLine) {
    Station s;
    armSchedulerEveryDayAt1015(s);
    // Five times as fast: the first tick (30 s) finds 10:16:30 or later,
    // past the instant; the second (60 s) finds the instant past still, and
    // more than the two minutes after the start gone, when the next day is
    // planned. The minute before 10:15 leaves Qt twelve seconds to start up
    // and plan today's instant.
    const auto started = std::chrono::steady_clock::now();
    s.startTolvane({}, "@2026-12-08 10:14:00 x5");

    ASSERT_TRUE(s.waitForStarts(Scheduler, 1, 45s)) << "the due batch was not started";
    const auto firstStart = std::chrono::steady_clock::now() - started;
    // The instant passed twelve seconds after start-up; the batch waits for
    // the clock's tick all the same, it is not started by the loading.
    EXPECT_GE(firstStart, 25s);
    const auto line = s.startsOf(Scheduler).at(0);
    EXPECT_EQ(line.arguments, std::vector<std::string>{DefaultBatch});
    EXPECT_EQ(line.argv0, s.folder() + "/" + Scheduler);

    // The second tick still finds the instant in the past: the batch is not
    // started a second time, and planning the next one starts nothing.
    EXPECT_FALSE(waitUntil([&] { return s.startsOf(Scheduler).size() > 1; },
                           std::chrono::duration_cast<std::chrono::milliseconds>(66s - firstStart)));
    EXPECT_EQ(s.log().size(), 1u) << "nothing else is started by the batch clock";
    EXPECT_EQ(s.tolvanes().size(), 1u);
}

TEST(BatchClock, SchedulerTickedMinimiserGetsTheStandbySwitchAfterTheBatch) {
    Station s;
    armSchedulerEveryDayAt1015(s);
    s.setTool(2, "Minimiser", "1");
    // Options of the page other than the defaults reach the command line.
    s.set("CheckSchedulerJ", "Nb", "2");
    s.set("CheckSchedulerReprogrammer", "Actif", "0");
    s.set("CheckSchedulerNoStation", "Index", "9");
    s.set("CheckSchedulerHeure", "Idx_0", "6");
    s.set("CheckSchedulerHeure", "Idx_1", "9");
    s.startTolvane({}, "@2026-12-08 10:14:40");

    ASSERT_TRUE(s.waitForStarts(Scheduler, 1, 45s)) << "the due batch was not started";
    const auto line = s.startsOf(Scheduler).at(0);
    const std::string batch = "/Batch=J+3<ChargerSquelette:0><NoStation:10><HeureDeb:06><HeureFin:09><OptDuree:1>";
    EXPECT_EQ(line.arguments, (std::vector<std::string>{batch, "/Veille=True"}));
    EXPECT_EQ(line.showState, "minimised");
    EXPECT_EQ(s.log().size(), 1u);
}
