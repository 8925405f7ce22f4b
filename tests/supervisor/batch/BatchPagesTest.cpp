// The Scheduler and Planner pages and the thirty-second batch clock, over the
// fake platform, an in-memory store and fake controls.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/MonotonicTickCount.h"
#include "platform/fake/FakePlatform.h"
#include "supervisor/batch/BatchPages.h"
#include "supervisor/settings/SettingsStore.h"
#include "tests/support/fake/FakeToolRows.h"

namespace tolvane::testsupport {
namespace {

using namespace std::chrono;
using platform::ShowState;
using Write = std::pair<MemorySettingsStore::Key, std::string>;

local_seconds at(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
    return local_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

// Monday 9 June 2025 at h:m:s, and the days after it.
local_seconds mon(int h, int m, int s = 0) { return at(2025, 6, 9, h, m, s); }

const std::string kBasePath = "/opt/vantorix/";

std::string exe(const std::string& baseName) { return kBasePath + baseName + platform::executableSuffix(); }

// Both pages' controls, as a first run fills them.
class FakeBatchView final : public BatchPagesView {
public:
    std::array<int, 8> schedulerDays{};
    std::array<int, 2> schedulerTimings{0, 0};
    std::array<int, 2> schedulerHeures{0, 23};
    int station = 0;
    int schedulerJ = 0;
    int reprogrammer = 1;
    int optDuree = 1;
    std::vector<bool> schedulerActiveCalls;
    std::string schedulerNext = "...";

    std::array<int, 8> plannerDays{};
    std::array<int, 2> plannerTimings{0, 0};
    int plannerJ = 0;
    int dayCount = 0;
    std::string dayCountText = "  001";
    int replanifier = 1;
    std::vector<bool> plannerActiveCalls;
    std::string plannerNext = "...";

    int schedulerDay(int element) override { return schedulerDays.at(static_cast<std::size_t>(element)); }
    int schedulerTiming(int which) override { return schedulerTimings.at(static_cast<std::size_t>(which)); }
    int schedulerHeure(int which) override { return schedulerHeures.at(static_cast<std::size_t>(which)); }
    int schedulerStation() override { return station; }
    int schedulerDayOffset() override { return schedulerJ; }
    int schedulerReprogrammer() override { return reprogrammer; }
    int schedulerOptDuree() override { return optDuree; }
    void setSchedulerPageActive(bool active) override { schedulerActiveCalls.push_back(active); }
    void setSchedulerNextText(const std::string& text) override { schedulerNext = text; }

    int plannerDay(int element) override { return plannerDays.at(static_cast<std::size_t>(element)); }
    int plannerTiming(int which) override { return plannerTimings.at(static_cast<std::size_t>(which)); }
    int plannerDayOffset() override { return plannerJ; }
    int plannerDayCount() override { return dayCount; }
    std::string plannerDayCountText() override { return dayCountText; }
    int plannerReplanifier() override { return replanifier; }
    void setPlannerPageActive(bool active) override { plannerActiveCalls.push_back(active); }
    void setPlannerNextText(const std::string& text) override { plannerNext = text; }

    // Stands in for the system's long date format; any text that names the
    // whole date will do.
    std::string longDate(year_month_day date) override {
        char text[32];
        std::snprintf(text, sizeof text, "date %04d-%02u-%02u", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
        return text;
    }
};

class BatchPagesTest : public ::testing::Test {
protected:
    BatchPagesTest() {
        supervision.BasePath = kBasePath;
        platform.now = mon(9, 0);
        pages.HeureRedemarrage = at(2025, 6, 10, 4, 7, 0);
    }

    // The Scheduler page active for `weekday` (1 Monday .. 7 Sunday) at h:q.
    void armScheduler(int weekday, int hour, int quarter) {
        view.schedulerDays[0] = 1;
        view.schedulerDays.at(static_cast<std::size_t>(weekday)) = 1;
        view.schedulerTimings = {hour, quarter};
        pages.ProchainBatchScheduler();
    }
    void armPlanner(int weekday, int hour, int quarter) {
        view.plannerDays[0] = 1;
        view.plannerDays.at(static_cast<std::size_t>(weekday)) = 1;
        view.plannerTimings = {hour, quarter};
        pages.ProchainBatchPlanner();
    }

    // Batch-clock ticks every 30 s from `from` to `to`; the times of the
    // ticks at which anything was started.
    std::vector<local_seconds> runClock(local_seconds from, local_seconds to) {
        std::vector<local_seconds> startTicks;
        for (local_seconds t = from; t <= to; t += seconds{30}) {
            platform.now = t;
            const auto before = platform.starts.size();
            EXPECT_EQ(pages.Timer30s_Timer(), BatchPages::TickOutcome::Continue);
            if (platform.starts.size() != before) startTicks.push_back(t);
        }
        return startTicks;
    }

    platform::FakePlatform platform;
    MemorySettingsStore settings;
    FakeToolRows rows{&settings};
    MonotonicTickCount tickCount{[this] { return platform.tick; }};
    ToolSupervision supervision{platform, settings, rows, tickCount};
    FakeBatchView view;
    BatchPages pages{platform, settings, view, rows, supervision};
};

// --- Page state ---------------------------------------------------------------------

TEST_F(BatchPagesTest, ActifSwitchesTheSchedulerPageAndIsStored) {
    view.schedulerDays[0] = 1;
    pages.CheckSchedulerJour_Click(0);
    view.schedulerDays[0] = 0;
    pages.CheckSchedulerJour_Click(0);
    view.schedulerDays[0] = 2;  // greyed counts as clear
    pages.CheckSchedulerJour_Click(0);
    EXPECT_EQ(view.schedulerActiveCalls, (std::vector<bool>{true, false, false}));
    EXPECT_EQ(settings.writes, (std::vector<Write>{{{"CheckSchedulerJour", "Idx_0"}, "1"},
                                                   {{"CheckSchedulerJour", "Idx_0"}, "0"},
                                                   {{"CheckSchedulerJour", "Idx_0"}, "2"}}));
}

TEST_F(BatchPagesTest, ActifSwitchesThePlannerPageAndIsStored) {
    view.plannerDays[0] = 1;
    pages.CheckPlannerJour_Click(0);
    view.plannerDays[0] = 0;
    pages.CheckPlannerJour_Click(0);
    EXPECT_EQ(view.plannerActiveCalls, (std::vector<bool>{true, false}));
    EXPECT_EQ(settings.values.at({"CheckPlannerJour", "Idx_0"}), "0");
    EXPECT_TRUE(view.schedulerActiveCalls.empty());
}

TEST_F(BatchPagesTest, ADayBoxRecomputesButLeavesThePageState) {
    view.schedulerDays[0] = 1;
    view.schedulerDays[3] = 1;  // Wednesday
    view.schedulerTimings = {6, 1};
    pages.CheckSchedulerJour_Click(3);
    EXPECT_TRUE(view.schedulerActiveCalls.empty());
    EXPECT_EQ(settings.writes, (std::vector<Write>{{{"CheckSchedulerJour", "Idx_3"}, "1"}}));
    EXPECT_TRUE(pages.Scheduler.armed);
    EXPECT_EQ(pages.Scheduler.next, at(2025, 6, 11, 6, 15));
    EXPECT_EQ(view.schedulerNext, "date 2025-06-11 06h 15");
}

TEST_F(BatchPagesTest, DayIndexesOutsideThePageDoNothing) {
    pages.CheckSchedulerJour_Click(8);
    pages.CheckSchedulerJour_Click(-1);
    pages.CheckPlannerJour_Click(8);
    EXPECT_TRUE(settings.writes.empty());
    EXPECT_EQ(view.schedulerNext, "...");
}

// --- The next instant ------------------------------------------------------------------

TEST_F(BatchPagesTest, ActiveWithADayArmsAndShowsTheInstant) {
    platform.now = mon(9, 0);
    armScheduler(1, 10, 1);  // Monday 10:15, later today
    EXPECT_TRUE(pages.Scheduler.armed);
    EXPECT_EQ(pages.Scheduler.next, mon(10, 15));
    EXPECT_EQ(view.schedulerNext, "date 2025-06-09 10h 15");
}

TEST_F(BatchPagesTest, LabelHasTwoDigitHoursAndMinutes) {
    armPlanner(5, 4, 2);  // Friday 04:30
    EXPECT_TRUE(pages.Planner.armed);
    EXPECT_EQ(view.plannerNext, "date 2025-06-13 04h 30");
}

TEST_F(BatchPagesTest, ATimePassedTodayGoesToNextWeek) {
    platform.now = mon(10, 16);
    armScheduler(1, 10, 1);
    EXPECT_EQ(pages.Scheduler.next, at(2025, 6, 16, 10, 15));
}

TEST_F(BatchPagesTest, TheEarliestTickedDayWins) {
    platform.now = at(2025, 6, 12, 12, 0);          // Thursday
    view.schedulerDays = {1, 1, 0, 0, 0, 0, 1, 0};  // Monday and Saturday
    view.schedulerTimings = {8, 0};
    pages.ProchainBatchScheduler();
    EXPECT_EQ(pages.Scheduler.next, at(2025, 6, 14, 8, 0));
}

TEST_F(BatchPagesTest, InactivePageIsUnarmedWithAnEmptyLabelEvenWithDays) {
    armScheduler(1, 10, 1);
    ASSERT_TRUE(pages.Scheduler.armed);
    view.schedulerDays[0] = 0;
    pages.CheckSchedulerJour_Click(0);
    EXPECT_FALSE(pages.Scheduler.armed);
    EXPECT_EQ(view.schedulerNext, "");
}

TEST_F(BatchPagesTest, ActiveWithoutADayIsUnarmedWithAnEmptyLabel) {
    view.plannerDays[0] = 1;
    pages.CheckPlannerJour_Click(0);
    EXPECT_FALSE(pages.Planner.armed);
    EXPECT_EQ(view.plannerNext, "");
}

TEST_F(BatchPagesTest, GreyedDayBoxIsNotTicked) {
    view.schedulerDays[0] = 1;
    view.schedulerDays[2] = 2;
    pages.ProchainBatchScheduler();
    EXPECT_FALSE(pages.Scheduler.armed);
}

TEST_F(BatchPagesTest, StartTimeChangesAreStoredAndRecompute) {
    armScheduler(2, 10, 0);  // Tuesday 10:00
    view.schedulerTimings = {11, 3};
    pages.ComboSchedulerTiming_Click(0);
    pages.ComboSchedulerTiming_Click(1);
    EXPECT_EQ(settings.writes, (std::vector<Write>{{{"CheckSchedulerTiming", "Idx_0"}, "11"},
                                                   {{"CheckSchedulerTiming", "Idx_1"}, "3"}}));
    EXPECT_EQ(pages.Scheduler.next, at(2025, 6, 10, 11, 45));
    EXPECT_EQ(view.schedulerNext, "date 2025-06-10 11h 45");

    armPlanner(2, 10, 0);
    view.plannerTimings = {7, 2};
    pages.ComboPlannerTiming_Click(1);
    EXPECT_EQ(settings.values.at({"CheckPlannerTiming", "Idx_1"}), "2");
    EXPECT_EQ(pages.Planner.next, at(2025, 6, 10, 7, 30));
}

// --- What the other controls store -------------------------------------------------------

TEST_F(BatchPagesTest, SchedulerOptionsAreStoredUnderTheirKeys) {
    view.schedulerHeures = {6, 18};
    pages.ComboSchedulerHeure_Click(0);
    pages.ComboSchedulerHeure_Click(1);
    pages.ComboSchedulerHeure_Click(2);  // no such list: nothing
    view.station = 4;
    pages.ComboSchedulerNoStation_Click();
    view.schedulerJ = 2;
    pages.ComboSchedulerJ_Click();
    view.reprogrammer = 0;
    pages.CheckSchedulerReprogrammer_Click();
    view.optDuree = 0;
    pages.CheckSchedulerOptDuree_Click();
    EXPECT_EQ(settings.writes, (std::vector<Write>{{{"CheckSchedulerHeure", "Idx_0"}, "6"},
                                                   {{"CheckSchedulerHeure", "Idx_1"}, "18"},
                                                   {{"CheckSchedulerNoStation", "Index"}, "4"},
                                                   {{"CheckSchedulerJ", "Nb"}, "2"},
                                                   {{"CheckSchedulerReprogrammer", "Actif"}, "0"},
                                                   {{"CheckSchedulerOptDuree", "Actif"}, "0"}}));
    EXPECT_FALSE(pages.Scheduler.armed);  // none of them plans anything
}

TEST_F(BatchPagesTest, PlannerOptionsAreStoredUnderTheirKeys) {
    view.plannerJ = 2;  // " 3"
    pages.ComboPlannerJ_Change();
    view.dayCount = 6;
    pages.ComboPlannerNbJour_Click();
    view.replanifier = 0;
    pages.CheckPlannerReplanifier_Click();
    EXPECT_EQ(settings.writes, (std::vector<Write>{{{"CheckPlannerJ", "Nb"}, "2"},
                                                   {{"CheckPlannerNbJour", "Index"}, "6"},
                                                   {{"CheckPlannerReplanifier", "Actif"}, "0"}}));
}

// --- Batch command lines -----------------------------------------------------------------

TEST_F(BatchPagesTest, SchedulerDefaultsInStandbyWhenItsMinimiserIsTicked) {
    rows.row(2).minimiser = 1;
    pages.CommandSchedulerTest_Click();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].applicationPath, exe("VX8_Tools_Scheduler"));
    EXPECT_EQ(platform.starts[0].arguments,
              "/Batch=J+1<ChargerSquelette:1><NoStation:1><HeureDeb:00><HeureFin:23><OptDuree:1> /Veille=True");
    EXPECT_EQ(platform.starts[0].show, ShowState::Minimised);
}

TEST_F(BatchPagesTest, SchedulerWithEveryOptionChangedAndNoStandby) {
    rows.row(2).minimiser = 0;
    rows.row(3).minimiser = 1;  // the Planner's box has no say here
    view.reprogrammer = 0;
    view.station = 4;
    view.schedulerHeures = {6, 18};
    view.optDuree = 0;
    view.schedulerJ = 2;
    pages.CommandSchedulerTest_Click();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].arguments,
              "/Batch=J+3<ChargerSquelette:0><NoStation:5><HeureDeb:06><HeureFin:18><OptDuree:0>");
}

