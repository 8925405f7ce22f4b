// Win32 backend: the Platform interface over CreateProcessW, Toolhelp,
// psapi, FindWindowW, IsHungAppWindow and the version resource. Processes
// live in Win32Processes.cpp, the event log in Win32EventLog.cpp; clock,
// files and windows are small enough to stay here.
#include "platform/platform.h"

#include <windows.h>
// After windows.h:
#include <sddl.h>

#include <string>
#include <vector>

#include "platform/win32/Win32Backend.h"

namespace tolvane::platform {

const char* executableSuffix() { return ".exe"; }
char pathSeparator() { return '\\'; }
bool settingsInSystemStore() { return true; }

std::string userIdentity() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    std::string identity;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        LPWSTR text = nullptr;
        if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
            identity = win32backend::toUtf8(text);
            ::LocalFree(text);
        }
    }
    ::CloseHandle(token);
    return identity;
}

void allowForegroundFor(std::uint32_t pid) { ::AllowSetForegroundWindow(pid); }

std::unique_ptr<NotificationAreaWatch> watchNotificationArea() {
    class Unwatched final : public NotificationAreaWatch {
    public:
        int descriptor() const override { return -1; }
        std::optional<bool> areaPresent() override { return true; }
    };
    return std::make_unique<Unwatched>();
}

namespace {

using win32backend::toWide;

// Whether the top-level windows titled `title` (as FindWindowW matches it:
// without regard to case, shown or hidden) still take their messages, as the
// system itself judges it when it calls a window "not responding": the
// window's thread has not asked for a message for five seconds and is not
// waiting for one. Nothing here sends the window a message, so a hung tool
// can never hang the caller. Several windows with one title answer if any of
// them does; none at all, or a title no window can carry, is unknown.
WindowResponse responseOfWindowsTitled(const std::string& title) {
    const auto wide = title.empty() ? std::nullopt : toWide(title);
    if (!wide) return WindowResponse::Unknown;
    // The list can change while it is walked (a window that goes away ends
    // the walk early): what was seen is still an answer. The bound only
    // keeps a list that never ends from keeping us.
    constexpr int kMostWindowsPerTitle = 256;
    bool found = false;
    HWND window = nullptr;
    for (int n = 0; n < kMostWindowsPerTitle; ++n) {
        window = ::FindWindowExW(nullptr, window, nullptr, wide->c_str());
        if (!window) break;
        const bool hung = ::IsHungAppWindow(window);
        // One that went away meanwhile tells nothing.
        if (!::IsWindow(window)) continue;
        if (!hung) return WindowResponse::Answers;
        found = true;
    }
    return found ? WindowResponse::NotAnswering : WindowResponse::Unknown;
}

class Win32Platform final : public Platform {
public:
    StartResult startProgram(const std::string& applicationPath, const std::string& arguments, ShowState show,
                             const std::string& workingFolder) override {
        return win32backend::startProgram(applicationPath, arguments, show, workingFolder);
    }
    void killProcessesNamed(const std::string& baseName) override { win32backend::killProcessesNamed(baseName); }
    std::vector<ProcessInfo> listProcesses() override { return win32backend::listProcesses(); }
    std::optional<std::uint64_t> workingSetBytes(std::uint32_t pid) override {
        return win32backend::workingSetBytes(pid);
    }
    std::uint32_t ownProcessId() override { return ::GetCurrentProcessId(); }
    std::optional<std::vector<ProcessEndWatches>> watchProcessesNamed(
        const std::vector<std::string>& baseNames) override {
        return win32backend::watchProcessesNamed(baseNames);
    }

    std::vector<WindowResponse> windowsResponse(const std::vector<std::string>& titles) override {
        std::vector<WindowResponse> answers;
        answers.reserve(titles.size());
        for (const auto& title : titles) answers.push_back(responseOfWindowsTitled(title));
        return answers;
    }

    std::vector<WindowPresence> topLevelWindowsPresence(const std::vector<std::string>& titles) override {
        // FindWindowW compares titles without regard to case and sees hidden
        // windows too, which is what the running test asks for. It answers
        // from the window manager's own list, so a title no window has is
        // absent; its error code after an empty answer is not reliable, and
        // taking it for "unknown" would stop every restart. An untitled window
        // is no tool's: the system has plenty of them.
        std::vector<WindowPresence> answers;
        answers.reserve(titles.size());
        for (const auto& title : titles) {
            const auto wide = title.empty() ? std::nullopt : toWide(title);
            answers.push_back(wide && ::FindWindowW(nullptr, wide->c_str()) != nullptr ? WindowPresence::Found
                                                                                       : WindowPresence::Absent);
        }
        return answers;
    }

    std::uint32_t rawTickCount() override {
        // The 32-bit reading on purpose: MonotonicTickCount owns the wrap.
        return ::GetTickCount();
    }

    std::chrono::local_seconds localNow() override {
        SYSTEMTIME t{};
        ::GetLocalTime(&t);
        using namespace std::chrono;
        const auto date = local_days{year{t.wYear} / month{t.wMonth} / day{t.wDay}};
        return date + hours{t.wHour} + minutes{t.wMinute} + seconds{t.wSecond};
    }

    bool fileExists(const std::string& path) override {
        const auto wide = win32backend::toWidePath(path);
        if (!wide || wide->empty()) return false;
        const DWORD attributes = ::GetFileAttributesW(wide->c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    std::string ownExecutablePath() override { return win32backend::ownExecutablePath(); }

    std::optional<VersionInfo> ownVersion() override {
        return win32backend::readVersionResource(win32backend::ownExecutablePath());
    }
};

}  // namespace

std::unique_ptr<Platform> createSystemPlatform() { return std::make_unique<Win32Platform>(); }

std::unique_ptr<WaitableSet> createWaitableSet() { return nullptr; }

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    if (auto wide = win32backend::ownCommandLineArguments()) return std::move(*wide);
    // Only when the system could not split its own text: the ANSI bytes
    // still carry every switch, which matters more than the accents.
    return argc > 1 && argv ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

}  // namespace tolvane::platform
