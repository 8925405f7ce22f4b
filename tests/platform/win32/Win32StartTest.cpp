// Starting programs with the Win32 backend, against real stand-ins: the
// thirty tools from a folder with blanks and accents, the show states, the
// "C:\Program.exe" trap, arguments under the Windows rules, refusals and the
// command-line limit.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "platform/shared/WindowsCommandLine.h"
#include "platform/win32/Win32Backend.h"
#include "supervisor/core/ToolTable.h"
#include "tests/support/win32/Win32ProcessFixture.h"

namespace tolvane::testsupport {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;
using tolvane::platform::ShowState;
using tolvane::platform::splitWindowsArguments;
using tolvane::platform::win32backend::buildCommandLine;
using tolvane::platform::win32backend::kCommandLineLimit;
using tolvane::platform::win32backend::toWide;
using tolvane::standin::StandinLogLine;

using Win32Start = Win32ProgramTest;

std::vector<std::string> toolNames() {
    std::vector<std::string> names;
    for (const auto& tool : tolvane::toolTable()) names.emplace_back(tool.baseName);
    return names;
}

// The station's day, compressed: thirty tools started, found by their
// windows, measured, one killed by its exact name while the longer-named
// siblings survive, and started again.
TEST_F(Win32Start, ThirtyToolsAreStartedFoundMeasuredKilledByExactNameAndStartedAgain) {
    const auto names = toolNames();
    ASSERT_EQ(names.size(), 30u);
    const auto paths = m_folder.addStandins(names);

    for (const auto& path : paths) ASSERT_TRUE(m_platform->startProgram(path, "/NoBase=0", ShowState::Minimised));
    ASSERT_TRUE(waitForLogLines(m_folder.path(), 30, 60s));
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto found = m_platform->topLevelWindowsExist(names);
            return std::all_of(found.begin(), found.end(), [](bool f) { return f; });
        },
        30s));

    std::map<std::string, long> pidOf;  // image name -> pid, from the log
    for (const StandinLogLine& line : m_folder.log()) {
        EXPECT_THAT(line.arguments, ElementsAre("/NoBase=0")) << line.executableName;
        EXPECT_EQ(line.showState, "minimised") << line.executableName;
        EXPECT_EQ(line.argv0, m_folder.file(line.executableName));
        EXPECT_TRUE(pidOf.emplace(line.executableName, line.pid).second) << "started twice: " << line.executableName;
    }
    ASSERT_EQ(pidOf.size(), 30u);
    for (const auto& name : names) {
        const auto window = findWindow(name);
        ASSERT_TRUE(window) << name;
        EXPECT_TRUE(window->iconic) << name;
        EXPECT_EQ(static_cast<long>(window->ownerPid), pidOf.at(name + ".exe")) << name;
    }

    // Every tool is listed under its exact image name, and measured.
    std::map<std::string, std::uint32_t> listed;
    for (const auto& p : m_platform->listProcesses()) listed[p.imageName] = p.pid;
    for (const auto& [image, pid] : pidOf) {
        ASSERT_EQ(listed.count(image), 1u) << image;
        EXPECT_EQ(static_cast<long>(listed.at(image)), pid) << image;
        const auto bytes = m_platform->workingSetBytes(static_cast<std::uint32_t>(pid));
        ASSERT_TRUE(bytes) << image;
        EXPECT_GT(*bytes, 64u * 1024u) << image;
    }

    // "VX8_Player" is a prefix of "VX8_Player_A" to "_H": only it goes.
    m_platform->killProcessesNamed("VX8_Player");
    ASSERT_TRUE(waitUntilGone("VX8_Player"));
    for (const auto& [image, pid] : pidOf) {
        if (image == "VX8_Player.exe") continue;
        EXPECT_TRUE(processAlive(static_cast<std::uint32_t>(pid))) << image << " was killed too";
    }
    for (const auto& name : names) EXPECT_EQ(m_platform->topLevelWindowExists(name), name != "VX8_Player") << name;

    // Tolvane starts a tool again at its next verification; a start refused
    // while taskkill is still ending the old instance is tried again the
    // same way here, a few times.
    std::optional<tolvane::standin::StandinLogLine> again;
    for (int attempt = 0; attempt < 5 && !again; ++attempt) {
        again = startAndLog(m_folder.file("VX8_Player.exe"), "/NoBase=0", ShowState::Minimised);
        if (!again) waitForTaskkillToFinish();
    }
    ASSERT_TRUE(again);
    EXPECT_EQ(again->executableName, "VX8_Player.exe");
    EXPECT_TRUE(waitUntil([&] { return m_platform->topLevelWindowExists("VX8_Player"); }, 20s));
}