TEST_F(BatchPagesTest, SchedulerListsWithoutSelection) {
    view.station = -1;
    view.schedulerHeures = {-1, -1};
    view.schedulerJ = -1;
    pages.CommandSchedulerTest_Click();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].arguments,
              "/Batch=J+0<ChargerSquelette:1><NoStation:0><HeureDeb:-1><HeureFin:-1><OptDuree:1>");
}

TEST_F(BatchPagesTest, SchedulerGreyedMinimiserStartsNothingButStillStoresTheOption) {
    rows.row(2).minimiser = 2;
    view.optDuree = 0;
    pages.CommandSchedulerTest_Click();
    EXPECT_TRUE(platform.starts.empty());
    EXPECT_EQ(settings.writes, (std::vector<Write>{{{"CheckSchedulerOptDuree", "Actif"}, "0"}}));
}

TEST_F(BatchPagesTest, SchedulerStartWritesTheDurationOptionOnly) {
    pages.CommandSchedulerTest_Click();
    EXPECT_EQ(settings.writes, (std::vector<Write>{{{"CheckSchedulerOptDuree", "Actif"}, "1"}}));
}

TEST_F(BatchPagesTest, PlannerReadsTheDayCountFromTheShownText) {
    rows.row(3).minimiser = 1;
    view.dayCountText = "  007";
    view.dayCount = 3;  // the index is not what is sent
    pages.CommandPlannerTest_Click();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].applicationPath, exe("VX8_Tools_Planner"));
    EXPECT_EQ(platform.starts[0].arguments, "/Batch=J+1<Replanifier:1><NbJourAPlanifier:7> /Veille=True");
    EXPECT_TRUE(settings.writes.empty());
}

