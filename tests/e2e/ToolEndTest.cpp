// The real Tolvane seeing a real stand-in's end when it happens: a killed
// tool verified every "05 Min" is back within seconds, a tool that restarts
// itself is watched again, never started a second time, a tool that dies at
// every start is journaled as one loop, and a frozen tool is seen and, where
// chosen, restarted.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/e2e/Station.h"

using namespace tolvane::testsupport;

namespace {

// The processes Tolvane holds by their descriptor: the watches it has armed.
std::vector<pid_t> processesHeldBy(pid_t pid) {
    std::vector<pid_t> held;
    const std::string proc = "/proc/" + std::to_string(pid);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd", error)) {
        std::error_code linkError;
        if (std::filesystem::read_symlink(entry.path(), linkError).string() != "anon_inode:[pidfd]") continue;
        std::ifstream info(proc + "/fdinfo/" + entry.path().filename().string());
        for (std::string line; std::getline(info, line);) {
            if (line.rfind("Pid:", 0) == 0) held.push_back(static_cast<pid_t>(std::stol(line.substr(4))));
        }
    }
    return held;
}

// What the journal, the stand-ins' log and Tolvane's watches say, for a
// failure's message.
std::string whatHappened(const Station& s, pid_t tolvane) {
    std::string text;
    for (const auto& line : s.journalLines()) text += line + "\n";
    for (const auto& start : s.log())
        text += "start " + start.time + " " + start.executableName + " " + std::to_string(start.pid) + "\n";
    for (const auto& name : toolNames())
        for (const pid_t pid : s.running(name)) text += "running " + name + " " + std::to_string(pid) + "\n";
    text += "watched:";
    for (const pid_t pid : processesHeldBy(tolvane)) text += " " + std::to_string(pid);
    return text + "\n";
}

TEST(ToolEnd, AKilledToolIsBackWithinSecondsLongBeforeItsVerification) {
    Station s;
    s.setTool(12, "Launch", "1");
    s.setTool(12, "Tempo", "0");
    s.setTool(12, "Check", "1");
    s.setTool(12, "Freq", "1");  // "05 Min": its verification is minutes away
    const pid_t tolvane = s.startTolvane();
    ASSERT_TRUE(s.waitForStarts("VX8_Player_A", 1, 10s));
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Player_A"); }, 5s));
    // Started by the launch sequence, its window is seen by the memory
    // pass's sweep (every fifteen seconds), which arms the watch.
    ASSERT_TRUE(waitUntil([&] { return processesHeldBy(tolvane).size() == 1; }, 35s));

    const auto first = s.running("VX8_Player_A");
    ASSERT_EQ(first.size(), 1u);
    const auto killedAt = std::chrono::steady_clock::now();
    ::kill(first[0], SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return s.startsOf("VX8_Player_A").size() == 2; }, 15s));
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Player_A"); }, 5s));
    const auto back =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - killedAt);
    std::printf("[ figures  ] killed tool's window back after %lld ms (verification \"05 Min\")\n",
                static_cast<long long>(back.count()));
    EXPECT_EQ(s.running("VX8_Player_A").size(), 1u);

    const auto lines = s.journalLines();
    EXPECT_EQ(
        linesMatching(lines, std::regex(" 2030 \\[12 VX8_Player_A\\] Arrêté : son dernier processus s'est "
                                        "terminé \\| processus : " +
                                        std::to_string(first[0]) +
                                        " \\| depuis son démarrage : [0-9]+ s \\| suite : vérification dans 2 s$")),
        1u);
    EXPECT_EQ(linesMatching(lines, std::regex(" 2004 \\[12 VX8_Player_A\\] Relancé : son processus s'est arrêté \\| "
                                              "arguments : /NoBase=0$")),
              1u);
    EXPECT_EQ(linesMatching(lines, std::regex(" 2003 ")), 0u);

    // The new copy is watched in turn (once its window is seen) and the
    // one that ended is let go.
    const auto second = s.running("VX8_Player_A");
    ASSERT_EQ(second.size(), 1u);
    // Within two of the memory pass's sweeps, however loaded the machine.
    EXPECT_TRUE(waitUntil([&] { return processesHeldBy(tolvane) == std::vector<pid_t>{second[0]}; }, 35s))
        << "held " << processesHeldBy(tolvane).size() << " processes, wanted " << second[0] << "\n"
        << whatHappened(s, tolvane);
}

TEST(ToolEnd, AToolThatRestartsItselfIsWatchedAgainAndNeverStartedTwice) {
    Station s;
    // Each copy starts its successor and ends, every four seconds.
    s.standinOptions("VX8_Tools_Pool", "restart_after_ms=4000\n");
    s.setTool(9, "Launch", "1");
    s.setTool(9, "Tempo", "0");
    s.setTool(9, "Check", "1");
    s.setTool(9, "Freq", "1");
    const pid_t tolvane = s.startTolvane();
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Pool", 1, 10s));

    // Its first end seen (once the sweep has armed the watch), then, three
    // times, the copy it started watched in its place at the end of the
    // settle: Tolvane follows the tool from copy to copy.
    const std::regex ended(" 2030 \\[9 VX8_Tools_Pool\\] .*suite : vérification dans 2 s$");
    ASSERT_TRUE(waitUntil([&] { return linesMatching(s.journalLines(), ended) == 1; }, 30s))
        << whatHappened(s, tolvane);
    for (int copy = 0; copy < 3; ++copy) {
        const auto startsBefore = s.startsOf("VX8_Tools_Pool").size();
        ASSERT_TRUE(waitUntil(
            [&] {
                const auto starts = s.startsOf("VX8_Tools_Pool");
                const auto held = processesHeldBy(tolvane);
                return starts.size() > startsBefore &&
                       std::find(held.begin(), held.end(), starts.back().pid) != held.end();
            },
            10s))
            << whatHappened(s, tolvane);
    }
    ASSERT_TRUE(waitUntil([&] { return s.running("VX8_Tools_Pool").size() == 1; }, 5s));

    const auto lines = s.journalLines();
    EXPECT_EQ(linesMatching(lines, std::regex(" 2000 \\[9 VX8_Tools_Pool\\] ")), 1u);
    EXPECT_EQ(linesMatching(lines, std::regex(" 200[34] \\[9 VX8_Tools_Pool\\] ")), 0u);
}

}  // namespace

