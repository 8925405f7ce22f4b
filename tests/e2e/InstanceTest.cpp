// One Tolvane per user and settings store, with the real program: a second
// start by hand brings the running one to the front and ends; two starts at
// the same instant leave one supervisor; a Tolvane that was killed never
// blocks the next start; a start that finds a silent holder waits for its
// lock instead of giving up (the nightly restart). The lock needs no
// folder, and a name taken by a socket that cannot be asked who it is never
// leaves the station alone.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "tests/support/e2e/Desktop.h"
#include "tests/support/e2e/Station.h"

using namespace tolvane::testsupport;
using namespace tolvane::testsupport;

namespace {

constexpr std::uint32_t NormalState = 1;
constexpr std::uint32_t IconicState = 3;
const std::string Caption = "^Vantorix: Tools Launcher";

// ICCCM's WM_STATE of Tolvane's main window, as the window manager keeps it.
std::optional<std::uint32_t> mainWindowState(Station& s, pid_t tolvane) {
    const auto window = s.probe().windowOfProcess(tolvane);
    if (!window) return std::nullopt;
    return s.probe().cardinalProperty(*window, "WM_STATE");
}

::testing::AssertionResult endedWithStatusZero(pid_t pid, std::chrono::milliseconds timeout) {
    const auto exit = waitForExit(pid, timeout);
    if (!exit) return ::testing::AssertionFailure() << "still running";
    if (!exit->status) return ::testing::AssertionFailure() << "ended, status unknown";
    if (WIFEXITED(*exit->status) && WEXITSTATUS(*exit->status) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "wait status " << *exit->status;
}

// The abstract socket of a process whose name starts with prefix: its
// descriptors' inodes looked up in the kernel's table of sockets.
std::optional<std::string> abstractSocketName(pid_t pid, const std::string& prefix) {
    std::set<std::string> inodes;
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        inodes.insert(std::filesystem::read_symlink(fd.path(), error).string());
    std::ifstream table("/proc/net/unix");
    std::string line, field, inode, path;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        for (int i = 0; i < 6; ++i) fields >> field;
        fields >> inode >> path;
        if (inodes.count("socket:[" + inode + "]") && path.rfind("@" + prefix, 0) == 0) return path.substr(1);
    }
    return std::nullopt;
}

void launchAtOnce(Station& s, std::initializer_list<int> tools) {
    for (const int tool : tools) {
        s.setTool(tool, "Launch", "1");
        s.setTool(tool, "Tempo", "0");
    }
}

}  // namespace

TEST(OneTolvane, SecondStartByHandBringsTheRunningOneToTheFrontAndEnds) {
    // Minimised in the taskbar: restored.
    {
        Station s;
        launchAtOnce(s, {0, 6});
        const pid_t first = s.startTolvane();
        ASSERT_TRUE(waitUntil([&] { return mainWindowState(s, first) == IconicState; }, 10s));
        ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 1, 10s));

        const pid_t second = s.startTolvane();
        EXPECT_TRUE(endedWithStatusZero(second, 10s)) << "the second Tolvane kept running";
        EXPECT_TRUE(waitUntil([&] { return mainWindowState(s, first) == NormalState; }, 5s))
            << "the running Tolvane's window stayed minimised";
        EXPECT_EQ(s.tolvanes(), std::vector<pid_t>{first});
        // One supervisor: every tool was started once.
        EXPECT_FALSE(waitUntil([&] { return s.startsOf("VX8_Library").size() > 1; }, 2s));
        EXPECT_EQ(s.startsOf("VX8_Tools_Data").size(), 1u);
    }
    // In standby behind a real notification area: brought back as
    // "Afficher" does, the icon gone.
    {
        Station s;
        s.startTray();
        ASSERT_TRUE(waitUntil([&] { return s.trayAreaAvailable(); }, 10s));
        const pid_t first = s.startTolvane({"/Veille=True"});
        ASSERT_TRUE(waitUntil([&] { return s.trayIcons() == 1; }, 10s));
        ASSERT_NE(mainWindowState(s, first), NormalState);

        // The autostart's start never shows anything...
        EXPECT_TRUE(endedWithStatusZero(s.startTolvane({"/Veille=True"}), 10s));
        EXPECT_FALSE(waitUntil([&] { return mainWindowState(s, first) == NormalState; }, 1s));
        // ...an operator's double click does.
        EXPECT_TRUE(endedWithStatusZero(s.startTolvane(), 10s));
        EXPECT_TRUE(waitUntil([&] { return mainWindowState(s, first) == NormalState && s.trayIcons() == 0; }, 5s))
            << "icons: " << s.trayIcons();
    }
}