TEST_F(BatchPagesTest, PlannerWithoutSelectionsAndNoStandby) {
    rows.row(3).minimiser = 0;
    view.dayCountText = "";
    view.plannerJ = -1;
    view.replanifier = 0;
    pages.CommandPlannerTest_Click();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].arguments, "/Batch=J+0<Replanifier:0><NbJourAPlanifier:0>");
}

TEST_F(BatchPagesTest, PlannerGreyedMinimiserStartsNothing) {
    rows.row(3).minimiser = 2;
    rows.row(2).minimiser = 1;
    pages.CommandPlannerTest_Click();
    EXPECT_TRUE(platform.starts.empty());
}

TEST_F(BatchPagesTest, ABatchStartIgnoresWhetherTheToolRuns) {
    platform.windows = {"VX8_Tools_Scheduler"};
    pages.CommandSchedulerTest_Click();
    EXPECT_EQ(platform.starts.size(), 1u);
}

// --- The daily restart -------------------------------------------------------------------

TEST_F(BatchPagesTest, KrandelPresentIsStartedAndTheTickEndsTolvane) {
    platform.files = {exe("Krandel")};
    armScheduler(2, 4, 0);  // Tuesday 04:00, due at the same tick
    platform.now = at(2025, 6, 10, 4, 7, 20);
    EXPECT_EQ(pages.Timer30s_Timer(), BatchPages::TickOutcome::EndForRestart);
    ASSERT_EQ(platform.starts.size(), 1u);  // the batch pages were not handled
    EXPECT_EQ(platform.starts[0].applicationPath, exe("Krandel"));
    EXPECT_EQ(platform.starts[0].arguments, "");
    EXPECT_EQ(platform.starts[0].show, ShowState::Normal);
    EXPECT_EQ(platform.starts[0].workingFolder, kBasePath);
    EXPECT_FALSE(pages.Scheduler.started);
}