TEST(ToolEnd, AToolThatDiesAtEveryStartIsJournaledAsOneLoop) {
    Station s;
    s.standinOptions("VX8_Player_A", "exit_after_ms=300\n");
    s.launchAndVerifyEveryMinute(12);  // three seconds at twenty times the speed
    const pid_t tolvane = s.startTolvane({}, "@2026-12-08 10:00:00 x20");

    // The third restart makes the loop; four more follow it, unwritten.
    const std::regex began(" 2040 \\[12 VX8_Player_A\\] Redémarre en boucle : .* \\| relances en 10 min : 3$");
    ASSERT_TRUE(waitUntil([&] { return linesMatching(s.journalLines(), began) == 1; }, 60s))
        << whatHappened(s, tolvane);
    const auto startsAtLoop = s.startsOf("VX8_Player_A").size();
    ASSERT_TRUE(waitUntil([&] { return s.startsOf("VX8_Player_A").size() >= startsAtLoop + 4; }, 60s));
    auto lines = s.journalLines();
    const auto loop =
        std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return std::regex_search(l, began); });
    const std::vector<std::string> after(loop + 1, lines.end());
    EXPECT_EQ(linesMatching(after, std::regex(" 20(0[34]|30|40) \\[12 ")), 0u) << whatHappened(s, tolvane);
    lines.erase(loop, lines.end());
    EXPECT_LE(linesMatching(lines, std::regex(" 200[34] \\[12 ")), 2u) << whatHappened(s, tolvane);
}

TEST(ToolEnd, AFrozenToolIsSeenAndRestartedOnlyWhereChosen) {
    Station s;
    // Both stop reading their X events five seconds after they start: one
    // for thirty seconds, left alone; one for ever, restarted after "1 min".
    s.standinOptions("VX8_Player_B", "freeze_after_ms=5000\nfreeze_for_ms=30000\n");
    s.standinOptions("VX8_Player_C", "freeze_after_ms=5000\n");
    s.setTool(13, "Check", "1");
    s.setTool(14, "Check", "1");
    s.set("Frozen", "Idx_14", "1");
    // Started here rather than by Tolvane, so no grace after a start of its own applies.
    s.startProgram("VX8_Player_B");
    s.startProgram("VX8_Player_C");
    ASSERT_TRUE(waitUntil([&] { return s.windowsExist({"VX8_Player_B", "VX8_Player_C"}); }, 10s));
    const auto frozenFrom = std::chrono::steady_clock::now();
    const auto first = s.running("VX8_Player_C");
    ASSERT_EQ(first.size(), 1u);
    const pid_t tolvane = s.startTolvane();

    const std::regex frozeB(" 2050 \\[13 VX8_Player_B\\] Ne répond plus : .* \\| relance : jamais$");
    const std::regex frozeC(" 2050 \\[14 VX8_Player_C\\] Ne répond plus : .* \\| relance : après 1 min$");
    // 15 s after the first question left unanswered, asked every 5 s.
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto lines = s.journalLines();
            return linesMatching(lines, frozeB) == 1 && linesMatching(lines, frozeC) == 1;
        },
        40s))
        << whatHappened(s, tolvane);
    std::printf(
        "[ figures  ] frozen tools journaled %lld s after their windows appeared (frozen 5 s in)\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - frozenFrom).count()));
    // B answers again once its thirty seconds are over.
    EXPECT_TRUE(waitUntil(
        [&] {
            return linesMatching(s.journalLines(), std::regex(" 2051 \\[13 VX8_Player_B\\] Répond de nouveau ")) == 1;
        },
        40s))
        << whatHappened(s, tolvane);
    // C is ended a minute after its first unanswered question, and comes
    // back through the end's verification, once.
    ASSERT_TRUE(waitUntil([&] { return s.startsOf("VX8_Player_C").size() == 2; }, 60s)) << whatHappened(s, tolvane);
    const auto lines = s.journalLines();
    EXPECT_EQ(linesMatching(lines, std::regex(" 2052 \\[14 VX8_Player_C\\] Arrêt forcé : .* \\| choix : relancer "
                                              "après 1 min \\| programme : VX8_Player_C$")),
              1u);
    EXPECT_EQ(linesMatching(lines, std::regex(" 2030 \\[14 VX8_Player_C\\] .* \\| suite : vérification dans 2 s$")),
              1u);
    EXPECT_EQ(linesMatching(lines, std::regex(" 2004 \\[14 VX8_Player_C\\] ")), 1u);
    EXPECT_EQ(linesMatching(lines, std::regex(" 20(3[01]|52) \\[13 ")), 0u);
    const auto now = s.running("VX8_Player_C");
    ASSERT_EQ(now.size(), 1u);
    EXPECT_NE(now[0], first[0]);
    EXPECT_EQ(s.running("VX8_Player_B").size(), 1u);
    EXPECT_EQ(s.startsOf("VX8_Player_B").size(), 1u);
}
