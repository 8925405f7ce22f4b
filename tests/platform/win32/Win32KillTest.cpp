// Killing by image name, the process list and working sets with the Win32
// backend, against real stand-ins.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/win32/Win32Backend.h"
#include "tests/support/win32/Win32ProcessFixture.h"

namespace tolvane::testsupport {
namespace {

using testing::Contains;
using testing::IsEmpty;
using testing::SizeIs;
using tolvane::platform::ProcessInfo;
using tolvane::platform::ShowState;

using Win32Kill = Win32ProgramTest;
using Win32ProcessList = Win32ProgramTest;

std::uint32_t pidOf(const std::optional<tolvane::standin::StandinLogLine>& line) {
    return line ? static_cast<std::uint32_t>(line->pid) : 0;
}

TEST_F(Win32Kill, EndsEveryProcessOfExactlyThatNameWhateverItsCase) {
    const auto player = m_folder.addStandin("VX8_Player");
    const std::uint32_t first = pidOf(startAndLog(player, ""));
    const std::uint32_t second = pidOf(startAndLog(player, ""));
    const std::uint32_t longer = pidOf(startAndLog(m_folder.addStandin("VX8_Player_A"), ""));
    const std::uint32_t containing = pidOf(startAndLog(m_folder.addStandin("My_VX8_Player"), ""));
    ASSERT_TRUE(first && second && longer && containing);

    m_platform->killProcessesNamed("vx8_PLAYER");
    ASSERT_TRUE(waitUntilGone("VX8_Player"));
    EXPECT_FALSE(processAlive(first));
    EXPECT_FALSE(processAlive(second));
    EXPECT_TRUE(processAlive(longer));
    EXPECT_TRUE(processAlive(containing));
}

TEST_F(Win32Kill, WatchesHoldEveryProcessOfThatNameUntilItEndsAndTellItsExitCode) {
    const auto watched = m_folder.addStandin("VX8_Watched");
    const std::uint32_t first = pidOf(startAndLog(watched, ""));
    const std::uint32_t second = pidOf(startAndLog(watched, ""));
    ASSERT_TRUE(pidOf(startAndLog(m_folder.addStandin("VX8_Watched_A"), "")));
    const auto crasher = m_folder.addStandin("VX8_Watched_Crash");
    writeFile(crasher + ".standin", "crash_after_ms=1500\n");
    const std::uint32_t crashing = pidOf(startAndLog(crasher, ""));
    ASSERT_TRUE(first && second && crashing);

    auto watches = m_platform->watchProcessesNamed({"vx8_WATCHED", "VX8_Nobody", "VX8_Watched_Crash"});
    ASSERT_TRUE(watches);
    ASSERT_EQ(watches->size(), 3u);
    std::vector<std::uint32_t> pids;
    for (const auto& w : (*watches)[0]) pids.push_back(w->pid());
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (std::vector<std::uint32_t>{std::min(first, second), std::max(first, second)}));
    EXPECT_THAT((*watches)[1], IsEmpty());
    ASSERT_THAT((*watches)[2], SizeIs(1));

    // The handle is what a wait is given; it is signalled at the end, and
    // the exit code is the crash's.
    auto& crash = *(*watches)[2][0];
    EXPECT_FALSE(crash.ended());
    EXPECT_EQ(crash.exitCode(), std::nullopt);
    const auto handle = reinterpret_cast<HANDLE>(crash.waitable());
    ASSERT_EQ(::WaitForSingleObject(handle, 20000), WAIT_OBJECT_0);
    EXPECT_TRUE(crash.ended());
    EXPECT_EQ(crash.exitCode(), 0xC0000005u);