TEST_F(BatchPagesTest, RestartOnlyOnceTheInstantHasPassed) {
    platform.files = {exe("Krandel")};
    platform.now = at(2025, 6, 10, 4, 7, 0);  // equal is not later
    EXPECT_EQ(pages.Timer30s_Timer(), BatchPages::TickOutcome::Continue);
    EXPECT_TRUE(platform.starts.empty());
    EXPECT_EQ(pages.HeureRedemarrage, at(2025, 6, 10, 4, 7, 0));
}

TEST_F(BatchPagesTest, WithoutKrandelTolvaneGoesOnAndTriesTomorrow) {
    platform.files = {kBasePath + "Krandel.bak", "/elsewhere/Krandel"};
    armScheduler(2, 4, 0);
    platform.now = at(2025, 6, 10, 4, 7, 20);
    EXPECT_EQ(pages.Timer30s_Timer(), BatchPages::TickOutcome::Continue);
    EXPECT_EQ(pages.HeureRedemarrage, at(2025, 6, 11, 4, 7, 0));
    // The same tick still handles the pages.
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].applicationPath, exe("VX8_Tools_Scheduler"));

    // Krandel appearing later in the day changes nothing until tomorrow.
    platform.files.insert(exe("Krandel"));
    platform.now = at(2025, 6, 10, 12, 0, 0);
    EXPECT_EQ(pages.Timer30s_Timer(), BatchPages::TickOutcome::Continue);
    platform.now = at(2025, 6, 11, 4, 7, 10);
    EXPECT_EQ(pages.Timer30s_Timer(), BatchPages::TickOutcome::EndForRestart);
}

