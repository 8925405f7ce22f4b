// The one-Tolvane lock on Linux: a listening socket in the abstract
// namespace. It needs no folder (a runtime folder that is missing, or made
// open to everyone by another user, cannot switch it off), and the kernel
// frees the name the moment its last descriptor closes, so a Tolvane that
// was killed leaves nothing behind. The same socket is where a second start
// asks the running Tolvane to show its window.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace tolvane::platform {

namespace {

void closeDescriptor(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

class AbstractSocketLock final : public InstanceLock {
public:
    explicit AbstractSocketLock(const std::string& name) {
        m_address.sun_family = AF_UNIX;
        // A leading NUL puts the name in the abstract namespace; the name
        // is exactly the bytes the length covers, no terminator, no padding.
        const std::size_t length = std::min(name.size(), sizeof m_address.sun_path - 1);
        std::memcpy(m_address.sun_path + 1, name.data(), length);
        m_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    }
    ~AbstractSocketLock() override {
        closeDescriptor(m_listening);
        closeDescriptor(m_holder);
    }

    InstanceLockAttempt tryTake() override {
        if (m_listening >= 0) return InstanceLockAttempt::Taken;
        closeDescriptor(m_holder);
        m_failure.clear();
        // Close-on-exec: a tool started by Tolvane must never keep the lock
        // alive after Tolvane has gone.
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return failed(std::strerror(errno));
        if (::bind(fd, address(), m_length) == 0) {
            if (::listen(fd, SOMAXCONN) == 0) {
                m_listening = fd;
                return InstanceLockAttempt::Taken;
            }
            const int error = errno;
            closeDescriptor(fd);
            return failed(std::strerror(error));
        }
        const int bindError = errno;
        closeDescriptor(fd);
        if (bindError != EADDRINUSE) return failed(std::strerror(bindError));

        // The name is taken: only the kernel can say by whom. A socket that
        // does not listen, or whose queue is full, cannot be asked; whoever
        // it is, it is not believed.
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return failed(std::strerror(errno));
        if (::connect(fd, address(), m_length) != 0) {
            const int error = errno;
            closeDescriptor(fd);
            return failed(std::string("nom déjà pris par un socket qui n'accepte pas de connexion : ") +
                          std::strerror(error));
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
            const int error = errno;
            closeDescriptor(fd);
            return failed(std::strerror(error));
        }
        if (peer.uid != ::getuid()) {
            // Our name carries our user id: another user holding it is in
            // the way, not a Tolvane of ours.
            closeDescriptor(fd);
            m_failure = "nom déjà pris par l'utilisateur " + std::to_string(peer.uid);
            return InstanceLockAttempt::Foreign;
        }
        m_holder = fd;
        return InstanceLockAttempt::Held;
    }

    void letGo() override {
        closeDescriptor(m_listening);
        closeDescriptor(m_holder);
    }

    std::string failure() const override { return m_failure; }
    bool isSocket() const override { return true; }

    std::intptr_t listeningDescriptor() override {
        return m_listening < 0 ? -1 : ::fcntl(m_listening, F_DUPFD_CLOEXEC, 0);
    }

    std::intptr_t holderConnection() override {
        const int fd = m_holder;
        m_holder = -1;
        return fd;
    }

private:
    const sockaddr* address() const { return reinterpret_cast<const sockaddr*>(&m_address); }
    InstanceLockAttempt failed(std::string why) {
        m_failure = std::move(why);
        return InstanceLockAttempt::Failed;
    }

    sockaddr_un m_address{};
    socklen_t m_length = 0;
    int m_listening = -1;
    int m_holder = -1;
    std::string m_failure;
};

}  // namespace

std::unique_ptr<InstanceLock> createInstanceLock(const std::string& name) {
    return std::make_unique<AbstractSocketLock>(name);
}

bool instanceLockIsMachineWide() { return false; }

// Linux file names are compared byte for byte.
std::string foldedFileName(const std::string& name) { return name; }

// One Tolvane per user: the sessions of the machine do not come into it.
std::optional<std::vector<SessionProcess>> processesInSessions(const std::string&) { return std::nullopt; }
std::optional<std::uint32_t> ownSession() { return std::nullopt; }

}  // namespace tolvane::platform
