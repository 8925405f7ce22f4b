// Starting, listing, measuring and killing processes on Linux.
//
// Tools are started the way a Windows program is handed its command line: the
// argument text is split by the Windows rules and the path is executed
// directly, never through a shell, so "<", ">", "&", ";" or "$(...)" in a
// tool's arguments stay plain text. Tolvane never waits for a tool, so each
// start forks twice: the intermediate child is reaped at once and the tool is
// adopted by init (or the nearest subreaper), which reaps it when it ends.
//
// Both forks are vfork-style clones (shared memory, the parent suspended until
// the child has exec'd or ended), as posix_spawn does it: no page table is
// copied, so a start costs a fraction of a millisecond even from a large
// process, and whether exec succeeded is known when the parent resumes,
// without a pipe.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/linux/LinuxBackend.h"
#include "platform/shared/WindowsCommandLine.h"

extern char** environ;

namespace tolvane::platform::linuxbackend {

namespace {

const char* showStateText(ShowState show) {
    switch (show) {
        case ShowState::Hidden: return "hidden";
        case ShowState::Normal: return "normal";
        case ShowState::Minimised: return "minimised";
    }
    return "normal";
}

// Shared, through the common memory of the clones, by startProgram, the
// intermediate child and the program's child before its exec.
struct Launch {
    const char* path = nullptr;
    const char* workingFolder = nullptr;  // nothing: Tolvane's own
    char* const* argv = nullptr;
    char* const* envp = nullptr;
    int highestFd = 1024;
    char* programStackTop = nullptr;
    int cloneError = 0;  // the intermediate could not create the program
    int execError = 0;   // the program could not be exec'd
};

constexpr std::size_t kStackSize = 64 * 1024;

std::mutex& launchMutex() {
    static std::mutex m;
    return m;
}

char* launchStacks() {
    static char* const stacks = [] {
        void* p =
            ::mmap(nullptr, 2 * kStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        return p == MAP_FAILED ? nullptr : static_cast<char*>(p);
    }();
    return stacks;
}

int errnoOr(int fallback) { return errno != 0 ? errno : fallback; }

// The system's own words for an error code, in the user's language (the
// toolkit has set the locale from the environment).
std::string systemMessage(int error) {
    char buf[256];
    const char* text = ::strerror_r(error, buf, sizeof buf);  // the GNU form: may not use buf
    return text ? std::string(text) : "erreur " + std::to_string(error);
}

// The program's side, between clone and exec. It shares the memory of
// Tolvane (possibly multi-threaded), so only async-signal-safe calls, no
// allocation, and nothing written but `launch.execError`.
int programMain(void* arg) {
    auto& launch = *static_cast<Launch*>(arg);
    const auto fail = [&](int error) {
        launch.execError = error;
        ::_exit(127);
    };

    if (::setsid() < 0) fail(errnoOr(EPERM));
    // Before anything else the tool could see: a folder that cannot be
    // entered is a refused start, not a tool running in Tolvane's folder.
    if (launch.workingFolder && ::chdir(launch.workingFolder) < 0) fail(errnoOr(ENOENT));

    // A tool must not inherit Tolvane's handled or ignored signals nor its
    // blocked mask (exec resets handlers, not "ignored" or the mask). The
    // clone has its own copy of the dispositions, so this leaves Tolvane's
    // alone.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigemptyset(&defaultAction.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig == SIGKILL || sig == SIGSTOP) continue;
        ::sigaction(sig, &defaultAction, nullptr);  // fails harmlessly for reserved numbers
    }

    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull < 0) fail(errnoOr(ENOENT));
    for (int fd = 0; fd <= 2; ++fd) {
        if (devNull != fd && ::dup2(devNull, fd) < 0) fail(errnoOr(EBADF));
    }
    if (devNull > 2) ::close(devNull);