TEST_F(BatchPagesTest, AKrandelThatCannotBeStartedLeavesTolvaneRunning) {
    platform.files = {exe("Krandel")};
    platform.refuseStarts = true;
    armPlanner(2, 4, 0);
    platform.now = at(2025, 6, 10, 4, 7, 20);
    EXPECT_EQ(pages.Timer30s_Timer(), BatchPages::TickOutcome::Continue);
    EXPECT_EQ(pages.HeureRedemarrage, at(2025, 6, 11, 4, 7, 0));
    ASSERT_EQ(platform.starts.size(), 2u);
    EXPECT_EQ(platform.starts[0].applicationPath, exe("Krandel"));
    EXPECT_EQ(platform.starts[1].applicationPath, exe("VX8_Tools_Planner"));
    // Not retried at the next tick.
    platform.now += seconds{30};
    EXPECT_EQ(pages.Timer30s_Timer(), BatchPages::TickOutcome::Continue);
    EXPECT_EQ(platform.starts.size(), 2u);
}

// --- The batches on the clock ----------------------------------------------------------------

TEST_F(BatchPagesTest, APageStartsOnceAndReplansMoreThan120SecondsLater) {
    armScheduler(1, 10, 1);  // Monday 10:15
    const auto startTicks = runClock(mon(10, 14, 40), mon(10, 17, 10));
    EXPECT_EQ(startTicks, std::vector<local_seconds>{mon(10, 15, 10)});
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].applicationPath, exe("VX8_Tools_Scheduler"));
    // 10:17:10 is exactly 120 s after the start: not yet replanned.
    EXPECT_EQ(view.schedulerNext, "date 2025-06-09 10h 15");

    runClock(mon(10, 17, 40), mon(10, 17, 40));
    EXPECT_EQ(pages.Scheduler.next, at(2025, 6, 16, 10, 15));
    EXPECT_EQ(view.schedulerNext, "date 2025-06-16 10h 15");
    EXPECT_TRUE(pages.Scheduler.armed);

    // Nothing more for the rest of the week, and the start a week later.
    EXPECT_TRUE(runClock(mon(10, 18, 10), mon(12, 0)).empty());
    EXPECT_EQ(runClock(at(2025, 6, 16, 10, 14, 40), at(2025, 6, 16, 10, 16, 0)),
              std::vector<local_seconds>{at(2025, 6, 16, 10, 15, 10)});
}

