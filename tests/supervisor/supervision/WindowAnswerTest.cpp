// What each way of verifying a tool does with each answer to "is its window
// there": found, absent, or unknown (a display that did not answer). Unknown
// never starts a tool and never moves its next verification; once the
// display answers again, the tool is started exactly once.

#include <string>

#include "supervisor/core/Startup.h"
#include "tests/support/fake/SupervisionFixture.h"

namespace tolvane::testsupport {
namespace {

using namespace std::chrono;
using platform::WindowPresence;

enum class Way { Verification, HandOver, Button };

struct Case {
    Way way;
    WindowPresence answer;
    bool started;
    bool rescheduled;
    bool launched;       // the hand-over is done (launch sequence only)
    bool sequenceEnded;  // LaunchFinished (launch sequence only)
};

class WindowAnswerTest : public SupervisionTest {
protected:
    static constexpr int kTool = 12;  // VX8_Player_A

    void answer(WindowPresence presence) {
        const std::string title(*toolBaseName(kTool));
        platform.windows.clear();
        platform.unknownWindows.clear();
        if (presence == WindowPresence::Found) platform.windows.insert(title);
        if (presence == WindowPresence::Unknown) platform.unknownWindows.insert(title);
    }

    // Runs one way of verifying the tool; the launch sequence with the tool
    // ticked and its delay passed, verification with the tool due.
    void verifyOnce(Way way) {
        switch (way) {
            case Way::Verification: supervision.TimerCheck_Timer(); break;
            case Way::HandOver: supervision.TimerLaunch_Timer(); break;
            case Way::Button: supervision.CommandImportNow_Click(kTool); break;
        }
    }

    void prepare(Way way) {
        rows.row(kTool).check = 1;
        rows.row(kTool).period = 0;  // "01 Min"
        rows.row(kTool).launch = way == Way::HandOver ? 1 : 0;
        rows.row(kTool).tempo = "0";
        load();
        supervision.LaunchFinished = way != Way::HandOver;
        supervision.NextCheck[kTool] = platform.now - seconds{5};  // due
        platform.now += seconds{1};
    }
};

TEST_F(WindowAnswerTest, EachWayOfVerifyingActsOnEachAnswer) {
    const Case cases[] = {
        {Way::Verification, WindowPresence::Found, false, true, false, true},
        {Way::Verification, WindowPresence::Absent, true, true, false, true},
        {Way::Verification, WindowPresence::Unknown, false, false, false, true},
        {Way::HandOver, WindowPresence::Found, false, true, true, true},
        {Way::HandOver, WindowPresence::Absent, true, true, true, true},
        {Way::HandOver, WindowPresence::Unknown, false, false, false, false},
        {Way::Button, WindowPresence::Found, false, true, false, true},
        {Way::Button, WindowPresence::Absent, true, true, false, true},
        {Way::Button, WindowPresence::Unknown, false, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "way " << static_cast<int>(c.way) << ", answer " << static_cast<int>(c.answer));
        platform.starts.clear();
        supervision.ToolLaunched.fill(false);
        rows.row(kTool).nextCheckText = "00:00:00";
        prepare(c.way);
        const auto before = supervision.NextCheck[kTool];
        answer(c.answer);
        verifyOnce(c.way);
        EXPECT_EQ(platform.starts.size(), c.started ? 1u : 0u);
        EXPECT_EQ(supervision.NextCheck[kTool] != before, c.rescheduled);
        if (c.rescheduled) {
            EXPECT_EQ(supervision.NextCheck[kTool], platform.now + seconds{60});
            EXPECT_EQ(rows.row(kTool).nextCheckText, formatHms(platform.now + seconds{60}));
        } else {
            EXPECT_EQ(rows.row(kTool).nextCheckText, "00:00:00");
        }
        if (c.way == Way::HandOver) {
            EXPECT_EQ(supervision.ToolLaunched[kTool], c.launched);
            EXPECT_EQ(supervision.LaunchFinished, c.sequenceEnded);
        }
    }
}

// A display that stays silent for a while, then answers "absent": each way
// starts the tool exactly once, when the answer comes.
TEST_F(WindowAnswerTest, ToolStartedExactlyOnceWhenTheDisplayAnswersAgain) {
    for (const Way way : {Way::Verification, Way::HandOver, Way::Button}) {
        SCOPED_TRACE(static_cast<int>(way));
        platform.starts.clear();
        supervision.ToolLaunched.fill(false);
        prepare(way);
        platform.displayAnswers = false;
        for (int tick = 0; tick < 20; ++tick) {
            verifyOnce(way);
            platform.now += seconds{1};
        }
        EXPECT_TRUE(platform.starts.empty());
        platform.displayAnswers = true;
        // The tool's window appears as soon as it is started.
        platform.startedProgramsOpenWindows = true;
        platform.windows.clear();
        for (int tick = 0; tick < 20; ++tick) {
            verifyOnce(way);
            platform.now += seconds{1};
        }
        EXPECT_EQ(platform.starts.size(), 1u);
        if (way == Way::HandOver) {
            EXPECT_TRUE(supervision.LaunchFinished);
        }
        platform.startedProgramsOpenWindows = false;
    }
}

// The launch pass asks once for all the tools it hands over, like the
// verification tick; an unknown answer for one tool holds only that tool.
TEST_F(WindowAnswerTest, LaunchPassAsksOnceAndHoldsOnlyTheUnknownTool) {
    for (const int tool : {3, 7, 12}) {
        rows.row(tool).launch = 1;
        rows.row(tool).tempo = "0";
    }
    load();
    platform.unknownWindows.insert(std::string(*toolBaseName(7)));
    supervision.TimerLaunch_Timer();
    EXPECT_EQ(platform.windowQueries, 1);
    ASSERT_EQ(platform.starts.size(), 2u);
    EXPECT_EQ(platform.starts[0].applicationPath, exePath(3));
    EXPECT_EQ(platform.starts[1].applicationPath, exePath(12));
    EXPECT_FALSE(supervision.ToolLaunched[7]);
    EXPECT_FALSE(supervision.LaunchFinished);

    platform.unknownWindows.clear();
    supervision.TimerLaunch_Timer();
    ASSERT_EQ(platform.starts.size(), 3u);
    EXPECT_EQ(platform.starts[2].applicationPath, exePath(7));
    EXPECT_TRUE(supervision.LaunchFinished);
}

}  // namespace
}  // namespace tolvane::testsupport
