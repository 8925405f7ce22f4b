// The Linux backend's processes against real stand-ins: starting (arguments,
// descriptors, session, show state, failures, no zombie), killing by exact
// name, listing, and working sets.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "platform/platform.h"
#include "platform/shared/WindowsCommandLine.h"
#include "standin/StandinLog.h"
#include "tests/support/posix/Processes.h"
#include "tests/support/posix/TempFolder.h"

namespace {

using namespace tolvane::testsupport;
using testing::Contains;
using testing::Field;
using tolvane::platform::Platform;
using tolvane::platform::ProcessInfo;
using tolvane::platform::ShowState;
using tolvane::standin::StandinLogLine;

const std::string kStandin = TOLVANE_STANDIN_PATH;

class ProcessTestEnvironment : public testing::Environment {
public:
    void SetUp() override {
        adoptOrphans();
        // The stand-ins here never need a window; none may reach the desktop
        // of whoever runs the tests.
        ::unsetenv("DISPLAY");
    }
    void TearDown() override { reapExitedChildren(); }
};
testing::Environment* const processEnvironment = testing::AddGlobalTestEnvironment(new ProcessTestEnvironment);

// Runs a test body with the process's working folder moved, so that a shell,
// if one were ever involved, would leave its files where we look.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::string& path) : m_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~WorkingFolder() { std::filesystem::current_path(m_previous); }

private:
    std::filesystem::path m_previous;
};

std::optional<std::string> statusField(pid_t pid, const std::string& key) {
    std::istringstream in(readFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) == 0) {
            const auto value = line.find_first_not_of(" \t", key.size() + 1);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
    }
    return std::nullopt;
}

class LinuxProcesses : public testing::Test {
protected:
    // Every test runs its programs from a folder with a blank and accents in
    // its name, as the station's folder may have.
    TempFolder m_folder{"Vantorix Été"};
    std::unique_ptr<Platform> m_platform = tolvane::platform::createSystemPlatform();

    void TearDown() override { stopProgramsRunningFrom(m_folder.path()); }

    // A copy of the stand-in named `name` that lives, windowless, until killed,
    // plus further sidecar switches.
    std::string tool(const std::string& name, const std::string& switches = {}) {
        makeCopies(kStandin, m_folder.path(), {name});
        writeFile(m_folder.file(name + ".standin"), "nowindow=1\n" + switches);
        return m_folder.file(name);
    }

    std::vector<StandinLogLine> log() const { return tolvane::standin::readLogFile(m_folder.file("standin.log")); }

    std::vector<StandinLogLine> waitForLog(std::size_t count) const {
        std::vector<StandinLogLine> lines;
        waitUntil(
            [&] {
                lines = log();
                return lines.size() >= count;
            },
            10s);
        return lines;
    }

    // Starts one program and gives the line it logged once running.
    std::optional<StandinLogLine> startAndWait(const std::string& path, const std::string& arguments,
                                               ShowState show = ShowState::Minimised) {
        const std::size_t before = log().size();
        if (!m_platform->startProgram(path, arguments, show)) return std::nullopt;
        const auto lines = waitForLog(before + 1);
        if (lines.size() <= before) return std::nullopt;
        return lines.back();
    }
};

// Starting ---------------------------------------------------------------------

TEST_F(LinuxProcesses, HostileArgumentsArriveByteForByte) {
    const std::vector<std::string> arguments = {"/NoBase=0",
                                                "with blank",
                                                "quote\"inside",
                                                "\"",
                                                "<",
                                                ">",
                                                "&",
                                                ";",
                                                "|",
                                                "$(touch pwned)",
                                                "`touch pwned`",
                                                "$HOME",
                                                "*",
                                                "~",
                                                "Vantorix Été à ü",
                                                "back\\slash",
                                                "trail\\",
                                                "\\\\server\\share\\",
                                                "",
                                                "tab\there",
                                                "new\nline",
                                                "'single'",
                                                "%PATH%",
                                                std::string("\x01\x7f\xff", 3)};
    std::string text;
    for (const auto& a : arguments) {
        if (!text.empty()) text += ' ';
        text += tolvane::platform::quoteWindowsArgument(a);
    }

    const auto line = startAndWait(tool("ProcTest_Player_A"), text);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->arguments, arguments);
    EXPECT_EQ(line->executableName, "ProcTest_Player_A");
}