    // Nothing else of Tolvane's may reach the tool: everything from 3 up is
    // closed by exec.
    if (::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = 3; fd <= launch.highestFd; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }

    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    ::execve(launch.path, launch.argv, launch.envp);
    fail(errnoOr(ENOEXEC));
    return 127;
}

// The intermediate child: creates the program, waits (by vfork semantics)
// until it has exec'd, and ends, so that the program is re-parented. A
// program whose exec failed is reaped here, as nobody else would.
int intermediateMain(void* arg) {
    auto& launch = *static_cast<Launch*>(arg);
    const pid_t program = ::clone(programMain, launch.programStackTop, CLONE_VM | CLONE_VFORK | SIGCHLD, &launch);
    if (program < 0) {
        launch.cloneError = errnoOr(EAGAIN);
        ::_exit(127);
    }
    if (launch.execError != 0) {
        while (::waitpid(program, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    ::_exit(0);
    return 0;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Whole small file (/proc/PID/status is about 1.5 KB) with plain read(2):
// /proc files must be read in one go to be consistent, and this path is taken
// thirty times per memory refresh.
std::optional<std::string> readProcFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

// The executable file name of a process: the last component of
// /proc/PID/exe. Unlike /proc/PID/comm it is never cut at 15 characters, and
// it follows symbolic links to the real file, as Windows' image name does.
std::optional<std::string> imageNameOf(std::uint32_t pid) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%u/exe", pid);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return std::nullopt;
    std::string_view path(target, static_cast<std::size_t>(n));
    // A running program whose file was replaced or removed (an update of the
    // suite) keeps its name, which the kernel then shows with this suffix.
    constexpr std::string_view deleted = " (deleted)";
    if (path.size() > deleted.size() && path.substr(path.size() - deleted.size()) == deleted)
        path.remove_suffix(deleted.size());
    const auto slash = path.rfind('/');
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    if (path.empty()) return std::nullopt;
    return std::string(path);
}

std::optional<std::uint64_t> statusNumber(const std::string& status, std::string_view key) {
    std::size_t at = 0;
    while (at < status.size()) {
        const std::size_t end = status.find('\n', at);
        const std::string_view line(status.data() + at, (end == std::string::npos ? status.size() : end) - at);
        if (line.substr(0, key.size()) == key) {
            std::size_t i = key.size();
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
            std::uint64_t value = 0;
            const auto [ptr, ec] = std::from_chars(line.data() + i, line.data() + line.size(), value);
            if (ec != std::errc{} || ptr == line.data() + i) return std::nullopt;
            return value;
        }
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> realUidOf(std::uint32_t pid) {
    const auto status = readProcFile("/proc/" + std::to_string(pid) + "/status");
    if (!status) return std::nullopt;
    return statusNumber(*status, "Uid:");  // first of real, effective, saved, fs
}

// Every process id in /proc, in the order the kernel lists them; false when
// /proc could not be read at all.
template <typename Visit>
bool forEachProcess(Visit&& visit) {
    DIR* dir = ::opendir("/proc");
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir)) {
        std::uint32_t pid = 0;
        const char* name = entry->d_name;
        const char* end = name + std::strlen(name);
        const auto [ptr, ec] = std::from_chars(name, end, pid);
        if (ec != std::errc{} || ptr != end || pid == 0) continue;
        visit(pid);
    }
    ::closedir(dir);
    return true;
}

int pidfdOpen(std::uint32_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)); }

int pidfdSendSignal(int pidfd, int sig) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

// A process held by its descriptor: the descriptor always names the process
// it was opened on, and becomes readable when that process ends, whoever its
// parent is.
class PidfdWatch final : public ProcessEndWatch {
public:
    PidfdWatch(std::uint32_t pid, int pidfd) : m_pid(pid), m_fd(pidfd) {}
    ~PidfdWatch() override { ::close(m_fd); }
    PidfdWatch(const PidfdWatch&) = delete;
    PidfdWatch& operator=(const PidfdWatch&) = delete;
    std::uint32_t pid() const override { return m_pid; }
    std::intptr_t waitable() const override { return m_fd; }
    bool ended() override {
        pollfd p{m_fd, POLLIN, 0};
        int n = 0;
        while ((n = ::poll(&p, 1, 0)) < 0 && errno == EINTR) {
        }
        return n > 0 && (p.revents & (POLLIN | POLLHUP)) != 0;
    }
    std::optional<std::uint32_t> exitCode() override { return std::nullopt; }

private:
    std::uint32_t m_pid;
    int m_fd;
};

}  // namespace

StartResult startProgram(const std::string& applicationPath, const std::string& arguments, ShowState show,
                         const std::string& workingFolder) {
    try {
        if (applicationPath.empty()) return StartResult::refused("chemin du programme vide");
        if (applicationPath.find('\0') != std::string::npos)
            return StartResult::refused("caractère nul dans le chemin du programme");
        if (workingFolder.find('\0') != std::string::npos)
            return StartResult::refused("caractère nul dans le dossier de travail");

        // Everything the children need is built here: they may not allocate.
        std::vector<std::string> args = splitWindowsArguments(arguments);
        for (const auto& a : args) {
            // An argument cannot carry a NUL through exec; starting the tool
            // with a silently shortened argument would be worse than not at all.
            if (a.find('\0') != std::string::npos) return StartResult::refused("caractère nul dans les arguments");
        }
        std::vector<char*> argv;
        argv.reserve(args.size() + 2);
        argv.push_back(const_cast<char*>(applicationPath.c_str()));
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        // The show state travels as TOLVANE_SHOW_STATE=hidden|normal|minimised
        // (see LinuxBackend.h), replacing any value Tolvane itself inherited.
        const std::string prefix = std::string(kShowStateVariable) + "=";
        std::string showEntry = prefix + showStateText(show);
        std::vector<char*> envp;
        for (char** e = environ; e && *e; ++e) {
            if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0) envp.push_back(*e);
        }
        envp.push_back(showEntry.data());
        envp.push_back(nullptr);

        Launch launch;
        launch.path = applicationPath.c_str();
        if (!workingFolder.empty()) launch.workingFolder = workingFolder.c_str();
        launch.argv = argv.data();
        launch.envp = envp.data();
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            launch.highestFd = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1 << 20));

        // Stacks of the two clones, kept for the life of the process: the
        // program leaves its stack at exec and the intermediate at its end,
        // both before clone returns here. Unmapping them after each start
        // would cost a TLB flush on every processor the clones ran on.
        std::lock_guard lock(launchMutex());
        char* const stacks = launchStacks();
        if (!stacks) return StartResult::refused(systemMessage(ENOMEM));
        launch.programStackTop = stacks + kStackSize;  // stacks grow down
        char* const intermediateStackTop = stacks + 2 * kStackSize;

        // Block every signal across the clones so that no handler of
        // Tolvane's runs on their stacks before they have reset the
        // dispositions.
        sigset_t all, previous;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &previous);
        const pid_t intermediate =
            ::clone(intermediateMain, intermediateStackTop, CLONE_VM | CLONE_VFORK | SIGCHLD, &launch);
        const int intermediateError = intermediate < 0 ? errnoOr(EAGAIN) : 0;
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);

        if (intermediate > 0) {
            // It has ended by now: reap it so that it never lingers as a
            // zombie. Only this pid is waited for, leaving any SIGCHLD
            // handling of others alone.
            while (::waitpid(intermediate, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        if (intermediate <= 0) return StartResult::refused(systemMessage(intermediateError));
        if (launch.cloneError != 0) return StartResult::refused(systemMessage(launch.cloneError));
        if (launch.execError != 0) return StartResult::refused(systemMessage(launch.execError));
        return StartResult::success();
    } catch (...) {
        return StartResult{};  // out of memory: nothing was started, and no room to say why
    }
}

void killProcessesNamed(const std::string& imageName) {
    try {
        if (imageName.empty()) return;
        const std::string wanted = imageName + executableSuffix();
        const auto ownUid = static_cast<std::uint64_t>(::getuid());
        const auto self = static_cast<std::uint32_t>(::getpid());
        forEachProcess([&](std::uint32_t pid) {
            if (pid == self) return;
            const auto name = imageNameOf(pid);
            if (!name || !equalsIgnoringAsciiCase(*name, wanted)) return;
            // Pin the process before looking at it again: a pidfd always names
            // the process it was opened on, so a pid reused between the check
            // and the signal can never be hit.
            const int pidfd = pidfdOpen(pid);
            if (pidfd < 0 && errno != ENOSYS) return;  // gone already
            const auto nameAgain = imageNameOf(pid);
            const auto uid = realUidOf(pid);
            if (nameAgain && equalsIgnoringAsciiCase(*nameAgain, wanted) && uid && *uid == ownUid) {
                if (pidfd >= 0)
                    pidfdSendSignal(pidfd, SIGKILL);
                else
                    ::kill(static_cast<pid_t>(pid), SIGKILL);
            }
            if (pidfd >= 0) ::close(pidfd);
        });
    } catch (...) {
    }
}

std::optional<std::vector<ProcessEndWatches>> watchProcessesNamed(const std::vector<std::string>& baseNames) {
    try {
        std::vector<ProcessEndWatches> watches(baseNames.size());
        const auto ownUid = static_cast<std::uint64_t>(::getuid());
        const auto self = static_cast<std::uint32_t>(::getpid());
        std::vector<std::string> fileNames;
        for (const auto& base : baseNames)
            fileNames.push_back(base.empty() ? std::string() : base + executableSuffix());
        const auto wanted = [&](const std::string& name) -> std::optional<std::size_t> {
            for (std::size_t i = 0; i < fileNames.size(); ++i)
                if (!fileNames[i].empty() && equalsIgnoringAsciiCase(name, fileNames[i])) return i;
            return std::nullopt;
        };
        const bool listed = forEachProcess([&](std::uint32_t pid) {
            if (pid == self) return;
            const auto name = imageNameOf(pid);
            if (!name || !wanted(*name)) return;
            // Held first, looked at again after: a pid reused in between
            // cannot be watched in place of the tool.
            const int pidfd = pidfdOpen(pid);
            if (pidfd < 0) return;  // gone already, or a kernel without process descriptors
            auto watch = std::make_unique<PidfdWatch>(pid, pidfd);
            const auto nameAgain = imageNameOf(pid);
            const auto uid = realUidOf(pid);
            if (!nameAgain || !uid || *uid != ownUid) return;
            if (const auto index = wanted(*nameAgain)) watches[*index].push_back(std::move(watch));
        });
        if (!listed) return std::nullopt;
        return watches;
    } catch (...) {
        return std::nullopt;
    }
}

std::vector<ProcessInfo> listProcesses() {
    std::vector<ProcessInfo> result;
    try {
        forEachProcess([&](std::uint32_t pid) {
            if (auto name = imageNameOf(pid)) result.push_back(ProcessInfo{pid, std::move(*name)});
        });
    } catch (...) {
    }
    return result;
}

std::optional<std::uint64_t> workingSetBytes(std::uint32_t pid) {
    try {
        if (pid == 0) return std::nullopt;
        const auto status = readProcFile("/proc/" + std::to_string(pid) + "/status");
        if (!status) return std::nullopt;
        // A zombie has no memory and no VmRSS line: nothing, like a vanished one.
        const auto kib = statusNumber(*status, "VmRSS:");
        if (!kib) return std::nullopt;
        return *kib * 1024u;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace tolvane::platform::linuxbackend

namespace tolvane::platform {

namespace {

class EpollSet final : public WaitableSet {
public:
    explicit EpollSet(int fd) : m_fd(fd) {}
    ~EpollSet() override { ::close(m_fd); }
    EpollSet(const EpollSet&) = delete;
    EpollSet& operator=(const EpollSet&) = delete;
    std::intptr_t waitable() const override { return m_fd; }
    bool add(std::intptr_t waitable, std::uint64_t key) override {
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u64 = key;
        return ::epoll_ctl(m_fd, EPOLL_CTL_ADD, static_cast<int>(waitable), &e) == 0;
    }
    void remove(std::intptr_t waitable) override {
        ::epoll_ctl(m_fd, EPOLL_CTL_DEL, static_cast<int>(waitable), nullptr);
    }
    std::vector<std::uint64_t> signalled() override {
        std::vector<std::uint64_t> keys;
        epoll_event events[64];
        for (;;) {
            const int n = ::epoll_wait(m_fd, events, 64, 0);
            if (n < 0 && errno == EINTR) continue;
            for (int i = 0; i < n; ++i) keys.push_back(events[i].data.u64);
            // Level-triggered: what is not taken now is there at the next call.
            return keys;
        }
    }

private:
    int m_fd;
};

}  // namespace

std::unique_ptr<WaitableSet> createWaitableSet() {
    const int fd = ::epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<EpollSet>(fd);
}

}  // namespace tolvane::platform
