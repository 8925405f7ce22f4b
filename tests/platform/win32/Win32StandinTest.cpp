// The Windows stand-in itself, where it does more than the backend's tests
// already show: a start without a show state, closing its window, and the
// test switches that end it.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/win32/Win32Backend.h"
#include "tests/support/win32/Win32ProcessFixture.h"

namespace tolvane::testsupport {
namespace {

using tolvane::platform::win32backend::toWide;

class Win32Standin : public Win32ProgramTest {
protected:
    // Started directly, keeping a handle to read its exit status.
    HANDLE startKeepingHandle(const std::string& path, DWORD flags = 0, WORD show = SW_SHOWNORMAL) {
        auto commandLine = *toWide("\"" + path + "\"");
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = flags;
        startup.wShowWindow = show;
        PROCESS_INFORMATION started{};
        if (!::CreateProcessW(toWide(path)->c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &started))
            return nullptr;
        ::CloseHandle(started.hThread);
        m_handles.push_back(started.hProcess);
        return started.hProcess;
    }
    std::optional<DWORD> exitCodeWithin(HANDLE process, std::chrono::milliseconds timeout) {
        if (::WaitForSingleObject(process, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        ::GetExitCodeProcess(process, &code);
        return code;
    }
    void TearDown() override {
        for (HANDLE h : m_handles) {
            ::TerminateProcess(h, 1);
            ::WaitForSingleObject(h, 10000);
            ::CloseHandle(h);
        }
    }
    std::vector<HANDLE> m_handles;
};

TEST_F(Win32Standin, WithoutAShowStateItLogsNoneAndShowsItsWindow) {
    HANDLE process = startKeepingHandle(m_folder.addStandin("VX8_Tools_Plain"));
    ASSERT_NE(process, nullptr);
    ASSERT_TRUE(waitForLogLines(m_folder.path(), 1, 20s));
    EXPECT_EQ(m_folder.log().front().showState, "");
    EXPECT_EQ(m_folder.log().front().pid, static_cast<long>(::GetProcessId(process)));
    const auto window = findWindow("VX8_Tools_Plain");
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->visible);
}

TEST_F(Win32Standin, ClosingItsWindowEndsIt) {
    HANDLE process = startKeepingHandle(m_folder.addStandin("VX8_Tools_Close"));
    ASSERT_NE(process, nullptr);
    ASSERT_TRUE(waitForLogLines(m_folder.path(), 1, 20s));
    HWND window = ::FindWindowW(nullptr, L"VX8_Tools_Close");
    ASSERT_NE(window, nullptr);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(exitCodeWithin(process, 20s), 0u);
}

TEST_F(Win32Standin, TheSidecarsTimersEndItNormallyOrAsACrash) {
    const auto quitter = m_folder.addStandin("VX8_Tools_Exit");
    writeFile(quitter + ".standin", "# ends by itself\nexit_after_ms=100\n");
    const auto crasher = m_folder.addStandin("VX8_Tools_Crash");
    writeFile(crasher + ".standin", "crash_after_ms=100\n");
    HANDLE quits = startKeepingHandle(quitter);
    HANDLE crashes = startKeepingHandle(crasher);
    ASSERT_TRUE(quits && crashes);
    EXPECT_EQ(exitCodeWithin(quits, 20s), 0u);
    EXPECT_EQ(exitCodeWithin(crashes, 20s), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(m_folder.log().size(), 2u);  // both had started properly
}

}  // namespace
}  // namespace tolvane::testsupport
