// The journal on Windows: the real Tolvane.exe under wine reports a tool it
// started again after its verification found no window to the Application
// event log, as the same line its daily file holds; and, without running
// anything, the message table in Tolvane.exe and Krandel.exe and the MSI
// rows that register both as event sources.
//
// Wine keeps no event log that could be read back: its ReportEventW writes
// each string to the "eventlog" debug channel (warnings as "warn", errors as
// "err", the rest as "trace") and says what it was called with on the
// "advapi" channel's fixme line, IDs included. With those channels on,
// Tolvane's standard error is the event log here. A real Windows is checked
// in Event Viewer (README, "Journal").
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <QString>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "journal/JournalFiles.h"
#include "platform/shared/WindowsEventLog.h"
#include "supervisor/core/ToolTable.h"
#include "tests/support/posix/Processes.h"
#include "tests/support/posix/TempFolder.h"
#include "tests/support/wine/WineStation.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tolvane::testsupport::readFile;
using tolvane::testsupport::waitForExit;
using tolvane::testsupport::waitUntil;
using tolvane::testsupport::WineStation;

const std::string Folder = "C:\\Program Files\\Vantorix \xC3\x89t\xC3\xA9";
const std::string SettingsKey = "HKCU\\Software\\Vantorix\\Tolvane";
const std::string SourcesKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// The message IDs of an executable's message table, as windres reads its
// resources back.
std::set<std::uint32_t> messageIds(const std::string& executable, std::string& output) {
    const auto read =
        tolvane::testsupport::runOnHost({"x86_64-w64-mingw32-windres", "-J", "coff", "-O", "rc", "-i", executable});
    output = read.output;
    std::set<std::uint32_t> ids;
    const std::regex id(R"(MessageId = 0x([0-9a-fA-F]+))");
    for (auto it = std::sregex_iterator(read.output.begin(), read.output.end(), id); it != std::sregex_iterator(); ++it)
        ids.insert(static_cast<std::uint32_t>(std::stoul((*it)[1], nullptr, 16)));
    return ids;
}

TEST(WindowsJournal, BothProgramsCarryAMessagePerEventAndTheMsiRegistersThemAsSources) {
    std::set<std::uint32_t> expected;
    for (const auto event : tolvane::allJournalEvents())
        expected.insert(
            tolvane::platform::eventLogEventId(tolvane::systemLogSeverity(event), static_cast<std::uint16_t>(event)));

    const std::string msi = WineStation::windowsBuild() + "/Tolvane-" + WineStation::versionStamp() + "-x64.msi";
    ASSERT_TRUE(fs::exists(msi)) << msi << " (scripts/build-windows)";
    const auto registry = tolvane::testsupport::msiTable(msi, "Registry");
    // The components the default feature installs (the logon start's is
    // not one of them).
    std::set<std::string> defaultComponents;
    for (const auto& row : tolvane::testsupport::msiTable(msi, "FeatureComponents"))
        if (row.size() >= 2 && row[0] == "Tolvane") defaultComponents.insert(row[1]);

    struct Program {
        std::string executable;
        std::string source;
    };
    for (const Program& program : {Program{"Tolvane.exe", "Tolvane"}, Program{"Krandel.exe", "Krandel"}}) {
        SCOPED_TRACE(program.executable);
        const std::string path = WineStation::windowsBuild() + "/deploy/" + program.executable;
        ASSERT_TRUE(fs::exists(path)) << path;
        std::string resources;
        EXPECT_EQ(messageIds(path, resources), expected) << "the message table, as windres reads it:\n"
                                                         << resources.substr(0, 4000);

        std::map<std::string, std::string> values;
        for (const auto& row : registry) {
            if (row.size() < 6 || row[2] != SourcesKey + program.source) continue;
            EXPECT_EQ(row[1], "2") << "the source must be registered machine-wide (HKLM)";
            EXPECT_TRUE(defaultComponents.count(row[5])) << row[3] << " is not installed by default";
            values[row[3]] = row[4];
        }
        // wixl writes no REG_EXPAND_SZ: a plain string, which the event log
        // reads as well.
        EXPECT_EQ(values["EventMessageFile"], "[INSTALLDIR]" + program.executable);
        EXPECT_EQ(values["TypesSupported"], "#7") << "error, warning and information";
        EXPECT_EQ(values.size(), 2u);
    }
}