TEST_F(BatchPagesTest, TheTickAtTheInstantItselfDoesNotStart) {
    armPlanner(1, 10, 1);
    EXPECT_EQ(runClock(mon(10, 14, 30), mon(10, 15, 30)), std::vector<local_seconds>{mon(10, 15, 30)});
}

TEST_F(BatchPagesTest, BothDueInOneTickSchedulerFirst) {
    armPlanner(1, 10, 1);
    armScheduler(1, 10, 1);
    platform.now = mon(10, 15, 20);
    EXPECT_EQ(pages.Timer30s_Timer(), BatchPages::TickOutcome::Continue);
    ASSERT_EQ(platform.starts.size(), 2u);
    EXPECT_EQ(platform.starts[0].applicationPath, exe("VX8_Tools_Scheduler"));
    EXPECT_EQ(platform.starts[1].applicationPath, exe("VX8_Tools_Planner"));
}

TEST_F(BatchPagesTest, UnarmedPagesNeverStart) {
    // Scheduler: days ticked but the page inactive. Planner: active, no day.
    view.schedulerDays = {0, 1, 1, 1, 1, 1, 1, 1};
    pages.ProchainBatchScheduler();
    view.plannerDays[0] = 1;
    pages.ProchainBatchPlanner();
    EXPECT_TRUE(runClock(mon(0, 0, 10), at(2025, 6, 10, 0, 0)).empty());
}

TEST_F(BatchPagesTest, APageMadeInactiveBeforeItsInstantDoesNotStart) {
    armScheduler(1, 10, 1);
    runClock(mon(10, 0), mon(10, 10));
    view.schedulerDays[0] = 0;
    pages.CheckSchedulerJour_Click(0);
    EXPECT_TRUE(runClock(mon(10, 10, 30), mon(10, 30)).empty());
}

TEST_F(BatchPagesTest, AfterSleepingAcrossInstantsOneBatchStarts) {
    armScheduler(1, 10, 1);
    // The machine slept from Monday 10:00 to Wednesday noon.
    EXPECT_EQ(runClock(at(2025, 6, 11, 12, 0), at(2025, 6, 11, 12, 10)),
              std::vector<local_seconds>{at(2025, 6, 11, 12, 0)});
    EXPECT_EQ(pages.Scheduler.next, at(2025, 6, 16, 10, 15));
}

TEST_F(BatchPagesTest, AFailedBatchStartIsNotRetriedUntilTheNextInstant) {
    armScheduler(1, 10, 1);
    platform.refuseStarts = true;
    runClock(mon(10, 15, 10), mon(10, 30));
    EXPECT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(pages.Scheduler.next, at(2025, 6, 16, 10, 15));
}

// --- The repeated hour of the autumn change ------------------------------------------------

