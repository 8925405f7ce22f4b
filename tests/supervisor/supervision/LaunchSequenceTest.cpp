// The start-up launch sequence, one pass per 100 ms tick of the fake clock.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/fake/SupervisionFixture.h"

namespace tolvane::testsupport {
namespace {

class LaunchSequenceTest : public SupervisionTest {
protected:
    struct Started {
        std::int64_t elapsedMs;  // since loading began
        std::string path;
        std::string arguments;
    };

    LaunchSequenceTest() { platform.tick = 7'000'000; }

    void load() {
        SupervisionTest::load();
        m_elapsedMs = 0;
    }

    // One tick of the launch timer, 100 ms after the previous one. Returns
    // what the handler returns: whether the timer keeps running.
    bool tick() {
        platform.tick += 100;  // wraps like the system's counter
        m_elapsedMs += 100;
        const bool running = supervision.TimerLaunch_Timer();
        for (; m_seen < platform.starts.size(); ++m_seen)
            started.push_back(
                {m_elapsedMs, platform.starts[m_seen].applicationPath, platform.starts[m_seen].arguments});
        return running;
    }

    // Ticks until the handler reports the end or `limitMs` have elapsed.
    // Returns the elapsed time of the ending tick, or -1 if it never ended.
    std::int64_t runToEnd(std::int64_t limitMs) {
        while (m_elapsedMs < limitMs)
            if (!tick()) return m_elapsedMs;
        return -1;
    }

    void tickLaunch(int tool, const std::string& delay, int minimiser = 0) {
        rows.row(tool).launch = 1;
        rows.row(tool).tempo = delay;
        rows.row(tool).minimiser = minimiser;
    }

