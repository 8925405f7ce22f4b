// Periodic verification on the 250 ms tick, the per-tool "Vérifier" button,
// and what a wall clock moved by hand does to it.

#include <string>
#include <vector>

#include "tests/support/fake/SupervisionFixture.h"

namespace tolvane::testsupport {
namespace {

using namespace std::chrono;

class VerificationTest : public SupervisionTest {
protected:
    // Loading done and the launch sequence over, as after an ordinary start
    // with nothing to launch.
    void startSupervising() {
        load();
        supervision.LaunchFinished = true;
    }

    void verify(int tool, int period = 1) {
        rows.row(tool).check = 1;
        rows.row(tool).period = period;
    }
};

// --- The clock label -------------------------------------------------------------

TEST_F(VerificationTest, ClockShownOnEveryTickEvenBeforeTheLaunchSequenceEnds) {
    verify(6);
    load();
    supervision.NextCheck[6] = platform.now;  // due, but verification is not on yet
    platform.now = at(2025, 6, 9, 8, 0, 5);
    supervision.TimerCheck_Timer();
    EXPECT_EQ(rows.clockText, "08:00:05");
    platform.now = at(2025, 6, 9, 13, 4, 59);
    supervision.TimerCheck_Timer();
    EXPECT_EQ(rows.clockText, "13:04:59");
    EXPECT_EQ(rows.clockWrites, 2);
    EXPECT_TRUE(platform.starts.empty());
    EXPECT_EQ(platform.windowQueries, 0);
}

// --- What is due ------------------------------------------------------------------

TEST_F(VerificationTest, DueAtOrAfterNextCheckOnlyWithTheBoxTicked) {
    verify(0);
    verify(1);
    verify(2);
    rows.row(10).check = 2;  // greyed
    rows.row(11).check = 0;
    startSupervising();
    supervision.NextCheck[0] = platform.now;                // due exactly now
    supervision.NextCheck[1] = platform.now - seconds{90};  // overdue
    supervision.NextCheck[2] = platform.now + seconds{1};   // one second early
    supervision.NextCheck[10] = platform.now - seconds{90};
    supervision.NextCheck[11] = platform.now - seconds{90};
    supervision.TimerCheck_Timer();
    ASSERT_EQ(platform.starts.size(), 2u);
    EXPECT_EQ(platform.starts[0].applicationPath, exePath(0));
    EXPECT_EQ(platform.starts[1].applicationPath, exePath(1));
}

TEST_F(VerificationTest, DueToolIsVerifiedOncePerPeriod) {
    verify(6, 0);  // "01 Min"
    startSupervising();
    const auto due = supervision.NextCheck[6];
    std::vector<local_seconds> startedAt;
    for (auto t = due - seconds{2}; t <= due + seconds{130}; t += seconds{1}) {
        platform.now = t;
        const auto before = platform.starts.size();
        supervision.TimerCheck_Timer();
        if (platform.starts.size() != before) startedAt.push_back(t);
    }
    EXPECT_EQ(startedAt, (std::vector<local_seconds>{due, due + seconds{60}, due + seconds{120}}));
}

TEST_F(VerificationTest, RestartNeverCarriesTheStandbySwitch) {
    verify(6);
    rows.row(6).minimiser = 1;
    rows.row(6).arguments = "  /NoBase=0  ";
    startSupervising();
    platform.now = supervision.NextCheck[6];
    supervision.TimerCheck_Timer();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].arguments, "/NoBase=0");
    EXPECT_EQ(platform.starts[0].show, platform::ShowState::Minimised);
}

TEST_F(VerificationTest, RunningToolIsNotStartedAndIsRescheduled) {
    verify(6, 1);
    platform.windows = {"VX8_TOOLS_DATA"};
    startSupervising();
    platform.now = supervision.NextCheck[6] + seconds{3};
    supervision.TimerCheck_Timer();
    EXPECT_TRUE(platform.starts.empty());
    EXPECT_EQ(supervision.NextCheck[6], platform.now + minutes{5});
    EXPECT_EQ(rows.row(6).nextCheckText, "08:10:03");
}

TEST_F(VerificationTest, OffToolIsNeverStarted) {
    rows.row(6).check = 0;
    startSupervising();
    for (int h = 9; h < 20; ++h) {
        platform.now = at(2025, 6, 9, h, 0, 0);
        supervision.TimerCheck_Timer();
    }
    EXPECT_TRUE(platform.starts.empty());
}

