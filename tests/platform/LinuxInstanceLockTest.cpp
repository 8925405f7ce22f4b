// The one-Tolvane lock of the Linux backend, an abstract-namespace socket:
// taken, found held (with a connection to its holder) and free again the
// moment it is let go; a socket on the name that cannot be asked who it is,
// or one of another user, is never believed to be a Tolvane of ours.
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

std::string uniqueName(const char *what) {
  return std::string("Vantorix-test-") + what + '-' +
         std::to_string(::getpid());
}

// A socket bound to the abstract name, as the lock binds it.
int bindAbstract(const std::string &name) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (fd < 0 ||
      ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0) {
    if (fd >= 0)
      ::close(fd);
    return -1;
  }
  return fd;
}

TEST(LinuxInstanceLock, TakenHeldAndFreeOnceLetGo) {
  const std::string name = uniqueName("lock");
  auto first = createInstanceLock(name);
  auto second = createInstanceLock(name);
  ASSERT_EQ(first->tryTake(), InstanceLockAttempt::Taken) << first->failure();
  EXPECT_EQ(first->tryTake(), InstanceLockAttempt::Taken);
  const auto listening = first->listeningDescriptor();
  EXPECT_GE(listening, 0);

  EXPECT_EQ(second->tryTake(), InstanceLockAttempt::Held) << second->failure();
  const auto connection = second->holderConnection();
  EXPECT_GE(connection, 0);
  EXPECT_EQ(second->holderConnection(), -1)
      << "the connection is handed over once";
  EXPECT_EQ(second->listeningDescriptor(), -1);

  // Let go, the name is free at once, though the caller still had its own
  // descriptor of the socket open: closing that frees it.
  first->letGo();
  ::close(static_cast<int>(listening));
  ::close(static_cast<int>(connection));
  EXPECT_EQ(second->tryTake(), InstanceLockAttempt::Taken) << second->failure();
}

TEST(LinuxInstanceLock, SocketThatCannotBeAskedOrOfAnotherUserIsNotBelieved) {
  // Bound but not listening: nobody to ask who it is.
  const std::string silent = uniqueName("silent");
  const int squatter = bindAbstract(silent);
  ASSERT_GE(squatter, 0);
  auto lock = createInstanceLock(silent);
  EXPECT_EQ(lock->tryTake(), InstanceLockAttempt::Failed);
  EXPECT_FALSE(lock->failure().empty());
  ::close(squatter);

  if (::getuid() != 0)
    GTEST_SKIP() << "another user's socket needs root to make";
  // Listening, as another user.
  const std::string foreign = uniqueName("foreign");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
      ::_exit(1);
    const int fd = bindAbstract(foreign);
    if (fd < 0 || ::listen(fd, 4) != 0)
      ::_exit(2);
    (void)!::write(ready[1], "r", 1);
    for (;;)
      ::pause(); // until the parent kills it
  }
  ::close(ready[1]);
  char byte = 0;
  const bool made = ::read(ready[0], &byte, 1) == 1;
  auto other = createInstanceLock(foreign);
  const auto attempt = made ? other->tryTake() : InstanceLockAttempt::Failed;
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ASSERT_TRUE(made) << "the other user's socket was not made";
  EXPECT_EQ(attempt, InstanceLockAttempt::Foreign) << other->failure();
  EXPECT_EQ(other->holderConnection(), -1);
}

} // namespace