TEST_F(LinuxProcesses, ArgumentTextIsSplitByWindowsRulesAndNeverByAShell) {
    const WorkingFolder here(m_folder.path());
    const auto line =
        startAndWait(tool("ProcTest_Scheduler"), R"(/Batch=J+ "<OptDuree:12>" a&b;c $(touch shell_ran) >shell_out )"
                                                 R"("Vantorix Été" \"quoted\" "" ;touch shell_ran2)");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->arguments,
              (std::vector<std::string>{"/Batch=J+", "<OptDuree:12>", "a&b;c", "$(touch", "shell_ran)", ">shell_out",
                                        "Vantorix Été", "\"quoted\"", "", ";touch", "shell_ran2"}));
    for (const char* name : {"shell_ran", "shell_out", "shell_ran2"})
        EXPECT_FALSE(std::filesystem::exists(m_folder.file(name))) << name;
}

TEST_F(LinuxProcesses, ProgramInAFolderWithBlanksAndAccentsGetsItsPathAsArgv0) {
    const std::string path = tool("ProcTest_Library");
    ASSERT_NE(path.find("/Vantorix Été/"), std::string::npos);
    const auto line = startAndWait(path, "");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->argv0, path);
    EXPECT_EQ(line->executableName, "ProcTest_Library");
    EXPECT_TRUE(line->arguments.empty());
}

TEST_F(LinuxProcesses, ProgramRunsInTheWorkingFolderItIsGivenOrElseInOurs) {
    // Started from elsewhere, as Tolvane is from a session's autostart.
    const WorkingFolder elsewhere("/");
    const std::string path = tool("ProcTest_Tools_Pool");
    const auto given = m_platform->startProgram(path, "", ShowState::Minimised, m_folder.path() + "/");
    ASSERT_TRUE(given) << given.failure;
    const auto inherited = m_platform->startProgram(path, "", ShowState::Minimised);
    ASSERT_TRUE(inherited) << inherited.failure;
    const auto lines = waitForLog(2);
    ASSERT_EQ(lines.size(), 2u);
    const std::set<std::string> folders{lines[0].workingFolder, lines[1].workingFolder};
    EXPECT_EQ(folders, (std::set<std::string>{m_folder.path(), "/"}));

    // A folder that cannot be entered is a refusal, not a start in ours.
    const auto missing = m_platform->startProgram(path, "", ShowState::Minimised, m_folder.file("Absent") + "/");
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.failure, std::strerror(ENOENT));
}

TEST_F(LinuxProcesses, ProgramGetsDevNullStreamsAndNoOtherDescriptor) {
    // Descriptors this process lets leak on purpose (no close-on-exec).
    const int leakyFile = ::open(m_folder.file("leak").c_str(), O_CREAT | O_RDWR, 0600);
    int leakyPipe[2] = {-1, -1};
    ASSERT_GE(leakyFile, 0);
    ASSERT_EQ(::pipe(leakyPipe), 0);

    const auto line = startAndWait(tool("ProcTest_Production"), "");
    ::close(leakyFile);
    ::close(leakyPipe[0]);
    ::close(leakyPipe[1]);
    ASSERT_TRUE(line);

    EXPECT_EQ(line->openDescriptors, "0,1,2");
    for (int fd = 0; fd <= 2; ++fd) {
        EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(line->pid) + "/fd/" + std::to_string(fd)),
                  "/dev/null")
            << "descriptor " << fd;
    }
}

TEST_F(LinuxProcesses, ProgramRunsInItsOwnSessionWithDefaultSignals) {
    struct sigaction ignore {
    }, previousAction{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGUSR1, &ignore, &previousAction);
    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR2);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);

    const auto line = startAndWait(tool("ProcTest_Planner"), "");
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::sigaction(SIGUSR1, &previousAction, nullptr);
    ASSERT_TRUE(line);

    const auto state = processState(static_cast<pid_t>(line->pid));
    ASSERT_TRUE(state);
    EXPECT_EQ(state->session, line->pid);
    EXPECT_NE(state->session, processState(::getpid())->session);
    EXPECT_EQ(statusField(static_cast<pid_t>(line->pid), "SigIgn"), "0000000000000000");
    EXPECT_EQ(statusField(static_cast<pid_t>(line->pid), "SigBlk"), "0000000000000000");
}

