// The one-Tolvane lock on Windows: a named kernel mutex in the machine-wide
// namespace. It needs no folder (a %TEMP% on a drive that is gone cannot
// switch it off), the system frees it with its holder, and being machine-wide
// it keeps a second Tolvane from supervising the station from another
// session (an administrator's remote desktop logon runs the machine-wide
// autostart too). Also here: how Windows folds file names, and which
// session runs a process, from the terminal services' process list.
#include <windows.h>
// After windows.h, which they need.
#include <sddl.h>
#include <wtsapi32.h>

#include <map>

#include "platform/platform.h"
#include "platform/win32/Win32Backend.h"

namespace tolvane::platform {

using win32backend::systemMessage;
using win32backend::toUtf8;
using win32backend::toWide;

namespace {

// What a Tolvane of another user may do with the mutex: wait on it (take it
// when it is free) and release it; nothing else. SYSTEM and administrators
// keep full access.
constexpr wchar_t kMutexSecurity[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;AU)";
constexpr DWORD kMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

class MutexLock final : public InstanceLock {
public:
    explicit MutexLock(const std::string& name) : m_name(toWide("Global\\" + name).value_or(std::wstring())) {}
    ~MutexLock() override { letGo(); }

    InstanceLockAttempt tryTake() override {
        if (m_owned) return InstanceLockAttempt::Taken;
        m_failure.clear();
        if (m_name.empty()) return failed("nom du verrou illisible");
        if (!m_mutex) {
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            ::ConvertStringSecurityDescriptorToSecurityDescriptorW(kMutexSecurity, SDDL_REVISION_1, &descriptor,
                                                                   nullptr);
            SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
            m_mutex = ::CreateMutexExW(descriptor ? &attributes : nullptr, m_name.c_str(), 0, kMutexAccess);
            const DWORD error = ::GetLastError();
            if (descriptor) ::LocalFree(descriptor);
            if (!m_mutex && error == ERROR_ACCESS_DENIED) {
                // Made by another user, with a security that shuts us out:
                // it is there, and it is not ours to have.
                m_failure = systemMessage(error);
                return InstanceLockAttempt::Foreign;
            }
            // ERROR_INVALID_HANDLE: the name is taken by an object of
            // another kind, which is no Tolvane's.
            if (!m_mutex) return failed(systemMessage(error));
        }
        switch (::WaitForSingleObject(m_mutex, 0)) {
            case WAIT_OBJECT_0:
            case WAIT_ABANDONED:  // its holder ended without letting go: ours all the
                                  // same
                m_owned = true;
                return InstanceLockAttempt::Taken;
            case WAIT_TIMEOUT: return InstanceLockAttempt::Held;
            default: {
                const DWORD error = ::GetLastError();
                closeHandle();
                return failed(systemMessage(error));
            }
        }
    }

    void letGo() override {
        // The mutex is the thread's that took it: the window's thread, which
        // is also the one that lets go.
        if (m_owned) ::ReleaseMutex(m_mutex);
        m_owned = false;
        closeHandle();
    }

    std::string failure() const override { return m_failure; }
    bool isSocket() const override { return false; }
    std::intptr_t listeningDescriptor() override { return -1; }
    std::intptr_t holderConnection() override { return -1; }

private:
    void closeHandle() {
        if (m_mutex) ::CloseHandle(m_mutex);
        m_mutex = nullptr;
    }
    InstanceLockAttempt failed(std::string why) {
        m_failure = std::move(why);
        return InstanceLockAttempt::Failed;
    }

    std::wstring m_name;
    HANDLE m_mutex = nullptr;
    bool m_owned = false;
    std::string m_failure;
};

// "DOMAIN\user" of a session, "" when the system does not say.
std::string sessionUser(DWORD session) {
    const auto query = [session](WTS_INFO_CLASS what) {
        wchar_t* text = nullptr;
        DWORD bytes = 0;
        std::string value;
        if (::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, what, &text, &bytes) && text)
            value = toUtf8(text);
        if (text) ::WTSFreeMemory(text);
        return value;
    };
    const std::string user = query(WTSUserName);
    const std::string domain = user.empty() ? std::string() : query(WTSDomainName);
    return domain.empty() ? user : domain + "\\" + user;
}

}  // namespace

std::unique_ptr<InstanceLock> createInstanceLock(const std::string& name) { return std::make_unique<MutexLock>(name); }

bool instanceLockIsMachineWide() { return true; }

std::string foldedFileName(const std::string& name) {
    // The system's own upper-case table, the one file names are compared
    // with, whatever the user's language.
    const auto wide = toWide(name);
    if (!wide || wide->empty()) return name;
    std::wstring folded(wide->size(), L'\0');
    const int length =
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide->data(), static_cast<int>(wide->size()),
                        folded.data(), static_cast<int>(folded.size()), nullptr, nullptr, 0);
    if (length <= 0) return name;
    folded.resize(static_cast<std::size_t>(length));
    return toUtf8(folded);
}

std::optional<std::vector<SessionProcess>> processesInSessions(const std::string& imageName) {
    const auto wanted = toWide(imageName);
    if (!wanted) return std::nullopt;
    WTS_PROCESS_INFOW* processes = nullptr;
    DWORD count = 0;
    if (!::WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &processes, &count)) return std::nullopt;
    const DWORD self = ::GetCurrentProcessId();
    std::vector<SessionProcess> found;
    std::map<DWORD, std::string> users;
    for (DWORD i = 0; i < count; ++i) {
        const WTS_PROCESS_INFOW& process = processes[i];
        if (process.ProcessId == self || !process.pProcessName) continue;
        if (::CompareStringOrdinal(process.pProcessName, -1, wanted->c_str(), -1, TRUE) != CSTR_EQUAL) continue;
        auto user = users.find(process.SessionId);
        if (user == users.end()) user = users.emplace(process.SessionId, sessionUser(process.SessionId)).first;
        found.push_back({process.ProcessId, process.SessionId, user->second});
    }
    ::WTSFreeMemory(processes);
    return found;
}

std::optional<std::uint32_t> ownSession() {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return std::nullopt;
    return session;
}

}  // namespace tolvane::platform
