// The real Tolvane supervising real stand-ins: the launch sequence, the
// verification that brings a vanished tool back, and tools that outlive
// Tolvane whichever way it ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include <signal.h>

#include <cstdlib>

#include "tests/support/e2e/Desktop.h"
#include "tests/support/e2e/Station.h"

using namespace tolvane::testsupport;
using namespace tolvane::testsupport;

namespace {

std::vector<std::string> namesInOrder(const std::vector<StandinLogLine>& lines) {
    std::vector<std::string> names;
    for (const auto& l : lines) names.push_back(l.executableName);
    return names;
}

bool hasStandby(const StandinLogLine& line) {
    for (const auto& a : line.arguments)
        if (a == "/Veille=True") return true;
    return false;
}

}  // namespace

TEST(Supervision, LaunchSequenceStartsInDelayOrderWithTheRowsArguments) {
    Station s;
    s.setTool(0, "Launch", "1");
    s.setTool(0, "Tempo", "0");
    s.setTool(20, "Launch", "1");
    // Delays far enough apart that a slow start of Tolvane (a loaded
    // machine) cannot put two of them in one pass, where the stand-ins would
    // race to write the log.
    s.setTool(20, "Tempo", "1500");
    s.setTool(7, "Launch", "1");
    s.setTool(7, "Tempo", " 3 000");
    s.setTool(7, "Minimiser", "1");
    // Trimmed, split by the Windows rules, never seen by a shell.
    s.setTool(7, "Arguments", R"(  -x "a b" <in >out & ; $(id) %PATH%  )");
    s.setTool(3, "Tempo", "0");  // not "Lancer": never started
    const pid_t tolvane = s.startTolvane();
    // Tolvane runs in the test's folder, not the tools'.
    ASSERT_NE(std::filesystem::read_symlink("/proc/" + std::to_string(tolvane) + "/cwd"), s.folder());

    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Live", 1, 15s));
    const auto lines = s.log();
    EXPECT_EQ(namesInOrder(lines),
              (std::vector<std::string>{"VX8_Library", "VX8_Broadcaster_Backup", "VX8_Tools_Live"}));
    const auto live = s.startsOf("VX8_Tools_Live").at(0);
    EXPECT_EQ(live.arguments,
              (std::vector<std::string>{"-x", "a b", "<in", ">out", "&", ";", "$(id)", "%PATH%", "/Veille=True"}));
    EXPECT_EQ(live.showState, "minimised");
    EXPECT_EQ(live.argv0, s.folder() + "/VX8_Tools_Live");
    EXPECT_EQ(s.startsOf("VX8_Library").at(0).arguments, std::vector<std::string>{"/NoBase=0"});
    EXPECT_EQ(live.openDescriptors, "0,1,2");
    for (const auto& line : lines) EXPECT_EQ(line.workingFolder, s.folder()) << line.executableName;
}

TEST(Supervision, VanishedToolIsStartedAgainAtItsVerificationWithoutStandby) {
    Station s;
    s.launchAndVerifyEveryMinute(6);
    s.setTool(6, "Minimiser", "1");
    s.startTolvane({}, "@2026-12-08 10:00:00 x20");
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 1, 10s));
    EXPECT_TRUE(hasStandby(s.startsOf("VX8_Tools_Data").at(0)));
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Tools_Data"); }, 5s));

    // While it runs, its verifications start nothing.
    EXPECT_FALSE(waitUntil([&] { return s.startsOf("VX8_Tools_Data").size() > 1; }, 4s));

    for (const pid_t pid : s.running("VX8_Tools_Data")) ::kill(pid, SIGKILL);
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 2, 10s));
    EXPECT_FALSE(hasStandby(s.startsOf("VX8_Tools_Data").at(1)));
    EXPECT_EQ(s.startsOf("VX8_Tools_Data").at(1).arguments, std::vector<std::string>{"/NoBase=0"});
}

TEST(Supervision, ToolTitledDifferentlyIsStartedAtEveryVerification) {
    Station s;
    s.standinOptions("VX8_Tools_Pool", "title=Something else\n");
    s.setTool(9, "Launch", "1");
    s.setTool(9, "Tempo", "0");
    s.setTool(9, "Check", "1");
    s.setTool(9, "Freq", "0");
    s.startTolvane({}, "@2026-12-08 10:00:00 x20");
    EXPECT_TRUE(s.waitForStarts("VX8_Tools_Pool", 3, 15s));
}