TEST_F(LinuxProcesses, ShowStateReachesTheProgramThroughItsEnvironment) {
    // A value inherited from whoever started Tolvane must be replaced, not
    // left beside ours.
    ::setenv("TOLVANE_SHOW_STATE", "inherited", 1);
    const std::string path = tool("ProcTest_Player_B");
    for (const auto& [show, text] : std::vector<std::pair<ShowState, std::string>>{
             {ShowState::Hidden, "hidden"}, {ShowState::Normal, "normal"}, {ShowState::Minimised, "minimised"}}) {
        const auto line = startAndWait(path, "", show);
        ASSERT_TRUE(line) << text;
        EXPECT_EQ(line->showState, text);
    }
    ::unsetenv("TOLVANE_SHOW_STATE");
}

TEST_F(LinuxProcesses, ExecFailuresAreReportedAsNotStarted) {
    const WorkingFolder here(m_folder.path());
    const std::string notExecutable = m_folder.file("ProcTest_Not_Executable");
    std::filesystem::copy_file(kStandin, notExecutable);
    ::chmod(notExecutable.c_str(), 0644);
    // An executable text without "#!": execvp or a shell would run it with
    // /bin/sh; a direct exec refuses it.
    writeFile(m_folder.file("ProcTest_No_Format"), "touch shell_ran\n", 0755);

    // Each refusal carries the system's own reason, for the journal.
    const struct {
        std::string path;
        std::string arguments;
        std::string reason;
    } refusals[] = {
        {m_folder.file("ProcTest_Missing"), "/NoBase=0", std::strerror(ENOENT)},
        {notExecutable, "", std::strerror(EACCES)},
        {m_folder.path(), "", std::strerror(EACCES)},
        {m_folder.file("ProcTest_No_Format"), "", std::strerror(ENOEXEC)},
        {"", "", "chemin du programme vide"},
        // A bare name is a path like any other, never looked up in $PATH.
        {"true", "", std::strerror(ENOENT)},
        // An argument text longer than the system takes is refused, not cut.
        {kStandin, std::string(8u << 20, 'a'), std::strerror(E2BIG)},
    };
    for (const auto& r : refusals) {
        const auto result = m_platform->startProgram(r.path, r.arguments, ShowState::Minimised);
        EXPECT_FALSE(result) << r.path;
        EXPECT_EQ(result.failure, r.reason) << r.path;
    }

    EXPECT_FALSE(std::filesystem::exists(m_folder.file("shell_ran")));
    EXPECT_TRUE(log().empty());
}

std::map<std::string, double> parseReport(const std::string& text) {
    std::map<std::string, double> values;
    std::istringstream in(text);
    for (std::string item; in >> item;) {
        const auto eq = item.find('=');
        if (eq != std::string::npos) values[item.substr(0, eq)] = std::stod(item.substr(eq + 1));
    }
    return values;
}

