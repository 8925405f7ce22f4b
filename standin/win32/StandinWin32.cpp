// The stand-in on Windows: behaves, as far as Tolvane can see, like one of
// the suite's programs. Plain Win32, no Qt, so thirty copies cost little.
//
// - It titles one top-level window with its own executable base name (a copy
//   named VX8_Player_A.exe titles itself "VX8_Player_A"), which FindWindowW
//   finds from any process.
// - The window is shown as the starting program asked (STARTUPINFO's show
//   state: hidden, normal, minimised). "/Veille=True" in its arguments (any
//   case) leaves it hidden, like a tool in standby: it still exists and is
//   still found by title.
// - It appends one line to "standin.log" in its own folder per start, in the
//   Linux stand-in's format (StandinLog.h), once its window exists: argv[0]
//   and the arguments as the C runtime split the command line, the show state
//   asked for ("hidden", "normal", "minimised", the number for any other,
//   empty when none was given) and, in place of the open descriptors, which
//   of the standard handles 0, 1, 2 it was given.
// - "freeze_after_ms" stops its message loop (the thread sleeps) for
//   "freeze_for_ms", or until it is killed.
// - It runs until killed or until its window is closed. Without a desktop to
//   create its window on it logs its start and exits with status 2.
// - A sidecar file "<file name>.standin" beside it changes that
//   (StandinOptions.h); "ignore_sigterm" means nothing here, since Windows
//   ends programs only forcibly.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/Win32Backend.h"
#include "standin/StandinLog.h"
#include "standin/StandinOptions.h"

using tolvane::platform::win32backend::toUtf8;
using tolvane::platform::win32backend::toWide;
using tolvane::platform::win32backend::toWidePath;
using tolvane::standin::StandinLogLine;
using tolvane::standin::StandinOptions;

namespace {

constexpr int kExitNoDesktop = 2;

std::string readWholeFile(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    ::CloseHandle(file);
    return text;
}

// One locked append per line: thirty copies starting at once never
// interleave or overwrite each other's lines.
void appendLogLine(const std::wstring& logPath, const std::string& text) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file =
        ::CreateFileW(logPath.c_str(), FILE_APPEND_DATA, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    OVERLAPPED whole{};
    const bool locked = ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (locked) ::UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    ::CloseHandle(file);
}

// The folder the program was started in ("" when it cannot be read).
std::string workingFolderAtStart() {
    const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
    if (size == 0) return {};
    std::wstring folder(size, L'\0');
    const DWORD n = ::GetCurrentDirectoryW(size, folder.data());
    if (n == 0 || n >= size) return {};
    folder.resize(n);
    return toUtf8(folder);
}

std::string localTimeWithMilliseconds() {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, t.wMilliseconds);
    return buf;
}

std::string showStateAskedFor(const STARTUPINFOW& startup) {
    if (!(startup.dwFlags & STARTF_USESHOWWINDOW)) return {};
    switch (startup.wShowWindow) {
        case SW_HIDE: return "hidden";
        case SW_SHOWNORMAL: return "normal";
        case SW_SHOWMINIMIZED: return "minimised";
        default: return std::to_string(startup.wShowWindow);
    }
}

std::string standardHandlesGiven() {
    std::string out;
    const DWORD ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        const HANDLE h = ::GetStdHandle(ids[i]);
        if (h == nullptr || h == INVALID_HANDLE_VALUE) continue;
        if (!out.empty()) out.push_back(',');
        out += std::to_string(i);
    }
    return out;
}

void holdMemory(long megabytes) {
    if (megabytes <= 0) return;
    const SIZE_T size = static_cast<SIZE_T>(megabytes) * 1024 * 1024;
    void* block = ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!block) return;
    // Touch every page so that it is in the working set, which is what the
    // memory display reads. The block is kept until the process ends.
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    volatile char* bytes = static_cast<volatile char*>(block);
    for (SIZE_T at = 0; at < size; at += info.dwPageSize) bytes[at] = 1;
}

[[noreturn]] void crash() {
    // Ends with the status an access violation gives, without raising one:
    // a real fault would bring up the system's (or wine's) crash dialog and
    // keep the process alive behind it.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(EXCEPTION_ACCESS_VIOLATION));
    ::ExitProcess(static_cast<UINT>(EXCEPTION_ACCESS_VIOLATION));
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            // The title drawn inside the window helps whoever looks at the
            // demo's screen.
            PAINTSTRUCT paint;
            HDC dc = ::BeginPaint(window, &paint);
            wchar_t title[256];
            const int length = ::GetWindowTextW(window, title, 256);
            ::TextOutW(dc, 10, 10, title, length);
            ::EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY: ::PostQuitMessage(0); return 0;
        default: return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND createWindow(HINSTANCE instance, const std::wstring& title) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"TolvaneStandin";
    if (!::RegisterClassExW(&windowClass)) return nullptr;
    return ::CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                             CW_USEDEFAULT, 320, 80, nullptr, nullptr, instance, nullptr);
}

