#pragma once
// Process helpers for tests that start real programs: waiting on conditions
// with a deadline, looking at /proc, and ending and reaping whatever a test
// started.
//
// Tolvane's backend never waits for the programs it starts (they are
// re-parented to init), and init does not reap in every container. A test
// binary therefore calls adoptOrphans() once: orphans of its own children then
// become its children, and stopProgramsRunningFrom() / reapExitedChildren()
// reap them, so no test leaves zombies behind.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::testsupport {

using namespace std::chrono_literals;

// Calls `condition` until it holds or `timeout` has passed; true when it held.
// Polls at a short, growing interval: /proc and files cannot be waited on.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// Makes this process the reaper of its descendants' orphans
// (PR_SET_CHILD_SUBREAPER). Not inherited by children.
void adoptOrphans();

// Reaps every child of this process that has ended; returns how many.
int reapExitedChildren();

struct ProcessState {
    pid_t pid = 0;
    pid_t parent = 0;
    pid_t session = 0;
    char state = '?';  // R, S, Z...
};
std::optional<ProcessState> processState(pid_t pid);

// Every process whose parent is `parent` (zombies included).
std::vector<ProcessState> childrenOf(pid_t parent);

// Descriptors open in this process (without the one used to list them).
std::vector<int> openDescriptors();

// Absolute path /proc/PID/exe points to, or nothing.
std::optional<std::string> executablePath(pid_t pid);

// Pids of the live processes whose executable lies in `folder`.
std::vector<pid_t> processesRunningFrom(const std::string& folder);

// Waits (pidfd, no polling) until `pid` has ended; reaps it when it is our
// child and gives its wait status. Nothing on timeout.
struct Exit {
    std::optional<int> status;  // for our own children
};
std::optional<Exit> waitForExit(pid_t pid, std::chrono::milliseconds timeout);

// True while the process exists and has not ended within `window`: the check
// for "this one was not killed".
bool staysAlive(pid_t pid, std::chrono::milliseconds window);

// SIGKILLs every process running from `folder` and waits until they are gone,
// then reaps ended children. Call it in every teardown that started programs.
void stopProgramsRunningFrom(const std::string& folder);

// Runs `body` in a forked copy of this process and gives back what it
// returned, so a test can look at process state (children, zombies) that
// the test process itself cannot have clean. Nothing when the child did not
// finish within `timeout` (it is then killed and reaped).
std::optional<std::string> runInChildProcess(const std::function<std::string()>& body,
                                             std::chrono::milliseconds timeout);

// Starts `path` with `argv` (argv[0] included) as a direct child, optionally
// under another user id; stdin/stdout on /dev/null, stderr appended to
// `errorFile` when one is named, else on /dev/null. Returns the pid.
pid_t spawnChild(const std::string& path, const std::vector<std::string>& argv,
                 std::optional<uid_t> asUser = std::nullopt, const std::string& errorFile = {});

// libfaketime's library, to preload into a program whose wall clock a test
// moves. Throws std::runtime_error when it is not installed.
std::string libfaketimePath();

// Copies of one executable under other names in `folder`, as the suite's
// thirty programs: hard links when possible, else real copies; never symbolic
// links, since /proc/PID/exe would then name the link's target.
void makeCopies(const std::string& source, const std::string& folder, const std::vector<std::string>& names);

}  // namespace tolvane::testsupport