// Run in a copy of the test process that is not the reaper of orphans, so that
// a program left as its child (an unreaped intermediate, or a program started
// without the second fork) shows up there.
TEST_F(LinuxProcesses, TwoHundredStartsAndKillsLeaveNoZombieAndNoDescriptor) {
    const std::string path = tool("ProcTest_Loop");
    const std::string missing = m_folder.file("ProcTest_Missing");
    const std::string folder = m_folder.path();
    const std::string logPath = m_folder.file("standin.log");

    const auto report = runInChildProcess(
        [&] {
            auto platform = tolvane::platform::createSystemPlatform();
            const auto descriptorsBefore = openDescriptors().size();
            int refused = 0, acceptedMissing = 0, childrenSeen = 0, notLogged = 0, notKilled = 0;
            std::vector<double> startMicros;
            for (int round = 0; round < 10; ++round) {
                for (int i = 0; i < 20; ++i) {
                    const auto t0 = std::chrono::steady_clock::now();
                    const bool ok = platform->startProgram(path, "/NoBase=0", ShowState::Minimised).started;
                    startMicros.push_back(
                        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
                    if (!ok) ++refused;
                    if (!childrenOf(::getpid()).empty()) ++childrenSeen;
                    if (platform->startProgram(missing, "", ShowState::Minimised)) ++acceptedMissing;
                }
                const std::size_t expected = static_cast<std::size_t>(20 * (round + 1));
                if (!waitUntil([&] { return tolvane::standin::readLogFile(logPath).size() >= expected; }, 10s))
                    ++notLogged;
                platform->killProcessesNamed("ProcTest_Loop");
                if (!waitUntil([&] { return processesRunningFrom(folder).empty(); }, 10s)) ++notKilled;
            }
            std::sort(startMicros.begin(), startMicros.end());
            std::ostringstream out;
            out << "descriptorsBefore=" << descriptorsBefore << " descriptorsAfter=" << openDescriptors().size()
                << " refused=" << refused << " acceptedMissing=" << acceptedMissing << " childrenSeen=" << childrenSeen
                << " childrenAtEnd=" << childrenOf(::getpid()).size() << " notLogged=" << notLogged
                << " notKilled=" << notKilled << " medianStartMicros=" << startMicros[startMicros.size() / 2]
                << " maxStartMicros=" << startMicros.back();
            return out.str();
        },
        90s);
    ASSERT_TRUE(report) << "the scenario did not finish";
    std::cout << "[ figures  ] " << *report << "\n";
    auto v = parseReport(*report);
    EXPECT_EQ(v["descriptorsAfter"], v["descriptorsBefore"]);
    EXPECT_EQ(v["refused"], 0);
    EXPECT_EQ(v["acceptedMissing"], 0);
    EXPECT_EQ(v["childrenSeen"], 0) << "a started program or its intermediate stayed our child";
    EXPECT_EQ(v["childrenAtEnd"], 0);
    EXPECT_EQ(v["notLogged"], 0);
    EXPECT_EQ(v["notKilled"], 0);
    // A start clones twice and waits for exec only: under a millisecond on
    // an idle machine. The bound is loose because ctest runs the tests side
    // by side on few cores; it still catches a start that polls or waits.
    EXPECT_LT(v["medianStartMicros"], 50000);
}

// The stand-in's own switches, which other tests rely on to play a tool that
// ends or crashes.
TEST_F(LinuxProcesses, StandinEndsOrCrashesWhenAsked) {
    const auto ends = startAndWait(tool("ProcTest_Ends", "exit_after_ms=50\n"), "");
    const auto crashes = startAndWait(tool("ProcTest_Crashes", "crash_after_ms=50\n"), "");
    ASSERT_TRUE(ends);
    ASSERT_TRUE(crashes);

    const auto ended = waitForExit(static_cast<pid_t>(ends->pid), 5s);
    const auto crashed = waitForExit(static_cast<pid_t>(crashes->pid), 5s);
    ASSERT_TRUE(ended && ended->status);
    ASSERT_TRUE(crashed && crashed->status);
    EXPECT_TRUE(WIFEXITED(*ended->status) && WEXITSTATUS(*ended->status) == 0);
    EXPECT_TRUE(WIFSIGNALED(*crashed->status) && WTERMSIG(*crashed->status) == SIGSEGV);
    EXPECT_FALSE(WCOREDUMP(*crashed->status));
}

// Killing ----------------------------------------------------------------------
// A kill reaches every process of the user by that name, including those of
// other test binaries that ctest runs at the same time: the names killed here
// are used by no other test.

TEST_F(LinuxProcesses, KillEndsEveryInstanceOfExactlyThatNameInAnyCase) {
    const std::string player = tool("ProcTest_Player", "ignore_sigterm=1\n");  // only SIGKILL ends it
    const std::string lower = tool("procTEST_player");
    const std::string playerA = tool("ProcTest_Player_A");
    const std::string older = tool("Old_ProcTest_Player");
    const std::string windowsName = tool("ProcTest_Player.exe");

    std::vector<pid_t> toBeKilled, toBeSpared;
    for (const auto& [path, killed] : std::vector<std::pair<std::string, bool>>{
             {player, true}, {player, true}, {lower, true}, {playerA, false}, {older, false}, {windowsName, false}}) {
        const auto line = startAndWait(path, "/NoBase=0");
        ASSERT_TRUE(line) << path;
        (killed ? toBeKilled : toBeSpared).push_back(static_cast<pid_t>(line->pid));
    }

    m_platform->killProcessesNamed("ProcTest_Player");

    for (const pid_t pid : toBeKilled) {
        const auto exit = waitForExit(pid, 5s);
        ASSERT_TRUE(exit) << pid << " still runs";
        ASSERT_TRUE(exit->status);
        EXPECT_TRUE(WIFSIGNALED(*exit->status) && WTERMSIG(*exit->status) == SIGKILL);
    }
    for (const pid_t pid : toBeSpared) EXPECT_TRUE(staysAlive(pid, 200ms)) << pid << " was killed";
}

TEST_F(LinuxProcesses, KillNeverEndsTheCallingProcess) {
    // A stand-in under this test program's own name must go, and we stay.
    const std::string ownName = std::filesystem::path(*executablePath(::getpid())).filename();
    const auto line = startAndWait(tool(ownName), "");
    ASSERT_TRUE(line);

    m_platform->killProcessesNamed(ownName);

    EXPECT_TRUE(waitForExit(static_cast<pid_t>(line->pid), 5s));
    EXPECT_EQ(processState(::getpid())->state, 'R');  // reached only if we were spared
}

// Watching for an end ----------------------------------------------------------

bool readable(std::intptr_t descriptor, int timeoutMs) {
    pollfd p{static_cast<int>(descriptor), POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

TEST_F(LinuxProcesses, WatchesHoldEveryProcessOfExactlyThatNameUntilItEnds) {
    const std::string watched = tool("ProcTest_Watched");
    const std::uint32_t first = static_cast<std::uint32_t>(startAndWait(watched, "")->pid);
    const std::uint32_t second = static_cast<std::uint32_t>(startAndWait(watched, "")->pid);
    ASSERT_TRUE(startAndWait(tool("ProcTest_Watched_B"), ""));
    // A program under this test's own name is watched; the test is not.
    const std::string ownName = std::filesystem::path(*executablePath(::getpid())).filename();
    const std::uint32_t namesake = static_cast<std::uint32_t>(startAndWait(tool(ownName), "")->pid);

    auto watches = m_platform->watchProcessesNamed({"procTEST_watched", "ProcTest_Nobody", ownName});
    ASSERT_TRUE(watches);
    ASSERT_EQ(watches->size(), 3u);
    std::set<std::uint32_t> pids;
    for (const auto& w : (*watches)[0]) pids.insert(w->pid());
    EXPECT_EQ(pids, (std::set<std::uint32_t>{first, second}));
    EXPECT_TRUE((*watches)[1].empty());
    ASSERT_EQ((*watches)[2].size(), 1u);
    EXPECT_EQ((*watches)[2][0]->pid(), namesake);

    auto& a = *(*watches)[0][0];
    auto& b = *(*watches)[0][1];
    auto& c = *(*watches)[2][0];
    // The three behind one descriptor, as the event loop waits on them.
    const auto set = tolvane::platform::createWaitableSet();
    ASSERT_TRUE(set);
    ASSERT_TRUE(set->add(a.waitable(), 1) && set->add(b.waitable(), 2) && set->add(c.waitable(), 3));
    EXPECT_FALSE(a.ended());
    EXPECT_FALSE(readable(a.waitable(), 0));
    EXPECT_FALSE(readable(set->waitable(), 0));
    ::kill(static_cast<pid_t>(a.pid()), SIGKILL);
    ::kill(static_cast<pid_t>(c.pid()), SIGKILL);
    // The descriptor says so, whoever reaps the process.
    EXPECT_TRUE(readable(a.waitable(), 5000));
    EXPECT_TRUE(a.ended());
    EXPECT_EQ(a.exitCode(), std::nullopt);  // not our child: no status to ask for
    EXPECT_FALSE(b.ended());
    ASSERT_TRUE(readable(c.waitable(), 5000));
    // Both ended ones by their keys, until they leave the set; never the
    // one still running.
    EXPECT_TRUE(readable(set->waitable(), 0));
    auto keys = set->signalled();
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::uint64_t>{1, 3}));
    set->remove(a.waitable());
    EXPECT_EQ(set->signalled(), std::vector<std::uint64_t>{3});
    set->remove(c.waitable());
    EXPECT_TRUE(set->signalled().empty());
    EXPECT_FALSE(readable(set->waitable(), 0));

    // Each watch holds one descriptor, given back when the watch goes.
    set->remove(b.waitable());
    const auto before = std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    watches.reset();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}), before - 3);
}

