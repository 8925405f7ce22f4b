// Sends a running program's windows the messages Windows sends as a session
// ends or as something closes them, for the tests of the real Tolvane.exe
// under wine (which has no session to end):
//   window_messages <image> query-end       WM_QUERYENDSESSION (a logoff) to each top-level window
//   window_messages <image> end-cancelled   WM_ENDSESSION with FALSE: the end was cancelled
//   window_messages <image> end             WM_ENDSESSION with TRUE: the session ends
//   window_messages <image> close-box       WM_SYSCOMMAND SC_CLOSE to its captioned window, as its close box
// <image> is the executable's file name ("Tolvane.exe"), any case. Prints one
// line per window reached; exits 1 when no process of that name has one.
#include <windows.h>
// After windows.h:
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::vector<DWORD> processesNamed(const wchar_t* image) {
    std::vector<DWORD> pids;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry))
        if (::_wcsicmp(entry.szExeFile, image) == 0) pids.push_back(entry.th32ProcessID);
    ::CloseHandle(snapshot);
    return pids;
}

std::vector<HWND> topLevelWindowsOf(const std::vector<DWORD>& pids) {
    struct Search {
        const std::vector<DWORD>& pids;
        std::vector<HWND> found;
    } search{pids, {}};
    ::EnumWindows(
        [](HWND hwnd, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(hwnd, &owner);
            for (const DWORD pid : s->pids)
                if (owner == pid) s->found.push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: window_messages <image> query-end|end-cancelled|end|close-box\n", stderr);
        return 2;
    }
    const std::wstring action = argv[2];
    const auto windows = topLevelWindowsOf(processesNamed(argv[1]));
    int reached = 0;
    for (HWND hwnd : windows) {
        DWORD_PTR answer = 0;
        if (action == L"query-end") {
            if (::SendMessageTimeoutW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer))
                std::printf("%p query-end %lu\n", static_cast<void*>(hwnd), static_cast<unsigned long>(answer)),
                    ++reached;
        } else if (action == L"end-cancelled" || action == L"end") {
            const WPARAM ends = action == L"end" ? TRUE : FALSE;
            if (::SendMessageTimeoutW(hwnd, WM_ENDSESSION, ends, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer))
                std::printf("%p %ls\n", static_cast<void*>(hwnd), action.c_str()), ++reached;
        } else if (action == L"close-box") {
            wchar_t title[256] = {};
            ::GetWindowTextW(hwnd, title, 256);
            if (std::wcsncmp(title, L"Vantorix: Tools Launcher", 24) == 0 &&
                ::PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0))
                std::printf("%p close-box\n", static_cast<void*>(hwnd)), ++reached;
        } else {
            std::fputs("unknown action\n", stderr);
            return 2;
        }
    }
    return reached > 0 ? 0 : 1;
}