TEST_F(Win32Start, TheShowStateReachesTheProgram) {
    struct Case {
        ShowState show;
        const char* logged;
        bool visible;
        bool iconic;
    };
    const Case cases[] = {{ShowState::Hidden, "hidden", false, false},
                          {ShowState::Normal, "normal", true, false},
                          {ShowState::Minimised, "minimised", true, true}};
    for (const Case& c : cases) {
        const std::string name = std::string("VX8_Show_") + c.logged;
        const auto line = startAndLog(m_folder.addStandin(name), "", c.show);
        ASSERT_TRUE(line) << name;
        EXPECT_EQ(line->showState, c.logged);
        const auto window = findWindow(name);
        ASSERT_TRUE(window) << name;
        EXPECT_EQ(window->visible, c.visible) << name;
        EXPECT_EQ(window->iconic, c.iconic) << name;
    }
}

// CreateProcessW given only an unquoted command line tries "C:\Program.exe"
// and "C:\Program Files\Vantorix.exe" before the real program. With stand-in
// copies planted there, a start through the backend must not reach them.
class Win32PathTrap : public Win32ProgramTest {
protected:
    std::string m_drive = programFilesFolder().substr(0, 3);  // "C:\"
    std::string m_programExe = m_drive + "Program.exe";
    std::string m_vantorixExe = programFilesFolder() + "\\Vantorix.exe";

    void SetUp() override {
        clear();
        copyStandin(m_programExe);
        copyStandin(m_vantorixExe);
    }
    void TearDown() override { clear(); }
    void clear() {
        for (const auto& trap : {m_programExe, m_vantorixExe}) {
            endProcessesRunningFrom(trap);
            removeFile(trap);
        }
        removeFile(m_drive + "standin.log");
        removeFile(programFilesFolder() + "\\standin.log");
    }
    std::size_t trapStarts() {
        return readStandinLog(m_drive.substr(0, 2)).size() + readStandinLog(programFilesFolder()).size();
    }
};

TEST_F(Win32PathTrap, APathWithBlanksNeverStartsAProgramNamedAfterItsFirstWord) {
    const std::string tool = m_folder.addStandin("VX8_Library");
    const auto line = startAndLog(tool, "/NoBase=0");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->executableName, "VX8_Library.exe");
    EXPECT_EQ(line->argv0, tool);
    EXPECT_THAT(line->arguments, ElementsAre("/NoBase=0"));
    EXPECT_EQ(trapStarts(), 0u);
}

TEST_F(Win32PathTrap, TheTrapIsRealForAnUnquotedCommandLine) {
    // What the backend must never do: leave the path to CreateProcessW's
    // guessing. Proves the planted programs would have been caught.
    const std::string tool = m_folder.addStandin("VX8_Library");
    auto commandLine = *toWide(tool + " /NoBase=0");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &started));
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    EXPECT_TRUE(waitUntil([&] { return trapStarts() == 1; }, 20s));
    EXPECT_THAT(m_folder.log(), IsEmpty());
}