    std::vector<Started> started;

private:
    std::int64_t m_elapsedMs = 0;
    std::size_t m_seen = 0;
};

// --- Ending --------------------------------------------------------------------

TEST_F(LaunchSequenceTest, NothingTickedEndsOnTheFirstTick) {
    load();
    EXPECT_FALSE(tick());
    EXPECT_TRUE(supervision.LaunchFinished);
    EXPECT_TRUE(platform.starts.empty());
}

TEST_F(LaunchSequenceTest, NotEnabledEndsAtOnceStartingNothing) {
    tickLaunch(0, "0");
    load();
    supervision.LaunchEnabled = false;
    EXPECT_FALSE(tick());
    EXPECT_TRUE(supervision.LaunchFinished);
    EXPECT_TRUE(platform.starts.empty());
    EXPECT_FALSE(supervision.ToolLaunched[0]);
}

TEST_F(LaunchSequenceTest, GreyedLaunchBoxIsNotTicked) {
    rows.row(3).launch = 2;
    rows.row(3).tempo = "0";
    rows.row(4).launch = 2;
    rows.row(4).tempo = "1e12";  // would hold the sequence for ever if it counted
    load();
    EXPECT_FALSE(tick());
    EXPECT_TRUE(platform.starts.empty());
}

TEST_F(LaunchSequenceTest, StaysOpenUntilTheLastDelayThenEndsForGood) {
    tickLaunch(7, "5000");
    tickLaunch(20, "2000");
    load();
    EXPECT_EQ(runToEnd(60'000), 5000);
    EXPECT_TRUE(supervision.LaunchFinished);
    // Ticking a box afterwards changes nothing for this run.
    tickLaunch(0, "0");
    EXPECT_FALSE(tick());
    EXPECT_EQ(started.size(), 2u);
}

TEST_F(LaunchSequenceTest, LaunchFinishedStaysFalseWhileAToolWaits) {
    tickLaunch(7, "5000");
    load();
    for (int i = 0; i < 49; ++i) ASSERT_TRUE(tick());
    EXPECT_FALSE(supervision.LaunchFinished);
}

// --- Delays --------------------------------------------------------------------

TEST_F(LaunchSequenceTest, NoNumberOrANegativeOneStartsOnTheFirstPass) {
    tickLaunch(0, "0");
    tickLaunch(1, "");
    tickLaunch(6, "abc");
    tickLaunch(9, "-5");
    load();
    EXPECT_FALSE(tick());
    ASSERT_EQ(started.size(), 4u);
    EXPECT_EQ(started[0].path, exePath(0));
    EXPECT_EQ(started[1].path, exePath(1));
    EXPECT_EQ(started[2].path, exePath(6));
    EXPECT_EQ(started[3].path, exePath(9));
    for (const auto& s : started) EXPECT_EQ(s.elapsedMs, 100);
}

TEST_F(LaunchSequenceTest, BlanksInsideTheDelayAreIgnored) {
    tickLaunch(0, " 10 000");
    load();
    EXPECT_EQ(runToEnd(60'000), 10'000);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].elapsedMs, 10'000);
}

TEST_F(LaunchSequenceTest, ToolsStartInTheOrderOfTheirDelays) {
    tickLaunch(7, "5000");
    tickLaunch(20, "2000");
    load();
    runToEnd(60'000);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0].path, exePath(20));
    EXPECT_EQ(started[0].elapsedMs, 2000);
    EXPECT_EQ(started[1].path, exePath(7));
    EXPECT_EQ(started[1].elapsedMs, 5000);
}

TEST_F(LaunchSequenceTest, EqualDelaysStartInIndexOrderInTheSamePass) {
    tickLaunch(15, "3000");
    tickLaunch(8, "3000");
    load();
    runToEnd(60'000);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0].path, exePath(8));
    EXPECT_EQ(started[1].path, exePath(15));
    EXPECT_EQ(started[0].elapsedMs, 3000);
    EXPECT_EQ(started[1].elapsedMs, 3000);
}

TEST_F(LaunchSequenceTest, DelaysCountFromLoadingNotFromTheFirstTick) {
    tickLaunch(2, "3000");
    load();
    platform.tick += 4000;  // loading and the first tick were far apart
    EXPECT_FALSE(supervision.TimerLaunch_Timer());
    EXPECT_EQ(platform.starts.size(), 1u);
}

TEST_F(LaunchSequenceTest, DelaysSurviveTheSystemCounterWrapping) {
    platform.tick = 0xFFFFFFFFu - 950;  // wraps within the first second
    tickLaunch(5, "2000");
    load();
    EXPECT_EQ(runToEnd(60'000), 2000);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].elapsedMs, 2000);
}

TEST_F(LaunchSequenceTest, ADelayNeverReachedKeepsVerificationOffButOthersStart) {
    tickLaunch(7, "1e12");
    tickLaunch(8, "0");
    load();
    EXPECT_TRUE(tick());
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].path, exePath(8));
    // A day later it is still waiting.
    platform.tick += 86'400'000;
    EXPECT_TRUE(tick());
    EXPECT_FALSE(supervision.LaunchFinished);
    EXPECT_EQ(started.size(), 1u);
}

TEST_F(LaunchSequenceTest, UntickingTheLastWaitingToolEndsAtTheNextPass) {
    tickLaunch(7, "1e12");
    tickLaunch(8, "0");
    load();
    EXPECT_TRUE(tick());
    EXPECT_TRUE(tick());
    rows.row(7).launch = 0;
    EXPECT_FALSE(tick());
    EXPECT_TRUE(supervision.LaunchFinished);
    EXPECT_FALSE(supervision.ToolLaunched[7]);
}

TEST_F(LaunchSequenceTest, EditsTakeEffectOnTheNextPass) {
    tickLaunch(3, "60000");
    load();
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(tick());
    rows.row(3).tempo = "500";
    rows.row(3).minimiser = 1;
    EXPECT_FALSE(tick());
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].elapsedMs, 1100);
    EXPECT_EQ(started[0].arguments, "/NoBase=0 /Veille=True");
}

// --- Hand-over -----------------------------------------------------------------

TEST_F(LaunchSequenceTest, StandbyOnlyWhenMinimiserIsTicked) {
    tickLaunch(0, "0", 1);
    tickLaunch(1, "0", 2);  // greyed: not ticked
    tickLaunch(6, "0", 0);
    load();
    tick();
    ASSERT_EQ(started.size(), 3u);
    EXPECT_EQ(started[0].arguments, "/NoBase=0 /Veille=True");
    EXPECT_EQ(started[1].arguments, "/NoBase=0");
    EXPECT_EQ(started[2].arguments, "/NoBase=0");
}

TEST_F(LaunchSequenceTest, ArgumentsAreTrimmedOfSpaces) {
    tickLaunch(0, "0");
    rows.row(0).arguments = "  /NoBase=0 /X  ";
    tickLaunch(1, "0", 1);
    rows.row(1).arguments = "    ";
    load();
    tick();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0].arguments, "/NoBase=0 /X");
    EXPECT_EQ(started[1].arguments, "/Veille=True");
}

TEST_F(LaunchSequenceTest, ARunningToolIsHandledWithoutAStart) {
    platform.windows = {"VX8_Tools_Live"};
    tickLaunch(7, "0");
    rows.row(7).period = 2;  // "10 Min"
    platform.now = at(2025, 6, 9, 8, 0, 10);
    load();
    EXPECT_FALSE(tick());
    EXPECT_TRUE(platform.starts.empty());
    EXPECT_TRUE(supervision.ToolLaunched[7]);
    EXPECT_EQ(supervision.NextCheck[7], at(2025, 6, 9, 8, 10, 10));
    EXPECT_EQ(rows.row(7).nextCheckText, "08:10:10");
}

TEST_F(LaunchSequenceTest, AHandedOverToolIsNotHandedAgain) {
    // Tool 0's window never appears, and tool 1 keeps the sequence going.
    tickLaunch(0, "0");
    tickLaunch(1, "2000");
    load();
    runToEnd(60'000);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0].path, exePath(0));
    EXPECT_EQ(started[1].path, exePath(1));
}

TEST_F(LaunchSequenceTest, ARefusedStartIsNotRetriedBySequence) {
    platform.refuseStarts = true;
    tickLaunch(0, "0");
    tickLaunch(1, "1000");
    load();
    runToEnd(60'000);
    EXPECT_EQ(platform.starts.size(), 2u);  // one attempt each
    EXPECT_TRUE(supervision.ToolLaunched[0]);
    EXPECT_TRUE(supervision.LaunchFinished);
}

TEST_F(LaunchSequenceTest, AToolVerifiedByHandBeforeItsTurnIsNotStartedTwice) {
    platform.startedProgramsOpenWindows = true;
    tickLaunch(9, "3000");
    load();
    tick();
    supervision.CommandImportNow_Click(9);
    ASSERT_EQ(platform.starts.size(), 1u);
    runToEnd(60'000);
    EXPECT_EQ(platform.starts.size(), 1u);
    EXPECT_TRUE(supervision.ToolLaunched[9]);
}

}  // namespace
}  // namespace tolvane::testsupport
