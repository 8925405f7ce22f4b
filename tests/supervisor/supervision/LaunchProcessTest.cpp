// Starting one tool, starting it only when absent, and killing it.

#include "tests/support/fake/SupervisionFixture.h"

namespace tolvane::testsupport {
namespace {

using namespace std::chrono;
using platform::ShowState;

class LaunchProcessTest : public SupervisionTest {};

TEST_F(LaunchProcessTest, StandbyAppendsTheSwitchAfterTheArguments) {
    EXPECT_TRUE(supervision.LaunchProcess(2, true, "/Batch=J+"));
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].applicationPath, exePath(2));
    EXPECT_EQ(platform.starts[0].arguments, "/Batch=J+ /Veille=True");
}

TEST_F(LaunchProcessTest, StandbyWithTheSwitchAlreadyInLowerCaseAddsNothing) {
    supervision.LaunchProcess(0, true, "/NoBase=0 /veille=true");
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].arguments, "/NoBase=0 /veille=true");
}

TEST_F(LaunchProcessTest, StandbyWithoutArgumentsPassesTheSwitchAlone) {
    supervision.LaunchProcess(4, true, "");
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].applicationPath, exePath(4));
    EXPECT_EQ(platform.starts[0].arguments, "/Veille=True");
}

TEST_F(LaunchProcessTest, NoStandbyAndNoArgumentsPassesNothing) {
    supervision.LaunchProcess(4, false, "");
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].applicationPath, exePath(4));
    EXPECT_EQ(platform.starts[0].arguments, "");
}

TEST_F(LaunchProcessTest, ArgumentsAreUsedExactlyAsPassed) {
    supervision.LaunchProcess(1, false, "   ");
    supervision.LaunchProcess(1, false, " /NoBase=0 ");
    ASSERT_EQ(platform.starts.size(), 2u);
    EXPECT_EQ(platform.starts[0].arguments, "   ");
    EXPECT_EQ(platform.starts[1].arguments, " /NoBase=0 ");
}

TEST_F(LaunchProcessTest, EveryStartIsMinimisedWhateverStandbySays) {
    supervision.LaunchProcess(12, true, "/NoBase=0");
    supervision.LaunchProcess(12, false, "/NoBase=0");
    ASSERT_EQ(platform.starts.size(), 2u);
    EXPECT_EQ(platform.starts[0].show, ShowState::Minimised);
    EXPECT_EQ(platform.starts[1].show, ShowState::Minimised);
    EXPECT_EQ(platform.starts[0].applicationPath, exePath(12));
}

TEST_F(LaunchProcessTest, AFolderWithBlanksIsPassedAsThePathNotSplitAndIsTheToolsWorkingFolder) {
    supervision.BasePath = "/srv/radio station/";
    supervision.LaunchProcess(0, false, "/NoBase=0");
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].applicationPath,
              std::string("/srv/radio station/VX8_Library") + platform::executableSuffix());
    EXPECT_EQ(platform.starts[0].arguments, "/NoBase=0");
    EXPECT_EQ(platform.starts[0].workingFolder, "/srv/radio station/");
}

TEST_F(LaunchProcessTest, IndexesOutsideTheTableStartNothing) {
    EXPECT_FALSE(supervision.LaunchProcess(-1, true, "/NoBase=0"));
    EXPECT_FALSE(supervision.LaunchProcess(30, false, ""));
    EXPECT_TRUE(platform.starts.empty());
}

TEST_F(LaunchProcessTest, ARefusedStartIsReportedToTheCaller) {
    platform.refuseStarts = true;
    EXPECT_FALSE(supervision.LaunchProcess(0, false, ""));
    EXPECT_EQ(platform.starts.size(), 1u);  // it was asked for
    // A start that did not happen is not counted for the monitoring.
    EXPECT_EQ(supervision.StartCounts[0], (std::array<std::uint64_t, StartWayCount>{}));
    EXPECT_FALSE(supervision.LastStart[0]);
}

// Each journal event of a start counts as one way; the restart after an end
// is a restart on freeze when Tolvane ended the tool for not answering.
TEST(StartWay, FromTheStartsJournalEvent) {
    using E = JournalEvent;
    const struct {
        E event;
        bool afterFreezeKill;
        std::optional<StartWay> way;
    } cases[] = {
        {E::ToolStartedByLaunchSequence, false, StartWay::Launch},
        {E::ToolStartedByCheckButton, true, StartWay::Button},
        {E::ToolStartedByBatch, false, StartWay::Batch},
        {E::ToolRestartedByVerification, true, StartWay::Verification},
        {E::ToolRestartedAfterEnd, false, StartWay::End},
        {E::ToolRestartedAfterEnd, true, StartWay::Freeze},
        {E::ToolStartRefused, false, std::nullopt},
        {E::ToolKilled, false, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(startWay(c.event, c.afterFreezeKill), c.way) << static_cast<int>(c.event);
}

// --- CheckProcess ---------------------------------------------------------------

class CheckProcessTest : public SupervisionTest {};

TEST_F(CheckProcessTest, AbsentToolIsStartedAndRescheduledOnePeriodAhead) {
    rows.row(6).period = 1;  // "05 Min"
    supervision.CheckProcess(6, true, "/NoBase=0");
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].applicationPath, exePath(6));
    EXPECT_EQ(platform.starts[0].arguments, "/NoBase=0 /Veille=True");
    EXPECT_EQ(supervision.NextCheck[6], at(2025, 6, 9, 8, 5, 0));
    EXPECT_EQ(rows.row(6).nextCheckText, "08:05:00");
}

