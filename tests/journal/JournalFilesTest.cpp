// The journal on a real disk: a day's file cut short never stops a start, a
// line reaches the file whole or not at all (and a file that cannot be
// written is told once, in the system's log too), the repeats a run still
// owes are written before its closing line, and a line folded into a loop's
// is counted without being written.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

#include "journal/JournalFiles.h"
#include "tests/support/posix/TempFolder.h"

namespace tolvane {
namespace {

using namespace std::chrono;
using testsupport::readFile;
using testsupport::writeFile;

local_seconds at(unsigned d, int h, int mi, int s) {
    return local_days{2026y / December / d} + hours{h} + minutes{mi} + seconds{s};
}

struct JournalOnDisk {
    testsupport::TempFolder temp;
    JournalClock now{at(8, 3, 0, 0), hours{1}};
    std::vector<std::string> logged;
    std::vector<std::string> complaints;

    std::unique_ptr<JournalFiles> open() {
        auto journal = std::make_unique<JournalFiles>("Tolvane", temp.path());
        journal->clock = [this] { return now; };
        journal->systemLog = [this](platform::LogSeverity, const std::string& line) {
            logged.push_back(line);
            return platform::SystemLogResult::Sent;
        };
        journal->complain = [this](const std::string& message) { complaints.push_back(message); };
        return journal;
    }
    std::string today() const { return readFile(temp.file("2026-12-08.log")); }
};

const std::string Restart = " 2003 [6 VX8_Tools_Data] Relancé : la vérification n'a trouvé aucune fenêtre";

TEST(JournalOnDisk, ATornLineNeverStopsTheStartAndTheNextLineStartsOnItsOwn) {
    // Cut by a power failure while a newer-dated file exists (a clock set
    // back), so that nothing is written after the fragment before it is read.
    JournalOnDisk disk;
    const std::string torn =
        "2026-12-08 01:00:00 +0100" + Restart + "\n2026-12-08 03:59:00 +0100 2003 [6 VX8_Tools_Data] Rel";
    writeFile(disk.temp.file("2026-12-08.log"), torn);
    writeFile(disk.temp.file("2026-12-09.log"), "2026-12-09 00:10:00 +0100 1003 [-] Tolvane arrêté\n");
    disk.now.local = at(8, 4, 7, 10);
    const auto journal = disk.open();
    ASSERT_NO_THROW(journal->beginRun({}));
    EXPECT_EQ(disk.today(), torn + "\n2026-12-08 04:07:10 +0100 1000 [-] Tolvane démarré\n");
    EXPECT_EQ(journal->restartsToday(6), (RestartsToday{1, hours{1}}));
}

TEST(JournalOnDisk, ALineGoesWholeOrNotAtAllAndAnUnwritableFileIsToldOnce) {
    JournalOnDisk disk;
    const auto journal = disk.open();
    journal->record({JournalEvent::TolvaneStarted, {}, {}});
    const std::string before = disk.today();

    // A file size limit cuts the next write short, as a full disk does.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = before.size() + 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    journal->record({JournalEvent::ToolKilled, 6, {{"programme", "VX8_Tools_Data"}}});
    journal->record({JournalEvent::ToolKilled, 7, {{"programme", "VX8_Tools_Live"}}});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(disk.today(), before);
    EXPECT_EQ(disk.complaints.size(), 1u);

    disk.now.local += seconds{5};
    journal->record({JournalEvent::ToolKilled, 8, {{"programme", "VX8_Tools_FTP"}}});
    const std::string after = disk.today();
    ASSERT_EQ(after.substr(0, before.size()), before);
    EXPECT_EQ(
        after.substr(before.size()),
        "2026-12-08 03:00:05 +0100 9003 [-] Le fichier du journal peut de nouveau être écrit | lignes perdues : 2\n"
        "2026-12-08 03:00:05 +0100 2020 [8 VX8_Tools_FTP] Arrêt forcé par le bouton « Kill » | programme : VX8_Tools_FTP\n");
    // The system's log heard of the failure once, and of its end.
    ASSERT_EQ(disk.logged.size(), 6u);
    EXPECT_TRUE(
        disk.logged[1].starts_with("9002 [-] Le fichier du journal ne peut pas être écrit : les lignes ne vont "
                                   "qu'au journal du système tant que cela dure | dossier : " +
                                   disk.temp.path() + " | raison : "))
        << disk.logged[1];
    EXPECT_EQ(disk.logged[4], "9003 [-] Le fichier du journal peut de nouveau être écrit | lignes perdues : 2");

    // A disk that is full is named so.
    JournalOnDisk full;
    std::filesystem::create_symlink("/dev/full", full.temp.file("2026-12-08.log"));
    full.open()->record({JournalEvent::TolvaneStarted, {}, {}});
    ASSERT_EQ(full.complaints.size(), 1u);
    EXPECT_NE(full.complaints[0].find("(disque plein, "), std::string::npos) << full.complaints[0];
}

TEST(JournalOnDisk, RepeatsStillMergedAreWrittenBeforeTheClosingLine) {
    JournalOnDisk disk;
    auto journal = disk.open();
    for (const int second : {30, 40, 50}) {
        disk.now.local = at(8, 3, 59, second);
        journal->record({JournalEvent::ToolRestartedByVerification, 6, {}});
    }
    disk.now.local = at(8, 4, 7, 0);
    journal->record({JournalEvent::EndedForDailyRestart, {}, {}});
    EXPECT_EQ(disk.today(), "2026-12-08 03:59:30 +0100" + Restart + "\n2026-12-08 03:59:50 +0100" + Restart +
                                " (répété 1 fois depuis la ligne précédente)\n"
                                "2026-12-08 04:07:00 +0100 1002 [-] Tolvane arrêté pour le redémarrage quotidien, "
                                "relais confié à Krandel\n");
    // The next run's tooltip counts the whole night.
    disk.now.local = at(8, 4, 7, 10);
    journal = disk.open();
    journal->beginRun({});
    EXPECT_EQ(journal->restartsToday(6), (RestartsToday{3, hours{3} + minutes{59} + seconds{50}}));
}

TEST(JournalOnDisk, AFoldedRestartIsCountedButNotWritten) {
    JournalOnDisk disk;
    auto journal = disk.open();
    journal->fold({JournalEvent::ToolRestartedAfterEnd, 6, {}});
    journal->fold({JournalEvent::ToolEnded, 6, {}});
    EXPECT_FALSE(std::filesystem::exists(disk.temp.file("2026-12-08.log")));
    EXPECT_TRUE(disk.logged.empty());
    EXPECT_EQ(journal->restartsToday(6), (RestartsToday{1, hours{3}}));
}

}  // namespace
}  // namespace tolvane