TEST_F(VerificationTest, NoSelectionIsDueOnEveryTick) {
    verify(6, -1);
    startSupervising();
    supervision.NextCheck[6] = unsetNextCheck();
    supervision.TimerCheck_Timer();
    supervision.TimerCheck_Timer();
    supervision.TimerCheck_Timer();
    EXPECT_EQ(platform.starts.size(), 3u);
    EXPECT_EQ(supervision.NextCheck[6], unsetNextCheck());
    EXPECT_EQ(rows.row(6).nextCheckText, "00:00:00");
}

TEST_F(VerificationTest, ARefusedStartIsTriedAgainAtTheNextDueTime) {
    verify(6, 0);
    platform.refuseStarts = true;
    startSupervising();
    platform.now = supervision.NextCheck[6];
    supervision.TimerCheck_Timer();
    platform.now += seconds{30};
    supervision.TimerCheck_Timer();  // not due yet
    EXPECT_EQ(platform.starts.size(), 1u);
    platform.now += seconds{30};
    supervision.TimerCheck_Timer();
    EXPECT_EQ(platform.starts.size(), 2u);
}

TEST_F(VerificationTest, OneWindowSweepAnswersEveryDueToolOfATick) {
    verify(0);
    verify(12);
    verify(29);
    platform.windows = {"VX8_Player_A"};
    startSupervising();
    platform.now += minutes{5};
    supervision.TimerCheck_Timer();
    EXPECT_EQ(platform.windowQueries, 1);
    ASSERT_EQ(platform.starts.size(), 2u);
    EXPECT_EQ(platform.starts[0].applicationPath, exePath(0));
    EXPECT_EQ(platform.starts[1].applicationPath, exePath(29));
    // All three rescheduled, the running one too.
    for (const int i : {0, 12, 29}) EXPECT_EQ(supervision.NextCheck[i], platform.now + minutes{5}) << i;
    // A tick with nothing due asks the window list nothing.
    platform.now += seconds{1};
    supervision.TimerCheck_Timer();
    EXPECT_EQ(platform.windowQueries, 1);
}

// --- The "Vérifier" button ----------------------------------------------------------

TEST_F(VerificationTest, ButtonVerifiesAtOnceEvenDuringTheLaunchSequence) {
    rows.row(4).check = 1;
    rows.row(4).minimiser = 1;
    rows.row(4).arguments = " /Solo ";
    rows.row(4).period = 4;  // "30 Min"
    load();
    ASSERT_FALSE(supervision.LaunchFinished);
    platform.now = at(2025, 6, 9, 8, 0, 42);
    supervision.CommandImportNow_Click(4);
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].arguments, "/Solo");
    EXPECT_EQ(supervision.NextCheck[4], at(2025, 6, 9, 8, 30, 42));
    EXPECT_EQ(rows.row(4).nextCheckText, "08:30:42");
}

TEST_F(VerificationTest, ButtonWorksWithTheBoxUntickedAndNotDue) {
    rows.row(8).check = 0;
    startSupervising();
    supervision.CommandImportNow_Click(8);
    EXPECT_EQ(platform.starts.size(), 1u);
    supervision.CommandImportNow_Click(30);
    EXPECT_EQ(platform.starts.size(), 1u);
}

// --- Kill and come back --------------------------------------------------------------

TEST_F(VerificationTest, AKilledToolIsStartedAgainAtItsNextVerification) {
    verify(12, 1);
    platform.windows = {"VX8_Player_A"};
    platform.processes = {{100, std::string("VX8_Player_A") + platform::executableSuffix()}};
    startSupervising();
    const auto due = supervision.NextCheck[12];

    supervision.CommandKillProcess_Click(12);
    EXPECT_EQ(platform.kills, std::vector<std::string>{"VX8_Player_A"});
    platform.now = due - seconds{1};
    supervision.TimerCheck_Timer();
    EXPECT_TRUE(platform.starts.empty());

    platform.now = due;
    supervision.TimerCheck_Timer();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].applicationPath, exePath(12));
    EXPECT_EQ(platform.starts[0].arguments, "/NoBase=0");
}

// --- The wall clock moved by hand ------------------------------------------------------