TEST_F(CheckProcessTest, RunningToolIsNotStartedButStillRescheduledAndShown) {
    platform.windows = {"vx8_tools_data"};  // titles compare without regard to case
    rows.row(6).period = 3;                 // "20 Min"
    platform.now = at(2025, 6, 9, 23, 50, 7);
    supervision.CheckProcess(6, false, "/NoBase=0");
    EXPECT_TRUE(platform.starts.empty());
    EXPECT_EQ(supervision.NextCheck[6], at(2025, 6, 10, 0, 10, 7));
    EXPECT_EQ(rows.row(6).nextCheckText, "00:10:07");
}

TEST_F(CheckProcessTest, AWindowOfAnotherToolDoesNotCount) {
    platform.windows = {"VX8_Player"};
    supervision.CheckProcess(12, false, "");
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].applicationPath, exePath(12));
}

TEST_F(CheckProcessTest, NoSelectionLeavesNextCheckAndShowsItUnchanged) {
    rows.row(9).period = -1;
    const auto before = at(2025, 6, 9, 7, 58, 30);
    supervision.NextCheck[9] = before;
    supervision.CheckProcess(9, false, "");
    EXPECT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(supervision.NextCheck[9], before);
    EXPECT_EQ(rows.row(9).nextCheckWrites, std::vector<std::string>{"07:58:30"});
}

TEST_F(CheckProcessTest, APeriodBeyondTheTableIsNoSelection) {
    rows.row(9).period = 7;
    supervision.NextCheck[9] = at(2025, 6, 9, 7, 0, 0);
    supervision.CheckProcess(9, false, "");
    EXPECT_EQ(supervision.NextCheck[9], at(2025, 6, 9, 7, 0, 0));
    EXPECT_EQ(rows.row(9).nextCheckText, "07:00:00");
}

TEST_F(CheckProcessTest, EveryPeriodOfTheTable) {
    const int seconds[] = {60, 300, 600, 1200, 1800, 2400, 3600};
    for (int p = 0; p < 7; ++p) {
        rows.row(0).period = p;
        supervision.CheckProcess(0, false, "");
        EXPECT_EQ(supervision.NextCheck[0], platform.now + std::chrono::seconds{seconds[p]}) << p;
    }
}

TEST_F(CheckProcessTest, ARefusedStartStillReschedules) {
    platform.refuseStarts = true;
    supervision.CheckProcess(6, false, "");
    EXPECT_EQ(supervision.NextCheck[6], at(2025, 6, 9, 8, 5, 0));
    EXPECT_EQ(rows.row(6).nextCheckText, "08:05:00");
}

TEST_F(CheckProcessTest, AnIndexOutsideTheTableDoesNothing) {
    supervision.CheckProcess(30, false, "");
    supervision.CheckProcess(-1, false, "");
    EXPECT_TRUE(platform.starts.empty());
}

// --- Kill -------------------------------------------------------------------------

class KillTest : public SupervisionTest {};

TEST_F(KillTest, KillsByTheToolsExactBaseName) {
    supervision.CommandKillProcess_Click(12);
    supervision.CommandKillProcess_Click(5);
    EXPECT_EQ(platform.kills, (std::vector<std::string>{"VX8_Player_A", "VX8_Player"}));
    EXPECT_TRUE(platform.starts.empty());
}

TEST_F(KillTest, LeavesLaunchStateAndNextCheckAlone) {
    supervision.ToolLaunched[12] = true;
    supervision.NextCheck[12] = at(2025, 6, 9, 8, 5, 0);
    supervision.CommandKillProcess_Click(12);
    EXPECT_TRUE(supervision.ToolLaunched[12]);
    EXPECT_EQ(supervision.NextCheck[12], at(2025, 6, 9, 8, 5, 0));
    EXPECT_TRUE(rows.row(12).nextCheckWrites.empty());
}

TEST_F(KillTest, AnIndexOutsideTheTableKillsNothing) {
    supervision.CommandKillProcess_Click(-1);
    supervision.CommandKillProcess_Click(30);
    EXPECT_TRUE(platform.kills.empty());
}

}  // namespace
}  // namespace tolvane::testsupport