// The text of a string wine printed with debugstr_w: L"..." with \\, \",
// \n, \r, \t and \XXXX (a UTF-16 unit in hex) escaped; back to UTF-8.
// `cut` tells whether wine shortened it ("..." after the closing quote).
std::optional<std::string> wineString(const std::string& printed, bool& cut) {
    const auto open = printed.find("L\"");
    if (open == std::string::npos) return std::nullopt;
    std::u16string text;
    std::size_t at = open + 2;
    for (; at < printed.size() && printed[at] != '"'; ++at) {
        if (printed[at] != '\\' || at + 1 >= printed.size()) {
            text += static_cast<char16_t>(static_cast<unsigned char>(printed[at]));
            continue;
        }
        const char next = printed[++at];
        if (next == 'n')
            text += u'\n';
        else if (next == 'r')
            text += u'\r';
        else if (next == 't')
            text += u'\t';
        else if (std::isxdigit(static_cast<unsigned char>(next)) && at + 3 < printed.size()) {
            text += static_cast<char16_t>(std::stoul(printed.substr(at, 4), nullptr, 16));
            at += 3;
        } else {
            text += static_cast<char16_t>(next);
        }
    }
    if (at >= printed.size()) return std::nullopt;
    cut = printed.compare(at + 1, 3, "...") == 0;
    return QString::fromStdU16String(text).toStdString();
}

