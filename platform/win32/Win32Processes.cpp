// Starting, listing, measuring and killing processes on Windows.
//
// A tool is started with its application path given to CreateProcessW
// explicitly. Given only a command line, CreateProcessW guesses where an
// unquoted path ends and tries "C:\Program.exe" before
// "C:\Program Files\Vantorix\VX8_Player.exe"; with the path explicit, no
// guess is ever made, and the quoted path at the head of the command line
// only becomes the program's argv[0].
#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>

#include "platform/shared/WindowsCommandLine.h"
#include "platform/win32/Win32Backend.h"

namespace tolvane::platform::win32backend {

namespace {

WORD showCommand(ShowState show) {
    switch (show) {
        case ShowState::Hidden: return SW_HIDE;
        case ShowState::Normal: return SW_SHOWNORMAL;
        case ShowState::Minimised: return SW_SHOWMINIMIZED;
    }
    return SW_SHOWNORMAL;
}

// Owns a kernel handle for the length of one call.
class Handle {
public:
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() {
        if (valid()) ::CloseHandle(m_h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_h; }

private:
    HANDLE m_h;
};

bool sameFileName(std::wstring_view a, std::wstring_view b) {
    // The file system's own case rule (ordinal, upper-cased), not the user's
    // locale: "i" and "I" match whatever the station's language is.
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring systemProgram(const wchar_t* fileName) {
    // Started from the system folder by full path: a "taskkill.exe" lying in
    // Tolvane's folder or in the current folder, both of which CreateProcessW
    // searches first, is never run in its place.
    wchar_t folder[MAX_PATH];
    const UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::wstring path(folder, n);
    if (path.back() != L'\\') path.push_back(L'\\');
    return path + fileName;
}

std::wstring ownImageName() {
    const std::string own = fileNamePart(ownExecutablePath());
    return toWide(own).value_or(std::wstring());
}

// One plain file name, nothing more: '*' and '?' are taskkill's wildcards, a
// quote would end the name on its command line, and the others cannot appear
// in a file name at all.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name.find_first_of("\\/:*?\"<>|") == std::string::npos &&
           std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

void runTaskkill(const std::wstring& taskkill, const std::string& switches) {
    // Hidden and without a console window of its own; not waited for.
    startProcess(toUtf8(taskkill), "taskkill.exe " + switches, ShowState::Hidden, CREATE_NO_WINDOW, {});
}

// A process held by its handle, which stays valid (and keeps its pid from
// being reused) until closed, and is signalled once the process has ended.
class HandleWatch final : public ProcessEndWatch {
public:
    HandleWatch(std::uint32_t pid, HANDLE process) : m_pid(pid), m_process(process) {}
    ~HandleWatch() override { ::CloseHandle(m_process); }
    HandleWatch(const HandleWatch&) = delete;
    HandleWatch& operator=(const HandleWatch&) = delete;
    std::uint32_t pid() const override { return m_pid; }
    std::intptr_t waitable() const override { return reinterpret_cast<std::intptr_t>(m_process); }
    bool ended() override { return ::WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0; }
    std::optional<std::uint32_t> exitCode() override {
        DWORD code = 0;
        if (!ended() || !::GetExitCodeProcess(m_process, &code)) return std::nullopt;
        return static_cast<std::uint32_t>(code);
    }

private:
    std::uint32_t m_pid;
    HANDLE m_process;
};

// The file name of the program a process handle runs, from the handle itself.
std::optional<std::wstring> imageFileName(HANDLE process) {
    std::vector<wchar_t> path(32768);
    DWORD size = static_cast<DWORD>(path.size());
    if (!::QueryFullProcessImageNameW(process, 0, path.data(), &size)) return std::nullopt;
    const std::wstring_view full(path.data(), size);
    const auto separator = full.find_last_of(L"\\/");
    return std::wstring(separator == std::wstring_view::npos ? full : full.substr(separator + 1));
}

}  // namespace

// The system's own words for an error code, in the user's language, without
// the line end FormatMessage puts after them.
std::string systemMessage(std::uint32_t error) {
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length && text ? toUtf8(std::wstring_view(text, length)) : std::string();
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "erreur " + std::to_string(error) : message;
}

StartResult startProcess(const std::string& applicationPath, const std::string& commandLine, ShowState show,
                         std::uint32_t creationFlags, const std::string& workingFolder) {
    if (applicationPath.empty()) return StartResult::refused("chemin du programme vide");
    const auto application = toWide(applicationPath);
    if (!application) return StartResult::refused("chemin du programme illisible (caractère nul ou texte non UTF-8)");
    const auto folder = toWide(workingFolder);
    if (!folder) return StartResult::refused("dossier de travail illisible (caractère nul ou texte non UTF-8)");
    const auto command = toWide(commandLine);
    if (!command) return StartResult::refused("arguments illisibles (caractère nul ou texte non UTF-8)");
    // Windows refuses a longer one; wine, where the tests run, takes it.
    // Refuse it here, so that the answer is the same everywhere.
    if (command->size() + 1 > kCommandLineLimit) return StartResult::refused(systemMessage(ERROR_FILENAME_EXCED_RANGE));

    // CreateProcessW may write into the command line: hand it a copy it owns.
    std::vector<wchar_t> buffer(command->begin(), command->end());
    buffer.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = showCommand(show);
    PROCESS_INFORMATION started{};
    // A folder that does not exist fails the whole start (ERROR_DIRECTORY):
    // the tool never runs in Tolvane's folder instead.
    if (!::CreateProcessW(application->c_str(), buffer.data(), nullptr, nullptr, FALSE, creationFlags, nullptr,
                          folder->empty() ? nullptr : folder->c_str(), &startup, &started))
        return StartResult::refused(systemMessage(::GetLastError()));
    // Tolvane never waits for nor owns what it starts.
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return StartResult::success();
}

StartResult startProgram(const std::string& applicationPath, const std::string& arguments, ShowState show,
                         const std::string& workingFolder) {
    return startProcess(applicationPath, buildCommandLine(applicationPath, arguments), show, 0, workingFolder);
}

void killProcessesNamed(const std::string& baseName) {
    if (!isPlainFileName(baseName)) return;
    const std::string imageName = baseName + executableSuffix();
    const auto wideImage = toWide(imageName);
    const std::wstring taskkill = systemProgram(L"taskkill.exe");
    if (!wideImage || taskkill.empty()) return;

    if (!sameFileName(*wideImage, ownImageName())) {
        runTaskkill(taskkill, "/f /im " + quoteWindowsArgument(imageName));
        return;
    }

    // A tool named like ourselves: "/im" would end us too. Name the others by
    // process id instead. (taskkill's "/fi PID ne" filter would do it too,
    // but not every taskkill knows filters: wine's, where the tests run,
    // does not.)
    const DWORD self = ::GetCurrentProcessId();
    std::string switches;
    std::size_t count = 0;
    for (const ProcessInfo& p : listProcesses()) {
        if (p.pid == self) continue;
        const auto name = toWide(p.imageName);
        if (!name || !sameFileName(*name, *wideImage)) continue;
        switches += " /pid " + std::to_string(p.pid);
        // Keep each command line far below the system's limit.
        if (++count == 500) {
            runTaskkill(taskkill, "/f" + switches);
            switches.clear();
            count = 0;
        }
    }
    if (count > 0) runTaskkill(taskkill, "/f" + switches);
}

std::optional<std::vector<ProcessEndWatches>> watchProcessesNamed(const std::vector<std::string>& baseNames) {
    std::vector<ProcessEndWatches> watches(baseNames.size());
    std::vector<std::wstring> fileNames;
    for (const auto& base : baseNames) {
        const auto wide = isPlainFileName(base) ? toWide(base + executableSuffix()) : std::nullopt;
        fileNames.push_back(wide.value_or(std::wstring()));
    }
    const auto wanted = [&](std::wstring_view name) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < fileNames.size(); ++i)
            if (!fileNames[i].empty() && sameFileName(name, fileNames[i])) return i;
        return std::nullopt;
    };
    const DWORD self = ::GetCurrentProcessId();
    DWORD ownSession = 0;
    if (!::ProcessIdToSessionId(self, &ownSession)) return std::nullopt;

    Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return std::nullopt;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!::Process32FirstW(snapshot.get(), &entry)) return std::nullopt;
    do {
        const std::size_t length = ::wcsnlen(entry.szExeFile, MAX_PATH);
        const DWORD pid = entry.th32ProcessID;
        entry.dwSize = sizeof entry;
        if (pid == self || !wanted(std::wstring_view(entry.szExeFile, length))) continue;
        // Only this session's: another user's copy of a player is not ours
        // to bring back.
        DWORD session = 0;
        if (!::ProcessIdToSessionId(pid, &session) || session != ownSession) continue;
        HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (!process) continue;  // gone already, or not ours to wait on
        auto watch = std::make_unique<HandleWatch>(pid, process);
        // The handle holds the process; its name is asked again through it,
        // so a pid reused since the snapshot is never watched in its place.
        const auto name = imageFileName(process);
        if (!name) continue;
        if (const auto index = wanted(*name)) watches[*index].push_back(std::move(watch));
    } while (::Process32NextW(snapshot.get(), &entry));
    return watches;
}

std::vector<ProcessInfo> listProcesses() {
    std::vector<ProcessInfo> processes;
    Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        // A file name is at most 255 characters, so the entry's 260 always
        // hold it whole.
        const std::size_t length = ::wcsnlen(entry.szExeFile, MAX_PATH);
        processes.push_back({entry.th32ProcessID, toUtf8(std::wstring_view(entry.szExeFile, length))});
        entry.dwSize = sizeof entry;
    }
    return processes;
}

std::optional<std::uint64_t> workingSetBytes(std::uint32_t pid) {
    Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process.valid()) return std::nullopt;
    // A process that has ended can still be opened while anyone holds a
    // handle to it, and then reads as an empty working set: it is gone.
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(process.get(), &exitCode) || exitCode != STILL_ACTIVE) return std::nullopt;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(process.get(), &counters, sizeof counters)) return std::nullopt;
    return static_cast<std::uint64_t>(counters.WorkingSetSize);
}

}  // namespace tolvane::platform::win32backend