TEST(Supervision, ToolsOutliveTolvaneAndAreFoundAgainByTheNextOne) {
    Station s;
    for (const int tool : {0, 1, 12}) {
        s.setTool(tool, "Launch", "1");
        s.setTool(tool, "Tempo", "0");
    }
    const pid_t tolvane = s.startTolvane();
    ASSERT_TRUE(s.waitForStarts("VX8_Player_A", 1, 10s));
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Player_A") && s.windowExists("VX8_Production"); }, 5s));

    ::kill(tolvane, SIGKILL);
    ASSERT_TRUE(waitForExit(tolvane, 5s));
    EXPECT_EQ(s.running("VX8_Library").size(), 1u);
    EXPECT_EQ(s.running("VX8_Player_A").size(), 1u);

    // The next Tolvane finds their windows and starts none of them again.
    s.startTolvane();
    ASSERT_TRUE(waitUntil([&] { return !s.tolvanes().empty(); }, 5s));
    EXPECT_FALSE(waitUntil([&] { return s.log().size() > 3; }, 3s));
    EXPECT_EQ(s.running("VX8_Player_A").size(), 1u);
}

TEST(Supervision, QuitterAndTheCloseBoxAskAndLeaveTheToolsRunning) {
    Station s;
    s.setTool(5, "Launch", "1");
    s.setTool(5, "Tempo", "0");
    s.setTool(0, "Check", "1");
    const pid_t tolvane = s.startTolvane();
    ASSERT_TRUE(s.waitForStarts("VX8_Player", 1, 10s));
    Desktop desk(s.display());
    const auto window = desk.waitForWindow("^Vantorix: Tools Launcher", 10s);
    ASSERT_TRUE(window);

    // The operator unticks "Vérifier" on Library's row (client point of its
    // box: the layout's twips over fifteen).
    desk.activate(*window);
    const std::regex untick(" 5001 \\[0 VX8_Library\\] ");
    for (int attempt = 0; attempt < 3 && linesMatching(s.journalLines(), untick) == 0; ++attempt) {
        desk.clickClient(*window, 6360 / 15 + 6, 960 / 15 + 6);
        waitUntil([&] { return linesMatching(s.journalLines(), untick) > 0; }, 2s);
    }
    ASSERT_EQ(linesMatching(s.journalLines(), untick), 1u);

    // The close box asks; "No" keeps everything running.
    desk.closeWindow(*window);
    auto question = desk.waitForWindow("^Vantorix : Tools Launcher$", 5s);
    ASSERT_TRUE(question) << "the close box did not ask";
    desk.key(*question, "Escape");
    EXPECT_TRUE(staysAlive(tolvane, 1500ms));

    // "Quitter..." asks the same; "Yes" ends Tolvane at once.
    // A click that lands while the window manager is still settling the
    // window is lost; an operator clicks again, and so does the test.
    desk.activate(*window);
    question.reset();
    for (int attempt = 0; attempt < 3 && !question; ++attempt) {
        desk.clickClient(*window, 686, 396);
        question = desk.waitForWindow("^Vantorix : Tools Launcher$", 2s);
    }
    ASSERT_TRUE(question) << "Quitter... did not ask";
    desk.key(*question, "Return");
    const auto exit = waitForExit(tolvane, 5s);
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->status, 0);
    EXPECT_EQ(s.running("VX8_Player").size(), 1u);

    // The journal: the operator's untick, then the run's closing line, last.
    const auto lines = s.journalLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(std::regex_search(
        lines[lines.size() - 2],
        std::regex(" 5001 \\[0 VX8_Library\\] .* réglage : Vérifier \\| avant : coché \\| après : décoché$")))
        << lines[lines.size() - 2];
    EXPECT_TRUE(std::regex_search(
        lines.back(), std::regex(" 1001 \\[-\\] Tolvane arrêté par l'opérateur \\| par : bouton « Quitter... »$")))
        << lines.back();
}