    m_platform->killProcessesNamed("VX8_Watched");
    for (const auto& w : (*watches)[0])
        EXPECT_EQ(::WaitForSingleObject(reinterpret_cast<HANDLE>(w->waitable()), 20000), WAIT_OBJECT_0);
    for (const auto& w : (*watches)[0]) EXPECT_TRUE(w->ended());
    waitForTaskkillToFinish();
}

TEST_F(Win32Kill, NeverEndsTheCallingProcessEvenForItsOwnName) {
    // A tool named like ourselves: its processes go, we stay.
    const std::string ownFile = tolvane::platform::win32backend::fileNamePart(m_platform->ownExecutablePath());
    ASSERT_GT(ownFile.size(), 4u);
    const std::string ownBase = ownFile.substr(0, ownFile.size() - 4);
    const std::uint32_t namesake = pidOf(startAndLog(m_folder.addStandin(ownBase), ""));
    ASSERT_TRUE(namesake);
    ASSERT_THAT(processesNamed(ownFile), SizeIs(2));

    m_platform->killProcessesNamed(ownBase);
    EXPECT_TRUE(waitUntil([&] { return !processAlive(namesake); }, 20s));
    waitForTaskkillToFinish();
    EXPECT_THAT(processesNamed(ownFile), testing::ElementsAre(m_platform->ownProcessId()));
}

TEST_F(Win32Kill, UsesTheSystemsTaskkillNotOneLyingInTheCurrentFolder) {
    // CreateProcessW looks in the current folder before the system folder.
    m_folder.addStandin("taskkill");
    const std::uint32_t tool = pidOf(startAndLog(m_folder.addStandin("VX8_Cartwall"), ""));
    ASSERT_TRUE(tool);
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(tolvane::platform::win32backend::toWide(m_folder.path())->c_str()));
    m_platform->killProcessesNamed("VX8_Cartwall");
    ::SetCurrentDirectoryW(previous);

    EXPECT_TRUE(waitUntilGone("VX8_Cartwall"));
    for (const auto& line : m_folder.log()) EXPECT_NE(line.executableName, "taskkill.exe");
}

TEST_F(Win32Kill, NamesThatAreNotPlainFileNamesKillNothing) {
    const std::uint32_t tool = pidOf(startAndLog(m_folder.addStandin("VX8_Board"), ""));
    ASSERT_TRUE(tool);
    // A wildcard, a quote that would close the name on taskkill's command
    // line, and a path: none of them is a tool's name.
    for (const char* name : {"VX8_*", "*", "x.exe\" /im \"VX8_Board", "..\\VX8_Board", ""})
        m_platform->killProcessesNamed(name);
    waitForTaskkillToFinish();
    EXPECT_TRUE(staysAlive(tool, 300ms));
}

TEST_F(Win32ProcessList, ListsEveryProcessWithItsImageNameInUtf8) {
    // A blank and accents in the file name itself.
    const std::uint32_t tool = pidOf(startAndLog(m_folder.addStandin("Lecteur \xC3\x89t\xC3\xA9"), ""));
    ASSERT_TRUE(tool);
    const auto processes = m_platform->listProcesses();
    const auto own = tolvane::platform::win32backend::fileNamePart(m_platform->ownExecutablePath());
    EXPECT_THAT(processes, Contains(testing::AllOf(testing::Field(&ProcessInfo::pid, tool),
                                                   testing::Field(&ProcessInfo::imageName, "Lecteur Été.exe"))));
    EXPECT_THAT(processes, Contains(testing::AllOf(testing::Field(&ProcessInfo::pid, m_platform->ownProcessId()),
                                                   testing::Field(&ProcessInfo::imageName, own))));
}

TEST_F(Win32ProcessList, TheWorkingSetIsThatProcesssOwn) {
    const auto holder = m_folder.addStandin("VX8_Tools_Data");
    writeFile(holder + ".standin", "hold_mb=64\n");
    const std::uint32_t holding = pidOf(startAndLog(holder, ""));
    const std::uint32_t plain = pidOf(startAndLog(m_folder.addStandin("VX8_Tools_FTP"), ""));
    ASSERT_TRUE(holding && plain);

    const auto held = m_platform->workingSetBytes(holding);
    const auto small = m_platform->workingSetBytes(plain);
    ASSERT_TRUE(held && small);
    EXPECT_GE(*held, 64u * 1024 * 1024);
    EXPECT_GE(*held, *small + 60u * 1024 * 1024);
    const auto own = m_platform->workingSetBytes(m_platform->ownProcessId());
    ASSERT_TRUE(own);
    EXPECT_GT(*own, 0u);
}

TEST_F(Win32ProcessList, AGoneProcessHasNoWorkingSet) {
    const auto quitter = m_folder.addStandin("VX8_Tools_Quit");
    writeFile(quitter + ".standin", "exit_after_ms=50\n");
    const std::uint32_t pid = pidOf(startAndLog(quitter, ""));
    ASSERT_TRUE(pid);
    ASSERT_TRUE(waitUntil([&] { return !processAlive(pid); }, 20s));
    EXPECT_FALSE(m_platform->workingSetBytes(pid));
    EXPECT_FALSE(m_platform->workingSetBytes(0xFFFFFFF0u));
}

}  // namespace
}  // namespace tolvane::testsupport