TEST_F(VerificationTest, ClockSetBackPullsAFarNextCheckToOnePeriodFromNow) {
    verify(6, 1);  // "05 Min"
    startSupervising();
    ASSERT_EQ(supervision.NextCheck[6], at(2025, 6, 9, 8, 5, 0));
    platform.now = at(2025, 6, 9, 6, 0, 0);  // two hours back
    supervision.TimerCheck_Timer();
    EXPECT_TRUE(platform.starts.empty());
    EXPECT_EQ(supervision.NextCheck[6], at(2025, 6, 9, 6, 5, 0));
    EXPECT_EQ(rows.row(6).nextCheckText, "06:05:00");
    platform.now = at(2025, 6, 9, 6, 5, 0);
    supervision.TimerCheck_Timer();
    EXPECT_EQ(platform.starts.size(), 1u);
}

TEST_F(VerificationTest, ANextCheckWithinOnePeriodIsLeftAlone) {
    verify(6, 1);  // "05 Min"
    startSupervising();
    platform.now = at(2025, 6, 9, 7, 0, 0);
    for (const auto ahead : {minutes{5}, minutes{1}}) {  // exactly one period, and less
        supervision.NextCheck[6] = platform.now + ahead;
        const auto writes = rows.row(6).nextCheckWrites.size();
        supervision.TimerCheck_Timer();
        EXPECT_EQ(supervision.NextCheck[6], platform.now + ahead);
        EXPECT_EQ(rows.row(6).nextCheckWrites.size(), writes);
    }
}

TEST_F(VerificationTest, ClockSetBackAcrossMidnightStillBoundsTheWait) {
    verify(6, 6);  // "60 Min"
    platform.now = at(2025, 6, 10, 0, 30, 0);
    startSupervising();  // next at 01:30 on the 10th
    platform.now = at(2025, 6, 9, 23, 50, 0);
    supervision.TimerCheck_Timer();
    EXPECT_EQ(supervision.NextCheck[6], at(2025, 6, 10, 0, 50, 0));
    EXPECT_EQ(rows.row(6).nextCheckText, "00:50:00");
}

TEST_F(VerificationTest, ClockSetForwardMakesPassedVerificationsDueAtOnce) {
    verify(6, 6);  // "60 Min": due at 09:00
    verify(7, 1);  // due at 08:05
    startSupervising();
    platform.now = at(2025, 6, 9, 8, 30, 0);  // jumped past 08:05 only
    supervision.TimerCheck_Timer();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].applicationPath, exePath(7));
    EXPECT_EQ(supervision.NextCheck[7], at(2025, 6, 9, 8, 35, 0));
}

// --- Verification switched on and off ----------------------------------------------------

TEST_F(VerificationTest, SwitchingOnUsesTheStoredTimeAndSwitchingOffStops) {
    startSupervising();
    supervision.NextCheck[6] = platform.now - minutes{1};  // already past
    rows.row(6).check = 1;
    supervision.CheckCheck_Click(6);
    EXPECT_EQ(supervision.NextCheck[6], platform.now - minutes{1});
    supervision.TimerCheck_Timer();
    EXPECT_EQ(platform.starts.size(), 1u);

    rows.row(6).check = 0;
    supervision.CheckCheck_Click(6);
    platform.now += hours{2};
    supervision.TimerCheck_Timer();
    EXPECT_EQ(platform.starts.size(), 1u);
}

TEST_F(VerificationTest, ChoosingAPeriodRestartsTheCountdownFromTheChoice) {
    verify(6, 1);
    startSupervising();
    platform.now = at(2025, 6, 9, 8, 4, 0);
    rows.row(6).period = 0;  // "01 Min"
    supervision.ComboFrequenceVerification_Click(6);
    EXPECT_EQ(supervision.NextCheck[6], at(2025, 6, 9, 8, 5, 0));
    EXPECT_EQ(rows.row(6).nextCheckText, "08:05:00");
    platform.now = at(2025, 6, 9, 8, 4, 59);
    supervision.TimerCheck_Timer();
    EXPECT_TRUE(platform.starts.empty());
    platform.now = at(2025, 6, 9, 8, 5, 0);
    supervision.TimerCheck_Timer();
    EXPECT_EQ(platform.starts.size(), 1u);
}

}  // namespace
}  // namespace tolvane::testsupport
