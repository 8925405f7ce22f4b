#include "tests/support/posix/Processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tolvane::testsupport {

namespace {

int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

std::vector<pid_t> allPids() {
    std::vector<pid_t> pids;
    DIR* dir = ::opendir("/proc");
    if (!dir) return pids;
    while (const dirent* e = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && pid > 0) pids.push_back(static_cast<pid_t>(pid));
    }
    ::closedir(dir);
    return pids;
}

}  // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(10));
    }
}

void adoptOrphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); }

int reapExitedChildren() {
    int count = 0;
    int status = 0;
    while (::waitpid(-1, &status, WNOHANG) > 0) ++count;
    return count;
}

std::optional<ProcessState> processState(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!in || !std::getline(in, text)) return std::nullopt;
    // "pid (comm) S ppid pgrp session ..."; comm may hold blanks and ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream rest(text.substr(close + 1));
    ProcessState s;
    s.pid = pid;
    pid_t group = 0;
    rest >> s.state >> s.parent >> group >> s.session;
    if (!rest) return std::nullopt;
    return s;
}

std::vector<ProcessState> childrenOf(pid_t parent) {
    std::vector<ProcessState> children;
    for (const pid_t pid : allPids()) {
        if (auto s = processState(pid); s && s->parent == parent) children.push_back(*s);
    }
    return children;
}

std::vector<int> openDescriptors() {
    std::vector<int> fds;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return fds;
    const int own = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && fd != own) fds.push_back(static_cast<int>(fd));
    }
    ::closedir(dir);
    return fds;
}

std::optional<std::string> executablePath(pid_t pid) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), buf, sizeof buf);
    if (n <= 0) return std::nullopt;
    return std::string(buf, static_cast<std::size_t>(n));
}

std::vector<pid_t> processesRunningFrom(const std::string& folder) {
    std::vector<pid_t> pids;
    const std::string prefix = folder + "/";
    for (const pid_t pid : allPids()) {
        if (pid == ::getpid()) continue;
        const auto exe = executablePath(pid);
        if (exe && exe->compare(0, prefix.size(), prefix) == 0) pids.push_back(pid);
    }
    return pids;
}

std::optional<Exit> waitForExit(pid_t pid, std::chrono::milliseconds timeout) {
    const int pidfd = pidfdOpen(pid);
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        int ready;
        while ((ready = ::poll(&p, 1, static_cast<int>(timeout.count()))) < 0 && errno == EINTR) {
        }
        ::close(pidfd);
        if (ready == 0) return std::nullopt;
    }
    // Ended, or already reaped (no pidfd then). Reap it if it is ours; it can
    // only block if the pidfd could not be had for a process still running.
    Exit result;
    int status = 0;
    if (::waitpid(pid, &status, pidfd >= 0 ? 0 : WNOHANG) == pid) result.status = status;
    return result;
}

bool staysAlive(pid_t pid, std::chrono::milliseconds window) {
    const int pidfd = pidfdOpen(pid);
    if (pidfd < 0) return false;
    pollfd p{pidfd, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&p, 1, static_cast<int>(window.count()))) < 0 && errno == EINTR) {
    }
    ::close(pidfd);
    return ready == 0;
}

void stopProgramsRunningFrom(const std::string& folder) {
    for (int round = 0; round < 5; ++round) {
        const auto pids = processesRunningFrom(folder);
        if (pids.empty()) break;
        for (const pid_t pid : pids) ::kill(pid, SIGKILL);
        for (const pid_t pid : pids) waitForExit(pid, 5000ms);
    }
    reapExitedChildren();
}

std::optional<std::string> runInChildProcess(const std::function<std::string()>& body,
                                             std::chrono::milliseconds timeout) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return std::nullopt;
    }
    if (child == 0) {
        ::close(fds[0]);
        std::string out;
        try {
            out = body();
        } catch (const std::exception& e) {
            out = std::string("exception: ") + e.what();
        }
        std::size_t at = 0;
        while (at < out.size()) {
            const ssize_t n = ::write(fds[1], out.data() + at, out.size() - at);
            if (n <= 0) break;
            at += static_cast<std::size_t>(n);
        }
        ::_exit(0);  // no destructors, no gtest reporting in the copy
    }
    ::close(fds[1]);
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool finished = false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buf[4096];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            finished = true;
            break;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (!finished) ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!finished) return std::nullopt;
    return out;
}

pid_t spawnChild(const std::string& path, const std::vector<std::string>& argv, std::optional<uid_t> asUser,
                 const std::string& errorFile) {
    std::vector<std::string> args = argv;
    std::vector<char*> cargv;
    for (auto& a : args) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2; ++fd) ::dup2(devNull, fd);
        if (!errorFile.empty()) {
            const int errors = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (errors >= 0) ::dup2(errors, 2);
        }
        ::close_range(3, ~0u, 0);
        if (asUser) {
            if (::setgid(*asUser) != 0 || ::setuid(*asUser) != 0) ::_exit(126);
        }
        ::execv(path.c_str(), cargv.data());
        ::_exit(127);
    }
    return pid;
}

std::string libfaketimePath() {
    for (const char* path :
         {"/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1", "/usr/lib/aarch64-linux-gnu/faketime/libfaketime.so.1",
          "/usr/lib/faketime/libfaketime.so.1"})
        if (::access(path, R_OK) == 0) return path;
    throw std::runtime_error("libfaketime is not installed");
}

void makeCopies(const std::string& source, const std::string& folder, const std::vector<std::string>& names) {
    for (const auto& name : names) {
        const std::string target = folder + "/" + name;
        if (::link(source.c_str(), target.c_str()) == 0) continue;
        std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
        ::chmod(target.c_str(), 0755);
    }
}

}  // namespace tolvane::testsupport