TEST_F(LinuxProcesses, KillSparesProcessesOfOtherUsers) {
    if (::geteuid() != 0) GTEST_SKIP() << "running a program as another user needs root";
    const std::string path = tool("ProcTest_Player");
    const uid_t nobody = 65534;
    const pid_t other = spawnChild(path, {path}, nobody);
    ASSERT_TRUE(waitUntil([&] { return executablePath(other) == path; }, 5s));
    const auto ours = startAndWait(path, "");
    ASSERT_TRUE(ours);

    m_platform->killProcessesNamed("ProcTest_Player");

    EXPECT_TRUE(waitForExit(static_cast<pid_t>(ours->pid), 5s));
    EXPECT_TRUE(staysAlive(other, 200ms));
    ::kill(other, SIGKILL);
    waitForExit(other, 5s);
}

TEST_F(LinuxProcesses, ProgramWhoseFileWasRemovedKeepsItsNameAndIsKilled) {
    const std::string path = tool("ProcTest_Updated");
    const auto line = startAndWait(path, "");
    ASSERT_TRUE(line);
    const auto pid = static_cast<pid_t>(line->pid);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(executablePath(pid), path + " (deleted)");

    EXPECT_THAT(m_platform->listProcesses(),
                Contains(testing::AllOf(Field(&ProcessInfo::pid, static_cast<std::uint32_t>(pid)),
                                        Field(&ProcessInfo::imageName, "ProcTest_Updated"))));
    m_platform->killProcessesNamed("ProcTest_Updated");
    EXPECT_TRUE(waitForExit(pid, 5s));
}