TEST(OneTolvane, TwoStartsAtTheSameInstantLeaveOneSupervisor) {
    Station s;
    launchAtOnce(s, {0, 2, 12});
    const pid_t a = s.startTolvane({"/Veille=True"});
    const pid_t b = s.startTolvane({"/Veille=True"});
    // Which one wins is the lock's choice: wait until one of the two has
    // ended, whichever it is.
    const auto alive = [](pid_t pid) {
        const auto state = processState(pid);
        return state && state->state != 'Z';
    };
    ASSERT_TRUE(waitUntil([&] { return alive(a) != alive(b); }, 40s)) << "both Tolvanes still run";
    const pid_t loser = alive(a) ? b : a;
    EXPECT_TRUE(endedWithStatusZero(loser, 5s));
    EXPECT_FALSE(waitUntil([&] { return !alive(a) && !alive(b); }, 2s)) << "no Tolvane stayed";
    EXPECT_EQ(s.tolvanes().size(), 1u);
    ASSERT_TRUE(s.waitForStarts("VX8_Player_A", 1, 10s));
    EXPECT_FALSE(waitUntil([&] { return s.log().size() > 3; }, 2s)) << s.log().size() << " starts";
}

TEST(OneTolvane, KilledTolvaneNeverBlocksTheNextStart) {
    Station s;
    s.launchAndVerifyEveryMinute(6);
    const pid_t first = s.startTolvane({}, "@2026-12-08 10:00:00 x20");
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 1, 10s));
    ::kill(first, SIGKILL);
    ASSERT_TRUE(waitForExit(first, 5s));

    const pid_t next = s.startTolvane({}, "@2026-12-08 10:00:00 x20");
    for (const pid_t tool : s.running("VX8_Tools_Data")) ::kill(tool, SIGKILL);
    // The new Tolvane supervises: the tool comes back at its verification.
    EXPECT_TRUE(s.waitForStarts("VX8_Tools_Data", 2, 15s));
    EXPECT_EQ(s.tolvanes(), std::vector<pid_t>{next});
}

TEST(OneTolvane, StartThatFindsASilentHolderWaitsForItsLock) {
    Station s;
    launchAtOnce(s, {0});
    const pid_t holder = s.startTolvane();
    ASSERT_TRUE(s.waitForStarts("VX8_Library", 1, 10s));
    // Holding the lock but answering nothing, as a Tolvane on its way out.
    ::kill(holder, SIGSTOP);
    const pid_t restarted = s.startTolvane({"/Base=Current"});
    EXPECT_TRUE(staysAlive(restarted, 4s)) << "the start gave up on a holder that does not answer";
    ::kill(holder, SIGKILL);
    ASSERT_TRUE(waitForExit(holder, 5s));
    // It takes the lock as soon as it is free and opens its window.
    EXPECT_TRUE(waitUntil([&] { return s.probe().windowOfProcess(restarted).has_value(); }, 10s));
    EXPECT_EQ(s.tolvanes(), std::vector<pid_t>{restarted});
}

TEST(OneTolvane, TheLockNeedsNoFolder) {
    Station s;
    launchAtOnce(s, {0});
    const pid_t first = s.startTolvane({"/Veille=True"});
    ASSERT_TRUE(s.waitForStarts("VX8_Library", 1, 10s));
    // Starts that see another private runtime folder, or one another user
    // made open to everyone, still find the running Tolvane.
    TempFolder other;
    const std::string own = other.file("own"), open = other.file("open");
    ::mkdir(own.c_str(), 0700);
    ::mkdir(open.c_str(), 0777);
    ::chmod(open.c_str(), 0777);
    for (const auto& folder : {own, open}) {
        s.setRuntimeFolder(folder);
        EXPECT_TRUE(endedWithStatusZero(s.startTolvane({"/Veille=True"}), 10s)) << "runtime folder " << folder;
    }
    EXPECT_EQ(s.tolvanes(), std::vector<pid_t>{first});
    EXPECT_EQ(s.startsOf("VX8_Library").size(), 1u);
}

TEST(OneTolvane, NameHeldBySocketThatCannotBeAskedSupervisesAnywayAndSaysSo) {
    Station s;
    launchAtOnce(s, {0});
    const pid_t first = s.startTolvane({"/Veille=True"});
    ASSERT_TRUE(s.waitForStarts("VX8_Library", 1, 10s));
    const auto name = abstractSocketName(first, "Vantorix-");
    ASSERT_TRUE(name) << "no abstract socket of Tolvane's";
    ::kill(first, SIGKILL);
    ASSERT_TRUE(waitForExit(first, 5s));
    for (const pid_t tool : s.running("VX8_Library")) ::kill(tool, SIGKILL);

    // The kernel freed the name with its holder: nothing stale. Taken now by
    // a socket that never listens, which cannot say whose it is.
    const int squatter = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name->data(), name->size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name->size());
    ASSERT_EQ(::bind(squatter, reinterpret_cast<sockaddr*>(&address), length), 0) << std::strerror(errno);

    const pid_t next = s.startTolvane({"/Veille=True"});
    EXPECT_TRUE(s.waitForStarts("VX8_Library", 2, 15s)) << "the station was left alone";
    EXPECT_TRUE(
        waitUntil([&] { return linesMatching(s.journalLines(), std::regex(" 1011 \\[-\\] Aucun verrou")) == 1; }, 5s));
    EXPECT_EQ(s.tolvanes(), std::vector<pid_t>{next});
    ::close(squatter);
}
