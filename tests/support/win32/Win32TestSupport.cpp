#include "tests/support/win32/Win32TestSupport.h"

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <stdexcept>
#include <thread>

#include "platform/win32/Win32Backend.h"

namespace tolvane::testsupport {

using tolvane::platform::win32backend::toUtf8;

namespace {

// For the file functions: long paths in the form they accept.
std::wstring wide(const std::string& utf8Path) {
    auto w = tolvane::platform::win32backend::toWidePath(utf8Path);
    if (!w) throw std::invalid_argument("not UTF-8: " + utf8Path);
    return *w;
}

// For names, titles and paths compared as text.
std::wstring wideText(const std::string& utf8) {
    auto w = tolvane::platform::win32backend::toWide(utf8);
    if (!w) throw std::invalid_argument("not UTF-8: " + utf8);
    return *w;
}

bool startsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() &&
           ::CompareStringOrdinal(text.data(), static_cast<int>(prefix.size()), prefix.data(),
                                  static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

bool equalsNoCase(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

struct Snapshot {
    std::uint32_t pid;
    std::wstring name;
};
std::vector<Snapshot> snapshot() {
    std::vector<Snapshot> out;
    HANDLE h = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (h == INVALID_HANDLE_VALUE) return out;
    PROCESSENTRY32W e{};
    e.dwSize = sizeof e;
    for (BOOL more = ::Process32FirstW(h, &e); more; more = ::Process32NextW(h, &e)) {
        out.push_back({e.th32ProcessID, e.szExeFile});
        e.dwSize = sizeof e;
    }
    ::CloseHandle(h);
    return out;
}

std::optional<std::wstring> imagePathWide(std::uint32_t pid) {
    HANDLE p = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!p) return std::nullopt;
    std::wstring buffer(32768, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    const bool ok = ::QueryFullProcessImageNameW(p, 0, buffer.data(), &size);
    DWORD exitCode = 0;
    const bool running = ::GetExitCodeProcess(p, &exitCode) && exitCode == STILL_ACTIVE;
    ::CloseHandle(p);
    if (!ok || !running) return std::nullopt;
    buffer.resize(size);
    return buffer;
}

}  // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto pause = 5ms;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(100));
    }
}

std::string standinPath() {
    std::string path = TOLVANE_STANDIN_PATH;
    // CMake names the build tree as the building system sees it; under wine
    // the Unix root is drive Z:.
    if (!path.empty() && path.front() == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string programFilesFolder() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableW(L"ProgramFiles", buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "C:\\Program Files";
    return toUtf8(std::wstring_view(buffer, n));
}

void writeFile(const std::string& path, const std::string& content) {
    HANDLE f =
        ::CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + path);
    DWORD written = 0;
    ::WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(f);
}

std::string readFile(const std::string& path) {
    HANDLE f = ::CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    ::CloseHandle(f);
    return text;
}

bool pathExists(const std::string& path) { return ::GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

void removeFile(const std::string& path) { ::DeleteFileW(wide(path).c_str()); }

void createFolders(const std::string& path) {
    for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        ::CreateDirectoryW(wide(path.substr(0, at)).c_str(), nullptr);
    if (!::CreateDirectoryW(wide(path).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        throw std::runtime_error("cannot create " + path);
}

void removeTree(const std::string& path) {
    const std::wstring folder = wide(path);
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(toUtf8(child));
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
}

void copyStandin(const std::string& path) {
    if (!::CopyFileW(wide(standinPath()).c_str(), wide(path).c_str(), FALSE))
        throw std::runtime_error("cannot copy the stand-in to " + path);
}

std::vector<tolvane::standin::StandinLogLine> readStandinLog(const std::string& folder) {
    return tolvane::standin::parseLog(readFile(folder + "\\standin.log"));
}

bool waitForLogLines(const std::string& folder, std::size_t count, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return readStandinLog(folder).size() >= count; }, timeout);
}

ProgramFolder::ProgramFolder(const std::string& path) : m_path(path) {
    endProcessesRunningFrom(m_path);
    removeTree(m_path);
    createFolders(m_path);
}

ProgramFolder::~ProgramFolder() {
    endProcessesRunningFrom(m_path);
    waitForTaskkillToFinish();
    removeTree(m_path);
}

std::vector<std::string> ProgramFolder::addStandins(const std::vector<std::string>& baseNames) const {
    std::vector<std::string> paths;
    for (const auto& name : baseNames) {
        paths.push_back(file(name + ".exe"));
        copyStandin(paths.back());
    }
    return paths;
}

std::optional<std::string> imagePathOf(std::uint32_t pid) {
    const auto path = imagePathWide(pid);
    if (!path) return std::nullopt;
    return toUtf8(*path);
}

std::vector<std::uint32_t> processesNamed(const std::string& imageName) {
    const std::wstring name = wideText(imageName);
    std::vector<std::uint32_t> pids;
    for (const auto& p : snapshot())
        if (equalsNoCase(p.name, name) && processAlive(p.pid)) pids.push_back(p.pid);
    return pids;
}

bool processAlive(std::uint32_t pid) {
    HANDLE p = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
    if (!p) return false;
    const bool alive = ::WaitForSingleObject(p, 0) == WAIT_TIMEOUT;
    ::CloseHandle(p);
    return alive;
}

bool staysAlive(std::uint32_t pid, std::chrono::milliseconds window) {
    HANDLE p = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!p) return false;
    const bool alive = ::WaitForSingleObject(p, static_cast<DWORD>(window.count())) == WAIT_TIMEOUT;
    ::CloseHandle(p);
    return alive;
}

void endProcessesRunningFrom(const std::string& folder) {
    const std::wstring prefix = wideText(folder);
    std::vector<HANDLE> ending;
    for (const auto& p : snapshot()) {
        if (p.pid == ::GetCurrentProcessId()) continue;
        const auto path = imagePathWide(p.pid);
        if (!path) continue;
        const bool inside =
            equalsNoCase(*path, prefix) ||
            (startsWithNoCase(*path, prefix) && path->size() > prefix.size() && (*path)[prefix.size()] == L'\\');
        if (!inside) continue;
        HANDLE h = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, p.pid);
        if (!h) continue;
        ::TerminateProcess(h, 1);
        ending.push_back(h);
    }
    for (HANDLE h : ending) {
        ::WaitForSingleObject(h, 10000);
        ::CloseHandle(h);
    }
}

void waitForTaskkillToFinish() {
    waitUntil([] { return processesNamed("taskkill.exe").empty(); }, 10s);
}

std::optional<WindowState> findWindow(const std::string& title) {
    HWND w = ::FindWindowW(nullptr, wideText(title).c_str());
    if (!w) return std::nullopt;
    WindowState state;
    state.visible = ::IsWindowVisible(w) != FALSE;
    state.iconic = ::IsIconic(w) != FALSE;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(w, &pid);
    state.ownerPid = pid;
    return state;
}

}  // namespace tolvane::testsupport
