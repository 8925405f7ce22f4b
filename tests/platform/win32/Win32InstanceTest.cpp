// The one-Tolvane lock of the Win32 backend: the machine-wide mutex, the
// file-name folding its name uses, and the sessions of the terminal
// services' process list. Wine runs every process in one session, so only
// "this session, with its user" can be seen here; which session decides
// what is tested without the system (InstanceClaimTest).
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/win32/Win32ProcessFixture.h"

namespace tolvane::testsupport {
namespace {

using tolvane::platform::createInstanceLock;
using tolvane::platform::InstanceLockAttempt;

using Win32Sessions = Win32ProgramTest;

TEST(Win32InstanceLock, TakenHeldAbandonedAndLetGo) {
    const std::string name = "Vantorix-test-" + std::to_string(::GetCurrentProcessId());
    auto first = createInstanceLock(name);
    auto second = createInstanceLock(name);
    EXPECT_EQ(first->tryTake(), InstanceLockAttempt::Taken);
    EXPECT_EQ(first->tryTake(), InstanceLockAttempt::Taken);
    // A mutex belongs to a thread: another thread is another holder.
    const auto fromAnotherThread = [&] {
        InstanceLockAttempt answer{};
        std::thread([&] { answer = second->tryTake(); }).join();
        return answer;
    };
    EXPECT_EQ(fromAnotherThread(), InstanceLockAttempt::Held);
    first->letGo();
    // That thread ends holding it, as a Tolvane that was killed: abandoned,
    // and ours all the same.
    EXPECT_EQ(fromAnotherThread(), InstanceLockAttempt::Taken);
    EXPECT_EQ(first->tryTake(), InstanceLockAttempt::Taken);
    first->letGo();
    second->letGo();
}

TEST_F(Win32Sessions, ProcessesOfANameWhateverItsCaseWithTheirSessionAndUser) {
    using namespace tolvane::platform;
    EXPECT_EQ(foldedFileName("Tolvane.exe"), foldedFileName("tOLVANE.EXE"));
    EXPECT_EQ(foldedFileName("\xC3\xA9t\xC3\xA9"), "\xC3\x89T\xC3\x89");  // été -> ÉTÉ

    const auto path = m_folder.addStandin("VX8_Sessions");
    const auto started = startAndLog(path, "");
    ASSERT_TRUE(started);
    const auto own = ownSession();
    ASSERT_TRUE(own);
    const auto found = processesInSessions("vx8_sessions.EXE");
    ASSERT_TRUE(found) << "the process list could not be read";
    ASSERT_EQ(found->size(), 1u);
    EXPECT_EQ(found->front().pid, static_cast<std::uint32_t>(started->pid));
    EXPECT_EQ(found->front().session, *own);
    EXPECT_FALSE(found->front().user.empty());

    m_platform->killProcessesNamed("VX8_Sessions");
    EXPECT_TRUE(waitUntilGone("VX8_Sessions"));
}

}  // namespace
}  // namespace tolvane::testsupport