// A new copy of this program with the same command line and show state, as a
// program that restarts itself does; it is not waited for.
void startNewCopy(const STARTUPINFOW& startup) {
    wchar_t path[32768];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, 32768);
    if (length == 0 || length >= 32768) return;
    std::wstring commandLine = ::GetCommandLineW();
    STARTUPINFOW copy{};
    copy.cb = sizeof copy;
    copy.dwFlags = startup.dwFlags & STARTF_USESHOWWINDOW;
    copy.wShowWindow = startup.wShowWindow;
    PROCESS_INFORMATION started{};
    if (::CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &copy, &started)) {
        ::CloseHandle(started.hThread);
        ::CloseHandle(started.hProcess);
    }
}

bool endsWithExe(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".exe";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::string exePath = tolvane::platform::win32backend::ownExecutablePath();
    const auto cut = exePath.find_last_of('\\');
    const std::string folder = cut == std::string::npos ? "." : exePath.substr(0, cut);
    const std::string fileName = cut == std::string::npos ? exePath : exePath.substr(cut + 1);
    const std::string baseName = endsWithExe(fileName) ? fileName.substr(0, fileName.size() - 4) : fileName;

    StandinOptions options;
    if (const auto sidecar = toWidePath(folder + "\\" + fileName + ".standin"))
        options = tolvane::standin::parseStandinOptions(readWholeFile(*sidecar));

    const DWORD started = ::GetTickCount();
    holdMemory(options.holdMb);

    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(toUtf8(argv[i]));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);

    StandinLogLine line;
    line.time = localTimeWithMilliseconds();
    line.pid = static_cast<long>(::GetCurrentProcessId());
    line.executableName = fileName;
    line.showState = showStateAskedFor(startup);
    line.openDescriptors = standardHandlesGiven();
    line.workingFolder = workingFolderAtStart();
    line.argv0 = argc > 0 ? toUtf8(argv[0]) : "";
    line.arguments = arguments;

    HWND window = nullptr;
    if (!options.noWindow) {
        const auto title = toWide(options.title.value_or(baseName));
        window = createWindow(::GetModuleHandleW(nullptr), title.value_or(L""));
        const bool standby = tolvane::standin::asksForStandby(arguments);
        if (window && !standby) {
            const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWNORMAL;
            if (show != SW_HIDE) {
                ::ShowWindow(window, show);
                ::UpdateWindow(window);
            }
        }
    }
    if (const auto logPath = toWidePath(folder + "\\standin.log"))
        appendLogLine(*logPath, tolvane::standin::formatLogLine(line));
    if (!options.noWindow && !window) return kExitNoDesktop;  // a suite program could not run either

    // Thread timers post WM_TIMER to this thread's queue, window or not.
    const auto timerFor = [&](const std::optional<long>& ms) -> UINT_PTR {
        if (!ms) return 0;
        const DWORD elapsed = ::GetTickCount() - started;
        const DWORD left = static_cast<DWORD>(*ms) > elapsed ? static_cast<DWORD>(*ms) - elapsed : 0;
        return ::SetTimer(nullptr, 0, left > 0 ? left : USER_TIMER_MINIMUM, nullptr);
    };
    const UINT_PTR exitTimer = timerFor(options.exitAfterMs);
    const UINT_PTR crashTimer = timerFor(options.crashAfterMs);
    const UINT_PTR restartTimer = timerFor(options.restartAfterMs);
    UINT_PTR freezeTimer = timerFor(options.freezeAfterMs);

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) {
            if (crashTimer && message.wParam == crashTimer) crash();
            if (exitTimer && message.wParam == exitTimer) return 0;
            if (restartTimer && message.wParam == restartTimer) {
                startNewCopy(startup);
                return 0;
            }
            if (freezeTimer && message.wParam == freezeTimer) {
                ::KillTimer(nullptr, freezeTimer);  // once
                freezeTimer = 0;
                // The thread stops asking for messages, as a program stuck in
                // a long computation or a deadlock: after five seconds the
                // system calls its window not responding.
                ::Sleep(options.freezeForMs > 0 ? static_cast<DWORD>(options.freezeForMs) : INFINITE);
                continue;
            }
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