// Sunday 26 October 2025: the wall clock runs 02:00 to 02:59 twice. Each page
// is ticked for Sunday 02:15; `awakeFrom` is the first tick of the first pass
// (a machine asleep until then starts the batch late, and the clocks go back
// before the page is replanned). At the second 02:10 the operator may pick a
// quarter and click the Sunday box.
struct RepeatedHourCase {
    const char* what;
    bool planner;
    local_seconds awakeFrom;
    int quarterClicked;  // -1: no click
    local_seconds plannedByClick;
    std::vector<local_seconds> firstPassStarts, secondPassStarts;
    local_seconds nextWeek;  // the instant planned after the night
    const char* label;       // and shown
};
void PrintTo(const RepeatedHourCase& c, std::ostream* os) { *os << c.what; }

class RepeatedHour : public BatchPagesTest, public ::testing::WithParamInterface<RepeatedHourCase> {};

TEST_P(RepeatedHour, EachLocalInstantStartsOnceAndNextWeekStillStarts) {
    const RepeatedHourCase& c = GetParam();
    const auto sun = [](int h, int m, int s = 0) { return at(2025, 10, 26, h, m, s); };
    BatchPageClock& clock = c.planner ? pages.Planner : pages.Scheduler;
    platform.now = at(2025, 10, 25, 12, 0);
    if (c.planner)
        armPlanner(7, 2, 1);
    else
        armScheduler(7, 2, 1);

    EXPECT_EQ(runClock(c.awakeFrom, sun(2, 59, 50)), c.firstPassStarts);
    std::vector<local_seconds> second = runClock(sun(2, 0), sun(2, 10));  // the clocks went back
    if (c.quarterClicked >= 0) {
        platform.now = sun(2, 10, 5);
        (c.planner ? view.plannerTimings : view.schedulerTimings)[1] = c.quarterClicked;
        if (c.planner)
            pages.CheckPlannerJour_Click(7);
        else
            pages.CheckSchedulerJour_Click(7);
        EXPECT_EQ(clock.next, c.plannedByClick);
    }
    for (auto t : runClock(sun(2, 10, 30), sun(3, 30))) second.push_back(t);
    EXPECT_EQ(second, c.secondPassStarts);

    EXPECT_EQ(clock.next, c.nextWeek);
    EXPECT_EQ(c.planner ? view.plannerNext : view.schedulerNext, c.label);
    EXPECT_EQ(runClock(c.nextWeek - seconds{20}, c.nextWeek + seconds{60}),
              std::vector<local_seconds>{c.nextWeek + seconds{10}});
}

INSTANTIATE_TEST_SUITE_P(AutumnChange, RepeatedHour,
                         ::testing::Values(RepeatedHourCase{"Scheduler day box clicked",
                                                            false,
                                                            at(2025, 10, 26, 1, 59, 40),
                                                            1,
                                                            at(2025, 11, 2, 2, 15),
                                                            {at(2025, 10, 26, 2, 15, 10)},
                                                            {},
                                                            at(2025, 11, 2, 2, 15),
                                                            "date 2025-11-02 02h 15"},
                                           RepeatedHourCase{"Planner day box clicked",
                                                            true,
                                                            at(2025, 10, 26, 1, 59, 40),
                                                            1,
                                                            at(2025, 11, 2, 2, 15),
                                                            {at(2025, 10, 26, 2, 15, 10)},
                                                            {},
                                                            at(2025, 11, 2, 2, 15),
                                                            "date 2025-11-02 02h 15"},
                                           RepeatedHourCase{"woken late, clocks back before the replan",
                                                            false,
                                                            at(2025, 10, 26, 2, 59, 50),
                                                            -1,
                                                            {},
                                                            {at(2025, 10, 26, 2, 59, 50)},
                                                            {},
                                                            at(2025, 11, 2, 2, 15),
                                                            "date 2025-11-02 02h 15"},
                                           // 02:30 went by in the first pass without a batch: this is its first start.
                                           RepeatedHourCase{"moved to a quarter not started yet",
                                                            true,
                                                            at(2025, 10, 26, 1, 59, 40),
                                                            2,
                                                            at(2025, 10, 26, 2, 30),
                                                            {at(2025, 10, 26, 2, 15, 10)},
                                                            {at(2025, 10, 26, 2, 30, 30)},
                                                            at(2025, 11, 2, 2, 30),
                                                            "date 2025-11-02 02h 30"}));

}  // namespace
}  // namespace tolvane::testsupport
