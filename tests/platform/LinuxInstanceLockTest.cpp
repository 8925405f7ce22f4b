// The one-Tolvane lock of the Linux backend, an abstract-namespace socket:
// a socket of another user on its name is never believed to be a Tolvane of
// ours (the kernel's peer credentials say whose it is). Taking, holding,
// freeing and a socket that cannot be asked are tried with the real Tolvane
// (tests/e2e/InstanceTest.cpp).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "platform/platform.h"

namespace {

using tolvane::platform::createInstanceLock;
using tolvane::platform::InstanceLockAttempt;

TEST(LinuxInstanceLock, AnotherUsersSocketOnTheNameIsNotBelieved) {
    if (::getuid() != 0) GTEST_SKIP() << "another user's socket needs root to make";
    // Listening on the name, as another user.
    const std::string name = "Vantorix-test-foreign-" + std::to_string(::getpid());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0) ::_exit(2);
        (void)!::write(ready[1], "r", 1);
        for (;;) ::pause();  // until the parent kills it
    }
    ::close(ready[1]);
    char byte = 0;
    const bool made = ::read(ready[0], &byte, 1) == 1;
    auto other = createInstanceLock(name);
    const auto attempt = made ? other->tryTake() : InstanceLockAttempt::Failed;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ASSERT_TRUE(made) << "the other user's socket was not made";
    EXPECT_EQ(attempt, InstanceLockAttempt::Foreign) << other->failure();
    EXPECT_EQ(other->holderConnection(), -1);
}

}  // namespace
