// The daily restart: Tolvane hands over to Krandel after 04:07 and a new
// Tolvane takes over the running tools; without a Krandel that can start,
// Tolvane keeps supervising. And Krandel on its own: its ten-second wait,
// its "/Test" box, and its failure box when there is no Tolvane to start.
#include <gtest/gtest.h>

#include <filesystem>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/e2e/Desktop.h"
#include "tests/support/e2e/Station.h"

using namespace tolvane::testsupport;
using namespace tolvane::testsupport;

namespace {

using Clock = std::chrono::steady_clock;

// Twelve minutes before the daily restart instant, at thirty times the
// speed: the first 30-second tick finds 04:10:00 or later. The faked clock
// runs from the start of the process, so the five minutes before 04:00 leave
// Qt ten seconds to start up on a loaded machine: a Tolvane that reads 04:00
// at start-up rightly plans its restart for the next day.
const std::string BeforeRestart = "@2026-12-08 03:55:00 x30";
const std::string Scheduler = "VX8_Tools_Scheduler";

std::vector<std::string> commandLineOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    const std::string raw{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> argv;
    std::string::size_type at = 0;
    while (at < raw.size()) {
        const auto end = raw.find('\0', at);
        argv.push_back(raw.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return argv;
}

void launchAtOnce(Station& s, const std::vector<int>& tools) {
    for (const int tool : tools) {
        s.setTool(tool, "Launch", "1");
        s.setTool(tool, "Tempo", "0");
    }
}

// A Scheduler page due at 04:00 every day: its start marks a tick that got
// past the restart step without ending Tolvane.
void armSchedulerAt0400(Station& s) {
    for (int day = 0; day <= 7; ++day) s.set("CheckSchedulerJour", "Idx_" + std::to_string(day), "1");
    s.set("CheckSchedulerTiming", "Idx_0", "4");
    s.set("CheckSchedulerTiming", "Idx_1", "0");
}

int exitCode(const Exit& e) { return e.status && WIFEXITED(*e.status) ? WEXITSTATUS(*e.status) : -1; }

}  // namespace

TEST(DailyRestart, TolvaneEndsThroughKrandelAndTheNewOneTakesOverTheRunningTools) {
    Station s({.withKrandel = true});
    launchAtOnce(s, {0, 5, 12});
    armSchedulerAt0400(s);
    const pid_t old = s.startTolvane({}, BeforeRestart);
    ASSERT_TRUE(waitUntil([&] { return s.log().size() >= 3; }, 10s));
    ASSERT_TRUE(waitUntil(
        [&] { return s.windowExists("VX8_Library") && s.windowExists("VX8_Player") && s.windowExists("VX8_Player_A"); },
        5s));
    const std::size_t startsBefore = s.log().size();
    ASSERT_EQ(startsBefore, 3u);

    const auto ended = waitForExit(old, 40s);
    ASSERT_TRUE(ended) << "Tolvane did not end for its daily restart";
    const auto endedAt = Clock::now();
    EXPECT_EQ(exitCode(*ended), 0);
    EXPECT_EQ(s.running("Krandel").size(), 1u) << "Tolvane ended without Krandel running";
    // The tick that ends Tolvane leaves the batch pages alone.
    EXPECT_TRUE(s.startsOf(Scheduler).empty());

    // Krandel waits its ten seconds, then a new Tolvane runs from the folder.
    pid_t fresh = -1;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto pids = s.tolvanes();
            if (pids.empty()) return false;
            fresh = pids.front();
            return true;
        },
        15s))
        << "Krandel started no Tolvane";
    const auto gap = Clock::now() - endedAt;
    EXPECT_GE(gap, 9s);
    EXPECT_LE(gap, 14s);
    EXPECT_NE(fresh, old);
    EXPECT_EQ(s.tolvanes(), std::vector<pid_t>{fresh});
    EXPECT_EQ(commandLineOf(fresh), (std::vector<std::string>{s.folder() + "/Tolvane", "/Base=Current"}));
    EXPECT_TRUE(waitUntil([&] { return s.running("Krandel").empty(); }, 3s)) << "Krandel did not end";

    // The new Tolvane (its own clock starts again at 03:55:00, so it too
    // restarts thirty seconds on) loads, finds the tools' windows and starts
    // none of them again.
    ASSERT_TRUE(waitUntil([&] { return s.probe().windowOfProcess(fresh).has_value(); }, 10s));
    EXPECT_FALSE(waitUntil([&] { return s.log().size() > startsBefore; }, 3s));
    for (const auto* tool : {"VX8_Library", "VX8_Player", "VX8_Player_A"})
        EXPECT_EQ(s.running(tool).size(), 1u) << tool;

    // The night reads from both journals: the old run's closing line, no
    // "ended unexpectedly" for it, and Krandel's wait and start between.
    const auto lines = s.journalLines();
    EXPECT_EQ(linesMatching(lines, std::regex(" 1002 \\[-\\] Tolvane arrêté pour le redémarrage quotidien")), 1u);
    EXPECT_EQ(linesMatching(lines, std::regex(" 1000 \\[-\\] Tolvane démarré .*ligne de commande : /Base=Current")),
              1u);
    EXPECT_EQ(linesMatching(lines, std::regex(" 100[56] ")), 0u);
    const auto krandel = s.journalLines("Krandel");
    EXPECT_EQ(linesMatching(krandel, std::regex(" 3100 \\[-\\] Krandel attend")), 1u);
    EXPECT_EQ(
        linesMatching(krandel,
                      std::regex(" 3101 \\[-\\] Krandel a démarré Tolvane \\| programme : .*/Tolvane /Base=Current$")),
        1u);
}

