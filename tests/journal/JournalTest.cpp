// The journal's rules: the form of a line and its escaping, the merging of
// repeats, the daily cap, the file names and their expiry, and how the last
// run ended.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "journal/Journal.h"

namespace tolvane {
namespace {

using namespace std::chrono;

local_seconds at(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
    return local_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

bool isValidUtf8WithoutControls(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F) return false;
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

TEST(Journal, EscapingKeepsEveryEventOnOneLineOfValidText) {
    const struct {
        std::string raw;
        std::string escaped;
    } cases[] = {
        {"/NoBase=0 \"a b\"", "/NoBase=0 \"a b\""},
        {"C:\\Vantorix\\VX8", "C:\\\\Vantorix\\\\VX8"},
        {"un\ndeux\ttrois\rquatre", "un\\ndeux\\ttrois\\rquatre"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x01\x1B[31m\x7F", "\\x01\\x1B[31m\\x7F"},
        {"Été à 04:07 ♪ \xF0\x9F\x8E\xB5", "Été à 04:07 ♪ \xF0\x9F\x8E\xB5"},  // text stays text
        {"caf\xC3", "caf\\xC3"},                                               // cut sequence
        {"\xC3\x28", "\\xC3("},                                                // bad continuation
        {"\xC0\xAF", "\\xC0\\xAF"},                                            // overlong '/'
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},                                   // a surrogate
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},                          // past U+10FFFF
        {"\xFF\xFE", "\\xFF\\xFE"},
        {"a\xC2\x85z", "a\\xC2\\x85z"},                                      // NEL, a line break to some readers
        {"a\xE2\x80\xA8z\xE2\x80\xA9", "a\\xE2\\x80\\xA8z\\xE2\\x80\\xA9"},  // line and paragraph separators
        {"\\x41", "\\\\x41"},                                // an escape's look-alike stays distinguishable
        {"/X | raison : forgée", "/X \\| raison : forgée"},  // no detail of its own
    };
    for (const auto& c : cases) {
        const std::string escaped = escapeJournalText(c.raw);
        EXPECT_EQ(escaped, c.escaped) << c.escaped;
        EXPECT_TRUE(isValidUtf8WithoutControls(escaped)) << c.escaped;
    }
}

TEST(Journal, LineHoldsInstantOffsetNumberToolTextAndArguments) {
    const auto winter = at(2026, 12, 8, 4, 7, 12);
    const struct {
        JournalClock clock;
        JournalEntry entry;
        int merged;
        std::string line;
    } cases[] = {
        {{winter, hours{1}},
         {JournalEvent::ToolRestartedByVerification, 6, {{"arguments", "/NoBase=0"}}},
         0,
         "2026-12-08 04:07:12 +0100 2003 [6 VX8_Tools_Data] Relancé : la vérification n'a trouvé aucune fenêtre"
         " | arguments : /NoBase=0"},
        {{at(2026, 7, 1, 23, 59, 59), hours{2}},
         {JournalEvent::ToolStartRefused, 12, {{"demande", "séquence de lancement"}, {"raison", "Permission denied"}}},
         4,
         "2026-07-01 23:59:59 +0200 2010 [12 VX8_Player_A] Démarrage refusé par le système (répété 4 fois depuis la "
         "ligne précédente) | demande : séquence de lancement | raison : Permission denied"},
        {{at(2026, 1, 2, 0, 0, 0), seconds{0}},
         {JournalEvent::EndedForDailyRestart, {}, {}},
         0,
         "2026-01-02 00:00:00 +0000 1002 [-] Tolvane arrêté pour le redémarrage quotidien, relais confié à Krandel"},
        {{at(2026, 3, 9, 6, 15, 0), -(hours{3} + minutes{30})},
         {JournalEvent::ToolStartedByBatch, 2, {{"arguments", "/Batch=J+ <OptDuree:1>\r\n"}}},
         0,
         "2026-03-09 06:15:00 -0330 2002 [2 VX8_Tools_Scheduler] Démarré en batch | arguments : /Batch=J+ "
         "<OptDuree:1>\\r\\n"},
        // An index outside the table names no tool.
        {{winter, hours{1}},
         {JournalEvent::ToolKilled, 30, {{"programme", "x|y"}}},
         0,
         "2026-12-08 04:07:12 +0100 2020 [-] Arrêt forcé par le bouton « Kill » | programme : x\\|y"},
    };
    for (const auto& c : cases) {
        const std::string line = formatJournalLine(c.clock, c.entry, c.merged);
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(systemLogPart(line), line.substr(26)) << "the system's log stamps its own instant";
    }
}

TEST(Journal, RepeatsAreMergedForAMinuteAndTheCapStopsTheDay) {
    // One event for one tool at most once a minute; the line after a run of
    // repeats counts them.
    const auto t0 = at(2026, 12, 8, 3, 0, 0);
    const struct {
        JournalEvent event;
        std::optional<int> tool;
        int second;
        std::optional<int> written;  // merged count on the line, nothing when merged away
    } steps[] = {
        {JournalEvent::ToolRestartedByVerification, 6, 0, 0},
        {JournalEvent::ToolRestartedByVerification, 6, 10, std::nullopt},
        {JournalEvent::ToolRestartedByVerification, 7, 20, 0},  // another tool
        {JournalEvent::ToolStartRefused, 6, 30, 0},             // another event
        {JournalEvent::ToolRestartedByVerification, 6, 59, std::nullopt},
        {JournalEvent::ToolRestartedByVerification, 6, 60, 2},
        {JournalEvent::ToolRestartedByVerification, 6, 61, std::nullopt},
        {JournalEvent::ToolRestartedByVerification, 6, 3600, 1},
        {JournalEvent::ToolRestartedByVerification, 6, 1800, 0},  // clock set back: written
        // A change of state is written each time: a second outage within a
        // minute must not end on "answers again".
        {JournalEvent::DisplayNotAnswering, std::nullopt, 1801, 0},
        {JournalEvent::DisplayAnsweringAgain, std::nullopt, 1805, 0},
        {JournalEvent::DisplayNotAnswering, std::nullopt, 1806, 0},
        {JournalEvent::JournalFileUnwritable, std::nullopt, 1809, 0},
        {JournalEvent::JournalFileUnwritable, std::nullopt, 1809, 0},
        // An operator's two clicks on one row within a minute are two lines.
        {JournalEvent::ToolChoiceChanged, 6, 1810, 0},
        {JournalEvent::ToolChoiceChanged, 6, 1811, 0},
    };
    JournalRepeats repeats;
    for (const auto& s : steps)
        EXPECT_EQ(repeats.admit({s.event, s.tool, {}}, {t0 + seconds{s.second}, {}}), s.written)
            << "at second " << s.second;
    // What is still merged away when the run ends: the last repeat, with
    // the ones before it merged into it.
    EXPECT_TRUE(repeats.admit({JournalEvent::ToolRestartedByVerification, 6, {{"arguments", "/A"}}},
                              {t0 + seconds{1830}, {}}) == std::nullopt);
    EXPECT_TRUE(repeats.admit({JournalEvent::ToolRestartedByVerification, 6, {{"arguments", "/B"}}},
                              {t0 + seconds{1840}, {}}) == std::nullopt);
    const auto pending = repeats.takePending();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(formatJournalLine(pending[0].at, pending[0].entry, pending[0].merged).substr(11),
              "03:30:40 +0000 2003 [6 VX8_Tools_Data] Relancé : la vérification n'a trouvé aucune fenêtre (répété 1 "
              "fois depuis la ligne précédente) | arguments : /B");
    EXPECT_TRUE(repeats.takePending().empty());

    // A cap of 100 bytes: the line that would pass it is replaced by the
    // notice, then nothing until midnight, even a line that would fit.
    using D = JournalDayCap::Decision;
    const auto day1 = floor<days>(t0);
    const auto day2 = day1 + days{1};
    const struct {
        bool newRun;  // a new Tolvane (after the restart) meets the file
        local_days day;
        std::uint64_t fileSize;
        std::uint64_t lineSize;
        D decision;
    } cap[] = {
        {false, day1, 0, 40, D::Write},
        {false, day1, 40, 60, D::Write},
        {false, day1, 99, 2, D::WriteFullNotice},
        {false, day1, 60, 1, D::Drop},  // a file cut meanwhile does not reopen the day
        {false, day2, 0, 40, D::Write},
        {false, day2, 40, 61, D::WriteFullNotice},
        {true, day2, 140, 10, D::Drop},
        {true, day2, 99, 1, D::Write},
    };
    std::optional<JournalDayCap> gate;
    for (const auto& c : cap) {
        if (!gate || c.newRun) gate.emplace(100);
        EXPECT_EQ(gate->admit(c.day, c.fileSize, c.lineSize), c.decision)
            << "size " << c.fileSize << " + " << c.lineSize;
    }
}

TEST(Journal, EachLineParsesBackToTheDetailsWrittenAndStaysALine) {
    const std::string huge(10 * 1024 * 1024, 'a');
    const std::vector<JournalDetail> details{
        {"arguments", "/NoBase=0 | raison : forgée | x : y"},
        {"programme", "C:\\Vantorix\\"},  // a backslash just before the separator
        {"raison", std::string("\\|\n\x01\xFF | ", 8)},
        {"vide", ""},
    };
    const JournalClock clock{at(2026, 12, 8, 4, 7, 12), hours{1}};
    const std::string line = formatJournalLine(clock, {JournalEvent::ToolStartRefused, 6, details});
    EXPECT_EQ(journalLineDetails(line), details) << line;
    // One huge value is cut at the bound and says how long it was.
    const std::string cut =
        formatJournalLine(clock, {JournalEvent::ToolTextChanged, 6, {{"avant", huge}, {"après", "x"}}});
    EXPECT_LT(cut.size(), 2 * JournalDetailLimit);
    EXPECT_EQ(journalLineDetails(cut),
              (std::vector<JournalDetail>{
                  {"avant", std::string(JournalDetailLimit, 'a') + " [...] (tronqué, 10485760 octets en tout)"},
                  {"après", "x"}}));
    // Never inside an escape or a character.
    EXPECT_EQ(escapeJournalText("aé\n", 2), "a [...] (tronqué, 4 octets en tout)");
}

TEST(Journal, EveryEventHasItsOwnNumberAndText) {
    // The README's table and the Windows message table are keyed by these
    // numbers: a duplicate or an event without a text would show wrong there.
    int previous = 0;
    for (const auto event : allJournalEvents()) {
        EXPECT_LT(previous, static_cast<int>(event));
        EXPECT_NE(journalText(event), "Événement") << static_cast<int>(event);
        previous = static_cast<int>(event);
    }
}

TEST(Journal, FilesAreNamedByDayAndExpireAfterThirtyOneDays) {
    const auto today = local_days{2026y / December / 8};
    EXPECT_EQ(journalFileName(today), "2026-12-08.log");
    EXPECT_EQ(journalFileDay("2026-02-29.log"), std::nullopt);  // no such day
    EXPECT_EQ(journalFileDay("2024-02-29.log"), local_days{2024y / February / 29});
    const std::vector<std::string> names{"2026-12-08.log", "2026-11-07.log", "2026-11-06.log", "2025-12-31.log",
                                         "notes.log",      "2026-1-06.log",  "2026-11-0x.log", "2026-11-01.txt"};
    EXPECT_EQ(expiredJournalFiles(names, today), (std::vector<std::string>{"2026-11-06.log", "2025-12-31.log"}));
    EXPECT_EQ(newestJournalFile(names), "2026-12-08.log");
    EXPECT_EQ(newestJournalFile({"notes.log"}), std::nullopt);
}

TEST(Journal, LastLineTellsHowTheLastRunEnded) {
    const struct {
        std::string lastLine;
        LastRunEnding ending;
    } cases[] = {
        {"2026-12-08 04:07:00 +0100 1002 [-] Tolvane arrêté pour le redémarrage quotidien", LastRunEnding::Closed},
        {"2026-12-08 04:07:00 +0100 1001 [-] Tolvane arrêté par l'opérateur", LastRunEnding::Closed},
        {"2026-12-08 04:07:00 +0100 1003 [-] x", LastRunEnding::Closed},
        {"2026-12-08 04:07:00 +0100 1004 [-] x", LastRunEnding::Closed},
        {"2026-12-08 09:30:00 +0100 1012 [-] x | session : 1", LastRunEnding::Closed},
        {"2026-12-08 09:30:00 +0100 1013 [-] x | session : 0", LastRunEnding::Closed},
        {"2026-12-08 03:12:45 +0100 2003 [12 VX8_Player_A] Relancé", LastRunEnding::Unexpected},
        {"2026-12-08 03:12:45 +0100 1000 [-] Tolvane démarré", LastRunEnding::Unexpected},
        // A full day may have dropped the closing line; a cut or foreign
        // line says nothing.
        {"2026-12-08 03:12:45 +0100 9001 [-] Journal du jour plein", LastRunEnding::Unknown},
        {"2026-12-08 03:12", LastRunEnding::Unknown},
        {"", LastRunEnding::Unknown},
        {"2026-12-08 03:12:45 +0100 10012 [-]", LastRunEnding::Unexpected},
        {"2026-12-08 03:12:45 +0100 1001x [-]", LastRunEnding::Unknown},
    };
    for (const auto& c : cases) EXPECT_EQ(lastRunEnding(c.lastLine), c.ending) << c.lastLine;

    JournalDailyChore chore(local_days{2026y / December / 8});
    EXPECT_FALSE(chore.due(at(2026, 12, 8, 23, 59, 59)));
    EXPECT_TRUE(chore.due(at(2026, 12, 9, 0, 0, 20)));
    EXPECT_FALSE(chore.due(at(2026, 12, 9, 0, 0, 50)));
}

}  // namespace
}  // namespace tolvane
