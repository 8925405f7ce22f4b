// The system's log on Linux: syslog datagrams written straight to /dev/log.
// glibc's syslog() would do, but it blocks when the log daemon is slow (its
// socket is a blocking one, and a full queue waits), and a supervisor must
// never wait on its own journal. Our own non-blocking socket drops a line
// the log cannot take at once.
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/linux/LinuxBackend.h"

namespace tolvane::platform {

namespace linuxbackend {

namespace {

// The facility of ordinary user programs; severities as syslog numbers them.
constexpr int kFacilityUser = 1 << 3;

int syslogSeverity(LogSeverity severity) {
    switch (severity) {
        case LogSeverity::Error: return 3;
        case LogSeverity::Warning: return 4;
        case LogSeverity::Information: return 6;
    }
    return 6;
}

// Longer lines are cut (at a character boundary): rsyslog and syslog-ng take
// at most 8 KB by default and the journal's lines stay far below that.
constexpr std::size_t kMessageLimit = 4096;

std::string_view cutAtCharacter(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u) --end;
    return text.substr(0, end);
}

}  // namespace

SystemLogSocket::SystemLogSocket(std::string path) : m_path(std::move(path)) {}

SystemLogSocket::~SystemLogSocket() {
    if (m_fd >= 0) ::close(m_fd);
}

bool SystemLogSocket::open() {
    if (m_fd >= 0) return true;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

bool SystemLogSocket::send(const std::string& identifier, LogSeverity severity, const std::string& message) {
    std::lock_guard lock(m_mutex);
    // The RFC 3164 form glibc writes: "<PRI>Mmm dd hh:mm:ss ident[pid]: text".
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char stamp[32];
    if (std::strftime(stamp, sizeof stamp, "%b %e %T", &tm) == 0) stamp[0] = '\0';
    std::string datagram = "<" + std::to_string(kFacilityUser | syslogSeverity(severity)) + ">" + stamp + " " +
                           identifier + "[" + std::to_string(::getpid()) + "]: ";
    datagram += cutAtCharacter(message, kMessageLimit);

    // Once more on a fresh socket if the daemon was restarted since (the old
    // socket then answers "refused" or "not connected"); never a wait.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!open()) return false;
        if (::send(m_fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
            static_cast<ssize_t>(datagram.size()))
            return true;
        const int error = errno;
        if (error != ECONNREFUSED && error != ENOTCONN && error != ECONNRESET) return false;  // full: dropped
        ::close(m_fd);
        m_fd = -1;
    }
    return false;
}

}  // namespace linuxbackend

SystemLogResult sendToSystemLog(const std::string& identifier, LogSeverity severity, const std::string& message) {
    try {
        static linuxbackend::SystemLogSocket systemLog("/dev/log");
        return systemLog.send(identifier, severity, message) ? SystemLogResult::Sent : SystemLogResult::Dropped;
    } catch (...) {
        return SystemLogResult::Dropped;
    }
}

// Each datagram is in the log's socket as soon as it is sent.
void flushSystemLog(std::chrono::milliseconds) {}

}  // namespace tolvane::platform