TEST(DailyRestart, WithoutAKrandelThatCanStartTolvaneKeepsSupervising) {
    // Side by side, each on its own display: no Krandel at all, and a
    // "Krandel" file that cannot be executed.
    Station missing;
    Station broken;
    writeFile(broken.folder() + "/Krandel", "not a program\n", 0644);
    std::vector<std::pair<Station*, pid_t>> stations;
    for (Station* s : {&missing, &broken}) {
        launchAtOnce(*s, {6});
        s->setTool(6, "Check", "1");
        s->setTool(6, "Freq", "0");  // "01 Min": two seconds at thirty times the speed
        armSchedulerAt0400(*s);
        stations.emplace_back(s, s->startTolvane({}, BeforeRestart));
    }
    for (auto& [s, tolvane] : stations) {
        // The first tick passes the restart instant, finds no Krandel it can
        // start, and carries on to the batch pages.
        ASSERT_TRUE(s->waitForStarts(Scheduler, 1, 45s)) << s->folder();
        EXPECT_TRUE(staysAlive(tolvane, 2s)) << s->folder();
        EXPECT_EQ(s->tolvanes(), std::vector<pid_t>{tolvane});
        // And its verification still brings a vanished tool back.
        for (const pid_t pid : s->running("VX8_Tools_Data")) ::kill(pid, SIGKILL);
        EXPECT_TRUE(s->waitForStarts("VX8_Tools_Data", 2, 10s)) << s->folder();
        // The refusal is in the journal, with the system's reason.
        EXPECT_EQ(linesMatching(s->journalLines(),
                                std::regex(" 3001 \\[-\\] Krandel n'a pas pu être démarré.* \\| raison : .+")),
                  1u)
            << s->folder();
    }
}

TEST(Krandel, WithoutTolvaneBesideItShowsItsFailureAndEndsWithAnErrorStatus) {
    Station s({.withKrandel = true, .withTolvaneBinary = false});
    // A file of Krandel's journal long past its 31 days.
    const std::string expired = s.journalFolder("Krandel") + "/2020-01-01.log";
    std::filesystem::create_directories(s.journalFolder("Krandel"));
    writeFile(expired, "2020-01-01 04:07:00 +0100 3100 [-] Krandel attend\n");
    Desktop desk(s.display());
    const auto started = Clock::now();
    const pid_t krandel = s.startProgram("Krandel");

    const auto box = desk.waitForWindow("^Tools Launcher Launcher$", 15s);
    ASSERT_TRUE(box) << "no failure message";
    EXPECT_GE(Clock::now() - started, 9s) << "the message came before the ten-second wait ended";
    // It waits for the operator.
    EXPECT_TRUE(staysAlive(krandel, 1s));
    desk.key(*box, "Return");
    const auto ended = waitForExit(krandel, 5s);
    ASSERT_TRUE(ended) << "Krandel did not end once its message was closed";
    EXPECT_NE(exitCode(*ended), 0);
    EXPECT_NE(exitCode(*ended), -1) << "Krandel did not exit normally";
    EXPECT_EQ(
        linesMatching(
            s.journalLines("Krandel"),
            std::regex(" 3102 \\[-\\] Krandel n'a pas pu démarrer Tolvane \\| programme : .*/Tolvane \\| raison : .+")),
        1u);
    EXPECT_FALSE(std::filesystem::exists(expired)) << "Krandel's journal keeps its old files";
}

TEST(Krandel, TestSwitchShowsTheCommandFirstAndStartsTolvaneOnlyOnceItIsClosed) {
    Station s({.withKrandel = true, .withTolvaneBinary = false, .tolvaneStandin = true});
    Desktop desk(s.display());
    const auto started = Clock::now();
    const pid_t krandel = s.startProgram("Krandel", {"/test"});

    const auto box = desk.waitForWindow("^Tools Launcher Launcher$", 15s);
    ASSERT_TRUE(box) << "no /Test message";
    EXPECT_GE(Clock::now() - started, 9s) << "the message came before the ten-second wait ended";
    // Nothing is started while the box is open.
    EXPECT_FALSE(waitUntil([&] { return !s.log().empty(); }, 1500ms));
    EXPECT_TRUE(s.tolvanes().empty());

    desk.key(*box, "Return");
    ASSERT_TRUE(s.waitForStarts("Tolvane", 1, 5s)) << "Tolvane was not started after the box";
    const auto line = s.startsOf("Tolvane").at(0);
    EXPECT_EQ(line.arguments, std::vector<std::string>{"/Base=Current"});
    EXPECT_EQ(line.argv0, s.folder() + "/Tolvane");
    EXPECT_EQ(line.workingFolder, s.folder()) << "Tolvane was not started in its own folder";
    EXPECT_EQ(line.showState, "normal");
    const auto ended = waitForExit(krandel, 5s);
    ASSERT_TRUE(ended) << "Krandel did not end after starting Tolvane";
    EXPECT_EQ(exitCode(*ended), 0);
    EXPECT_EQ(s.log().size(), 1u);
}