// Listing and memory -------------------------------------------------------------

TEST_F(LinuxProcesses, ListShowsLongExecutableNamesInFull) {
    const auto line = startAndWait(tool("VX8_Tools_Voice_Server"), "");
    ASSERT_TRUE(line);
    // The kernel's own short name is cut at 15 characters: the list must not
    // come from there.
    ASSERT_EQ(readFile("/proc/" + std::to_string(line->pid) + "/comm"), "VX8_Tools_Voice\n");

    const auto processes = m_platform->listProcesses();
    EXPECT_THAT(processes, Contains(testing::AllOf(Field(&ProcessInfo::pid, static_cast<std::uint32_t>(line->pid)),
                                                   Field(&ProcessInfo::imageName, "VX8_Tools_Voice_Server"))));
    const std::string ownName = std::filesystem::path(*executablePath(::getpid())).filename();
    EXPECT_THAT(processes, Contains(testing::AllOf(Field(&ProcessInfo::pid, static_cast<std::uint32_t>(::getpid())),
                                                   Field(&ProcessInfo::imageName, ownName))));
}

TEST_F(LinuxProcesses, WorkingSetGrowsWithTouchedMemory) {
    const auto none = startAndWait(tool("ProcTest_Memory_None"), "");
    const auto held = startAndWait(tool("ProcTest_Memory_Held", "hold_mb=50\n"), "");
    ASSERT_TRUE(none);
    ASSERT_TRUE(held);

    const auto a = m_platform->workingSetBytes(static_cast<std::uint32_t>(none->pid));
    const auto b = m_platform->workingSetBytes(static_cast<std::uint32_t>(held->pid));
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    const double mib = 1024.0 * 1024.0;
    std::cout << "[ figures  ] working sets " << *a / mib << " MiB and " << *b / mib << " MiB\n";
    EXPECT_NEAR((static_cast<double>(*b) - static_cast<double>(*a)) / mib, 50.0, 2.0);
}

TEST_F(LinuxProcesses, WorkingSetOfAnEndedProcessIsNothing) {
    EXPECT_TRUE(m_platform->workingSetBytes(static_cast<std::uint32_t>(::getpid())).has_value());

    // Ended and reaped: the pid names nothing any more.
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    EXPECT_EQ(m_platform->workingSetBytes(static_cast<std::uint32_t>(child)), std::nullopt);

    // Ended but not yet reaped (a zombie): no memory either.
    const auto line = startAndWait(tool("ProcTest_Short_Lived", "exit_after_ms=0\n"), "");
    ASSERT_TRUE(line);
    const auto pid = static_cast<pid_t>(line->pid);
    ASSERT_TRUE(waitUntil([&] { return processState(pid) && processState(pid)->state == 'Z'; }, 5s));
    EXPECT_EQ(m_platform->workingSetBytes(static_cast<std::uint32_t>(pid)), std::nullopt);

    EXPECT_EQ(m_platform->workingSetBytes(0), std::nullopt);
}

}  // namespace
