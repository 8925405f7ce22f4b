#pragma once
// The pieces of the Linux backend, one .cpp each: processes (/proc, fork and
// exec) and windows (X11 through xcb). SystemPlatform.cpp puts them behind the
// Platform interface. No OS header here: the xcb connection stays inside
// X11Windows.cpp.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tolvane::platform::linuxbackend {

// Processes (LinuxProcesses.cpp) ---------------------------------------------

// Name of the environment variable through which a started program learns the
// show state it was asked for ("hidden", "normal" or "minimised"). X11 has no
// equivalent of the show state Windows hands to a new process, so our own
// programs (the stand-in) read it to start unmapped or iconic.
inline constexpr const char* kShowStateVariable = "TOLVANE_SHOW_STATE";

StartResult startProgram(const std::string& applicationPath, const std::string& arguments, ShowState show,
                         const std::string& workingFolder);
void killProcessesNamed(const std::string& imageName);
std::vector<ProcessInfo> listProcesses();
std::optional<std::vector<ProcessEndWatches>> watchProcessesNamed(const std::vector<std::string>& baseNames);
std::optional<std::uint64_t> workingSetBytes(std::uint32_t pid);

// The system's log (SystemLog.cpp) ------------------------------------------

// A syslog datagram socket to `path` (/dev/log; a test's own socket in the
// tests), opened on first use, never blocking: send answers false for a line
// the log did not take at once.
class SystemLogSocket {
public:
    explicit SystemLogSocket(std::string path);
    ~SystemLogSocket();
    SystemLogSocket(const SystemLogSocket&) = delete;
    SystemLogSocket& operator=(const SystemLogSocket&) = delete;
    bool send(const std::string& identifier, LogSeverity severity, const std::string& message);

private:
    bool open();
    std::string m_path;
    std::mutex m_mutex;
    int m_fd = -1;
};

// Windows (X11Windows.cpp) ----------------------------------------------------

// Answers "which of these titles does a top-level window carry" and "do the
// windows carrying them still answer" over one X connection that is opened
// on first use and kept; a broken connection (the server went away) is
// dropped and opened anew at the next question. A question the server did
// not answer within a second in all is answered Unknown, and so are the
// questions of the next five seconds, at once.
class X11WindowFinder {
public:
    X11WindowFinder();
    ~X11WindowFinder();
    X11WindowFinder(const X11WindowFinder&) = delete;
    X11WindowFinder& operator=(const X11WindowFinder&) = delete;

    std::vector<WindowPresence> windowsPresence(const std::vector<std::string>& titles);

    // _NET_WM_PING: reads the replies to the pings of the previous call, then
    // pings the windows found now (Platform::windowsResponse). What was asked
    // is kept by window for the next call, and forgotten with the connection.
    std::vector<WindowResponse> windowsResponse(const std::vector<std::string>& titles);

private:
    struct Connection;
    struct PendingConnect;
    bool connect(std::chrono::steady_clock::time_point deadline);
    // One question: the quiet time, the deadline, the connection, and what is
    // left of them once `pass` has run on the connection (see the .cpp).
    template <typename Answer, typename Pass>
    std::vector<Answer> ask(std::size_t count, Answer unknown, Pass pass);
    std::chrono::steady_clock::time_point m_quietUntil{};
    std::mutex m_mutex;
    std::unique_ptr<Connection> m_connection;
    std::shared_ptr<PendingConnect> m_pending;  // a connection still being opened
};

}  // namespace tolvane::platform::linuxbackend
