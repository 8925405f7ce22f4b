// The syslog sender against a log socket of the test's own: the datagram a
// log daemon receives, a full queue that drops lines instead of waiting, and
// a daemon that went away and came back.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <regex>
#include <string>

#include "platform/linux/LinuxBackend.h"
#include "tests/support/posix/TempFolder.h"

namespace {

using tolvane::platform::LogSeverity;
using tolvane::platform::linuxbackend::SystemLogSocket;

// A log daemon's end: a bound datagram socket.
class LogDaemon {
public:
    explicit LogDaemon(const std::string& path) : m_path(path) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::unlink(path.c_str());
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ADD_FAILURE() << "bind";
    }
    ~LogDaemon() {
        ::close(m_fd);
        ::unlink(m_path.c_str());
    }
    std::string receive() {
        char buf[8192];
        timeval wait{2, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }

private:
    std::string m_path;
    int m_fd = -1;
};

TEST(SystemLog, LinesReachTheLogWithPriorityIdentifierAndPidAndAFullLogNeverWaits) {
    tolvane::testsupport::TempFolder folder;
    const std::string path = folder.file("log");
    SystemLogSocket sender(path);
    EXPECT_FALSE(sender.send("Tolvane", LogSeverity::Information, "no daemon yet"));

    auto daemon = std::make_unique<LogDaemon>(path);
    const struct {
        LogSeverity severity;
        std::string priority;  // user facility (8) + severity
    } severities[] = {{LogSeverity::Information, "<14>"}, {LogSeverity::Warning, "<12>"}, {LogSeverity::Error, "<11>"}};
    for (const auto& s : severities) {
        ASSERT_TRUE(sender.send("Tolvane", s.severity, "2003 [6 VX8_Tools_Data] Relancé"));
        const std::string datagram = daemon->receive();
        const std::regex form("^" + s.priority + R"([A-Z][a-z]{2} [ 1-3]\d \d\d:\d\d:\d\d Tolvane\[)" +
                              std::to_string(::getpid()) + R"(\]: 2003 \[6 VX8_Tools_Data\] Relancé$)");
        EXPECT_TRUE(std::regex_match(datagram, form)) << datagram;
    }

    // Nobody reads: the queue fills, and the lines past it are dropped at
    // once rather than waited on.
    int dropped = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5000 && dropped < 10; ++i)
        if (!sender.send("Tolvane", LogSeverity::Information, std::string(512, 'x'))) ++dropped;
    EXPECT_EQ(dropped, 10);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    // The daemon restarts: the sender finds the new socket.
    daemon.reset();
    EXPECT_FALSE(sender.send("Tolvane", LogSeverity::Information, "while it is away"));
    daemon = std::make_unique<LogDaemon>(path);
    EXPECT_TRUE(sender.send("Tolvane", LogSeverity::Information, "back"));
    EXPECT_NE(daemon->receive().find("Tolvane["), std::string::npos);
}

}  // namespace