// The argument text is handed over as typed, after the quoted path; the
// program's C runtime splits it by the Windows rules.
TEST_F(Win32Start, ArgumentsReachTheProgramByTheWindowsRules) {
    const std::string tool = m_folder.addStandin("VX8_Tools_Args");
    struct Case {
        std::string text;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"/NoBase=0", {"/NoBase=0"}},
        {"", {}},
        {"   ", {}},
        {"/Batch=J+ /Veille=True", {"/Batch=J+", "/Veille=True"}},
        {R"("C:\Program Files\Vantorix Été\data" /x)", {R"(C:\Program Files\Vantorix Été\data)", "/x"}},
        {R"(a\\\"b c)", {R"(a\"b)", "c"}},
        {R"("C:\dir\\" next)", {R"(C:\dir\)", "next"}},
        {R"("C:\dir\" next)", {R"(C:\dir" next)"}},
        {R"("a""b c" d)", {R"(a"b c)", "d"}},
        {R"(\\server\share\file "")", {R"(\\server\share\file)", ""}},
        // No shell, no wildcard expansion, no variables: plain text.
        {"*.exe %PATH% <in >out & echo; |x ^y", {"*.exe", "%PATH%", "<in", ">out", "&", "echo;", "|x", "^y"}},
        {"tab\tseparated", {"tab", "separated"}},
        {"Été Ünïcødé ✓ 日本", {"Été", "Ünïcødé", "✓", "日本"}},
    };
    for (const Case& c : cases) {
        const auto line = startAndLog(tool, c.text);
        ASSERT_TRUE(line) << c.text;
        EXPECT_EQ(line->argv0, tool) << c.text;
        EXPECT_THAT(line->arguments, ElementsAreArray(c.expected)) << c.text;
        // The same rules the Linux backend splits by.
        EXPECT_THAT(splitWindowsArguments(c.text), ElementsAreArray(c.expected)) << c.text;
    }
}

TEST_F(Win32Start, TheCommandLineIsTheQuotedPathThenTheTextAsTyped) {
    EXPECT_EQ(buildCommandLine(R"(C:\Program Files\Vantorix\VX8_Player.exe)", R"(/a "b c")"),
              R"("C:\Program Files\Vantorix\VX8_Player.exe" /a "b c")");
    EXPECT_EQ(buildCommandLine(R"(C:\Vantorix\VX8_Player.exe)", ""), R"(C:\Vantorix\VX8_Player.exe)");
    EXPECT_EQ(buildCommandLine(R"(C:\Program Files\VX8_Player.exe)", ""), R"("C:\Program Files\VX8_Player.exe")");
}

TEST_F(Win32Start, StartsThatCannotHappenAreRefused) {
    const std::string tool = m_folder.addStandin("VX8_Tools_Refused");
    EXPECT_FALSE(m_platform->startProgram(m_folder.file("Missing.exe"), "", ShowState::Normal));
    EXPECT_FALSE(m_platform->startProgram(m_folder.path(), "", ShowState::Normal));  // a folder
    EXPECT_FALSE(m_platform->startProgram("", "/NoBase=0", ShowState::Normal));
    EXPECT_FALSE(m_platform->startProgram(tool + "\xFF", "", ShowState::Normal));  // not UTF-8
    // Arguments that cannot reach the program exactly are not cut or guessed.
    EXPECT_FALSE(m_platform->startProgram(tool, std::string("a\0b", 3), ShowState::Normal));
    EXPECT_FALSE(m_platform->startProgram(tool, "caf\xC3", ShowState::Normal));
    // Nor is a tool started anywhere but in the folder asked for.
    EXPECT_FALSE(m_platform->startProgram(tool, "", ShowState::Normal, m_folder.file("Absent") + "\\"));
    waitForTaskkillToFinish();
    EXPECT_THAT(m_folder.log(), IsEmpty());
    EXPECT_THAT(processesNamed("VX8_Tools_Refused.exe"), IsEmpty());
}

// 32767 UTF-16 units with the ending NUL is the system's limit; "é" is two
// bytes of UTF-8 but one unit, so the limit is not counted in bytes.
TEST_F(Win32Start, TheCommandLineLimitIsCountedInUtf16Units) {
    const std::string tool = m_folder.addStandin("VX8_Tools_Long");
    const std::size_t pathUnits = toWide(buildCommandLine(tool, "x"))->size() - 1;  // with the blank
    const std::size_t room = kCommandLineLimit - 1 - pathUnits;
    std::string longest;
    for (std::size_t i = 0; i < room; ++i) longest += "é";

    const auto line = startAndLog(tool, longest);
    ASSERT_TRUE(line);
    ASSERT_EQ(line->arguments.size(), 1u);
    EXPECT_EQ(line->arguments.front(), longest);

    EXPECT_FALSE(m_platform->startProgram(tool, longest + "é", ShowState::Normal));
    EXPECT_FALSE(m_platform->startProgram(tool, std::string(1 << 20, 'x'), ShowState::Normal));
    EXPECT_EQ(m_folder.log().size(), 1u);
}

TEST_F(Win32Start, TheProgramRunsInTheFolderItIsGiven) {
    const std::string tool = m_folder.addStandin("VX8_Tools_Folder");
    ASSERT_TRUE(m_platform->startProgram(tool, "", ShowState::Hidden, m_folder.path() + "\\"));
    ASSERT_TRUE(waitForLogLines(m_folder.path(), 1, 20s));
    EXPECT_EQ(m_folder.log().front().workingFolder, m_folder.path());
}

TEST_F(Win32Start, StartingNeverWaitsForTheProgram) {
    // A stand-in runs until it is killed: a start that waited for it would
    // never come back (ctest's timeout would end the test).
    const std::string tool = m_folder.addStandin("VX8_Tools_Wait");
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_platform->startProgram(tool, "", ShowState::Hidden));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
    ASSERT_TRUE(waitForLogLines(m_folder.path(), 1, 20s));
    EXPECT_TRUE(processAlive(static_cast<std::uint32_t>(m_folder.log().front().pid)));
}

}  // namespace
}  // namespace tolvane::testsupport
