// The real Tolvane's journal: the line of a tool started again by its
// verification, how the last run ended, the session's end (cancelled, then
// real) under a real session manager, and a journal that cannot be written
// (a file where its folder should be) that never stops supervision.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "tests/support/e2e/Desktop.h"
#include "tests/support/e2e/Station.h"
#include "tests/support/posix/SessionManager.h"

using namespace tolvane::testsupport;
using namespace tolvane::testsupport;

namespace {

const char* const FakeMorning = "@2026-12-08 10:00:00 x20";

bool waitForLine(const Station& s, const std::regex& pattern, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return linesMatching(s.journalLines(), pattern) > 0; }, timeout);
}

void killTool(Station& s, const std::string& name) {
    for (const pid_t pid : s.running(name)) ::kill(pid, SIGKILL);
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
    return count;
}

}  // namespace

TEST(Journal, ToolStartedAgainByItsVerificationIsInTheDaysFile) {
    Station s;
    s.launchAndVerifyEveryMinute(6);
    s.startTolvane({}, FakeMorning);
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 1, 10s));
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Tools_Data"); }, 5s));
    killTool(s, "VX8_Tools_Data");
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 2, 10s));

    const std::regex restart(
        R"(^2026-12-08 10:\d\d:\d\d [+-]\d{4} 2003 \[6 VX8_Tools_Data\] Relancé : la vérification n'a trouvé aucune fenêtre \| arguments : /NoBase=0$)");
    ASSERT_TRUE(waitForLine(s, restart, 5s)) << "journal folder: " << s.journalFolder();
    EXPECT_TRUE(std::filesystem::exists(s.journalFolder() + "/2026-12-08.log"));
    const auto lines = s.journalLines();
    EXPECT_EQ(linesMatching(lines, restart), 1u);
    EXPECT_EQ(
        linesMatching(
            lines,
            std::regex(R"( 1000 \[-\] Tolvane démarré \| version : .+ \| ligne de commande :  \| veille : non$)")),
        1u);
    EXPECT_EQ(linesMatching(lines, std::regex(R"( 2000 \[6 VX8_Tools_Data\] Démarré par la séquence de lancement)")),
              1u);
    // The first run of a station has no last run to judge.
    EXPECT_EQ(linesMatching(lines, std::regex(" 100[56] ")), 0u);
}

TEST(Journal, NextStartSaysWhenTheLastRunEndedWithoutItsClosingLine) {
    Station s;
    const std::regex unexpected(" 1005 \\[-\\] La précédente exécution de Tolvane s'est terminée de façon inattendue");
    const std::regex started(" 1000 \\[-\\] Tolvane démarré");

    // Ended by the system: a closing line, and the next start finds it.
    pid_t tolvane = s.startTolvane();
    ASSERT_TRUE(waitForLine(s, started, 10s));
    ::kill(tolvane, SIGTERM);
    ASSERT_TRUE(waitForExit(tolvane, 5s));
    EXPECT_EQ(linesMatching(s.journalLines(),
                            std::regex(" 1003 \\[-\\] Tolvane arrêté à la demande du système \\| par : SIGTERM$")),
              1u);

    tolvane = s.startTolvane();
    ASSERT_TRUE(waitUntil([&] { return linesMatching(s.journalLines(), started) == 2; }, 10s));
    EXPECT_EQ(linesMatching(s.journalLines(), unexpected), 0u);

    // Killed: no closing line, which the next start reports first.
    ::kill(tolvane, SIGKILL);
    ASSERT_TRUE(waitForExit(tolvane, 5s));
    s.startTolvane();
    ASSERT_TRUE(waitUntil([&] { return linesMatching(s.journalLines(), started) == 3; }, 10s));
    const auto lines = s.journalLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(std::regex_search(lines[lines.size() - 2], unexpected)) << lines[lines.size() - 2];
}

TEST(Journal, ACancelledSessionEndChangesNothingAndTheRealOneClosesTheRun) {
    Station s;
    SessionManager manager;
    ASSERT_FALSE(manager.address().empty()) << "the session manager could not listen";
    ::setenv("SESSION_MANAGER", manager.address().c_str(), 1);
    const pid_t tolvane = s.startTolvane();
    ::unsetenv("SESSION_MANAGER");
    ASSERT_TRUE(manager.waitForClient(10s)) << "Tolvane did not register with the session manager";
    ASSERT_TRUE(waitForLine(s, std::regex(" 1000 "), 10s));
    const std::regex closing(" 100[1-4] ");

    // The session's question, then the end cancelled: nothing is journaled,
    // and the close box still asks.
    ASSERT_TRUE(manager.saveYourself(5s));
    manager.shutdownCancelled();
    Desktop desk(s.display());
    const auto window = desk.waitForWindow("^Vantorix: Tools Launcher - ", 5s);
    ASSERT_TRUE(window);
    desk.closeWindow(*window);
    const auto question = desk.waitForWindow("^Vantorix : Tools Launcher$", 5s);
    ASSERT_TRUE(question) << "the close box did not ask after a cancelled session end";
    desk.key(*question, "Escape");
    ASSERT_TRUE(waitUntil([&] { return !desk.findWindow("^Vantorix : Tools Launcher$"); }, 5s));
    EXPECT_EQ(s.tolvanes().size(), 1u);
    EXPECT_EQ(linesMatching(s.journalLines(), closing), 0u);

    // The real end: one closing line, the session's, and the last.
    ASSERT_TRUE(manager.saveYourself(5s));
    manager.die();
    ASSERT_TRUE(waitForExit(tolvane, 10s));
    const auto lines = s.journalLines();
    EXPECT_EQ(linesMatching(lines, closing), 1u);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_search(lines.back(), std::regex(" 1004 \\[-\\] Tolvane arrêté avec la fin de la session$")))
        << lines.back();
}

TEST(Journal, BlockedJournalFolderNeverStopsSupervisionAndIsReportedOnce) {
    Station s;
    // A file where the journal's folder should be.
    writeFile(s.dataHome() + "/Vantorix", "not a folder\n");
    s.launchAndVerifyEveryMinute(6);
    s.startTolvane({}, FakeMorning);
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 1, 10s));
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Tools_Data"); }, 5s));
    // Supervision goes on: the killed tool is started again, twice.
    for (std::size_t round = 2; round <= 3; ++round) {
        killTool(s, "VX8_Tools_Data");
        ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", round, 10s)) << "round " << round;
        ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Tools_Data"); }, 5s));
    }
    EXPECT_EQ(s.tolvanes().size(), 1u);
    const std::string complaint = "le journal ne peut pas être écrit";
    EXPECT_EQ(occurrences(s.errors(), complaint), 1u) << s.errors();
    EXPECT_FALSE(std::filesystem::exists(s.journalFolder()));
}

TEST(Journal, SettingsStoreThatCannotBeReadIsJournaledNotOnlyOnStandardError) {
    Station s;
    // A folder where the settings file should be: it can be neither read
    // nor written.
    std::filesystem::create_directories(s.settingsFile());
    s.startTolvane();
    ASSERT_TRUE(waitForLine(
        s, std::regex(R"( 5012 \[-\] Les réglages n'ont pas pu être lus : .* \| emplacement : .*/Tolvane\.ini$)"), 10s))
        << s.errors();
    const auto lines = s.journalLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_search(lines.front(), std::regex(" 1000 \\[-\\] Tolvane démarré"))) << lines.front();
}