TEST(WindowsJournal, ARestartAfterAFailedVerificationReachesTheEventLogAsAWarningWithTheDayFilesLine) {
    tolvane::testsupport::adoptOrphans();
    WineStation station;
    const int tool = 6;
    const std::string toolName(tolvane::toolBaseName(tool).value_or(""));
    ASSERT_FALSE(toolName.empty());

    // Tolvane as deployed, and one stand-in under the tool's name.
    const std::string folder = station.hostPath(Folder);
    const std::string deploy = WineStation::windowsBuild() + "/deploy";
    ASSERT_TRUE(fs::exists(deploy + "/Tolvane.exe")) << deploy << " (scripts/build-windows)";
    ASSERT_TRUE(fs::exists(WineStation::standinExe())) << WineStation::standinExe();
    for (const auto& entry : fs::directory_iterator(deploy))
        if (entry.is_regular_file())
            tolvane::testsupport::copyInto(entry.path(), folder + "/" + entry.path().filename().string());
    tolvane::testsupport::copyInto(WineStation::standinExe(), folder + "/" + toolName + ".exe");

    // Started by the launch sequence and verified at "01 Min", which takes
    // three seconds with the wall clock twenty times as fast.
    for (const auto& [section, value] : std::vector<std::pair<std::string, std::string>>{
             {"Launch", "1"}, {"Tempo", "0"}, {"Check", "1"}, {"Freq", "0"}})
        ASSERT_TRUE(station.regSet(SettingsKey + "\\" + section, "Idx_" + std::to_string(tool), value)) << section;

    tolvane::testsupport::TempFolder scratch("journal");
    const std::string errors = scratch.path() + "/tolvane-stderr.txt";
    // Wine's channels for this one program: the strings ReportEventW was
    // given, and the fixme line with its type and event ID.
    ::setenv("WINEDEBUG", "-all,+eventlog,fixme+advapi", 1);
    const pid_t tolvane = station.startWithErrorsTo(errors, Folder + "\\Tolvane.exe", {}, "@2026-12-08 10:00:00 x20");
    ::setenv("WINEDEBUG", "-all", 1);
    // Whatever happens below, Tolvane and the tool end with the test.
    struct EndAll {
        WineStation& station;
        pid_t tolvane;
        std::string tool;
        ~EndAll() {
            for (const std::string& exe : {std::string("Tolvane.exe"), tool + ".exe"})
                for (const pid_t pid : station.processes(exe)) ::kill(pid, SIGKILL);
            ::kill(tolvane, SIGKILL);
            waitForExit(tolvane, 10s);
        }
    } endAll{station, tolvane, toolName};

    std::vector<pid_t> running;
    ASSERT_TRUE(waitUntil([&] { return !(running = station.processes(toolName + ".exe")).empty(); }, 40s))
        << "the launch sequence did not start " << toolName << "\n"
        << readFile(errors);
    // Its window is up before it goes, so the verification that follows
    // finds none only because it went.
    ASSERT_TRUE(waitUntil([&] { return station.windowExists(toolName); }, 20s));
    for (const pid_t pid : running) ::kill(pid, SIGKILL);

    // Started again by its verification (2003), or, once a verification
    // has seen its window and its end was watched, by the verification two
    // seconds after that end (2004): whichever came first here.
    std::string reported;
    std::smatch m;
    const std::regex eventLine(R"((^|\n)([0-9a-f]+):(\w+):eventlog:ReportEventW (L"(200[34]) \[[^\n]*))");
    const bool seen = waitUntil(
        [&] {
            reported = readFile(errors);
            return std::regex_search(reported, m, eventLine);
        },
        30s);
    ASSERT_TRUE(seen) << "no restart of " << toolName << " in wine's eventlog channel:\n" << reported;
    const std::string thread = m[2], level = m[3], printed = m[4], event = m[5];
    const std::string wanted = event + " [" + std::to_string(tool) + " " + toolName + "] ";
    EXPECT_EQ(level, "warn") << "a restart is a warning";

    // Its call: the warning type and the full ID of its message in the
    // table, severity bits included, reported by the same thread just
    // before.
    const std::regex fixme(thread +
                           R"(:fixme:advapi:ReportEventW \([0-9A-Fa-f]+,(0x[0-9a-f]+),0x[0-9a-f]+,(0x[0-9a-f]+),)");
    const std::string before = reported.substr(0, static_cast<std::size_t>(m.position(0)));
    std::string lastCall;
    for (auto it = std::sregex_iterator(before.begin(), before.end(), fixme); it != std::sregex_iterator(); ++it)
        lastCall = (*it)[1].str() + " " + (*it)[2].str();
    EXPECT_EQ(lastCall, event == "2003" ? "0x0002 0x800007d3" : "0x0002 0x800007d4")
        << "type and event ID of the " << event << " report";

    bool cut = false;
    const auto line = wineString(printed, cut);
    ASSERT_TRUE(line) << printed;
    EXPECT_EQ(line->rfind(wanted, 0), 0u) << *line;
    // The accents came through as UTF-16 ("Relancé").
    EXPECT_NE(line->find("Relanc\xC3\xA9"), std::string::npos) << printed;

    // The same line in the day's file, after its time stamp.
    std::vector<std::string> fileLines;
    for (const auto& l : station.journalLines("Tolvane"))
        if (l.find(wanted) != std::string::npos) fileLines.push_back(l);
    ASSERT_EQ(fileLines.size(), 1u) << "lines with \"" << wanted << "\" in the daily files under "
                                    << station.hostPath("C:\\users") << "/*/AppData/Local/Vantorix/Tolvane/journal";
    const std::string inFile(tolvane::systemLogPart(fileLines.front()));
    if (cut)
        EXPECT_EQ(inFile.rfind(*line, 0), 0u) << inFile << "\n" << *line;
    else
        EXPECT_EQ(inFile, *line);

    // The session ends (wine's end of session sends WM_QUERYENDSESSION,
    // then WM_ENDSESSION): Tolvane goes without asking the quit question,
    // and its last line, in the file and in the event log, says why.
    EXPECT_EQ(station.run({"wineboot", "--end-session"}).status, 0);
    ASSERT_TRUE(waitForExit(tolvane, 20s)) << "Tolvane did not end with the session";
    const auto last = station.journalLines("Tolvane");
    ASSERT_FALSE(last.empty());
    EXPECT_NE(last.back().find(" 1004 [-] Tolvane arr\xC3\xAAt\xC3\xA9 avec la fin de la session"), std::string::npos)
        << last.back();
    EXPECT_NE(readFile(errors).find(":eventlog:ReportEventW L\"1004 [-] "), std::string::npos);
}

}  // namespace
