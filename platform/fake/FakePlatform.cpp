#include "platform/fake/FakePlatform.h"

#include <algorithm>
#include <cctype>

namespace tolvane::platform {

namespace {
bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}
// The file name without the system's executable suffix: the title a started
// tool gives its window.
std::string baseNameOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string suffix = executableSuffix();
    if (!suffix.empty() && name.size() > suffix.size() &&
        equalsNoCase(name.substr(name.size() - suffix.size()), suffix))
        name.resize(name.size() - suffix.size());
    return name;
}
class FakeWatch final : public ProcessEndWatch {
public:
    FakeWatch(std::uint32_t pid, std::shared_ptr<FakePlatform::WatchState> state)
        : m_pid(pid),
          m_state(std::move(state)) {
        ++m_state->open;
    }
    ~FakeWatch() override { --m_state->open; }
    std::uint32_t pid() const override { return m_pid; }
    std::intptr_t waitable() const override { return static_cast<std::intptr_t>(m_pid); }
    bool ended() override { return m_state->ended.count(m_pid) != 0; }
    std::optional<std::uint32_t> exitCode() override {
        const auto it = m_state->ended.find(m_pid);
        return it == m_state->ended.end() ? std::nullopt : it->second;
    }

private:
    std::uint32_t m_pid;
    std::shared_ptr<FakePlatform::WatchState> m_state;
};
}  // namespace

std::optional<std::vector<ProcessEndWatches>> FakePlatform::watchProcessesNamed(
    const std::vector<std::string>& baseNames) {
    ++watchRequests;
    if (processListUnreadable) return std::nullopt;
    std::vector<ProcessEndWatches> watches(baseNames.size());
    for (std::size_t i = 0; i < baseNames.size(); ++i) {
        const std::string imageName = baseNames[i] + executableSuffix();
        for (const auto& p : processes) {
            if (p.pid == pid || !equalsNoCase(p.imageName, imageName) || unwatchable.count(p.pid)) continue;
            // A pid that was seen to end and came back is a new process.
            m_watchState->ended.erase(p.pid);
            watches[i].push_back(std::make_unique<FakeWatch>(p.pid, m_watchState));
        }
    }
    return watches;
}

void FakePlatform::endProcess(std::uint32_t id, std::optional<std::uint32_t> exitCode) {
    std::erase_if(processes, [&](const ProcessInfo& p) { return p.pid == id; });
    m_watchState->ended[id] = exitCode;
}

StartResult FakePlatform::startProgram(const std::string& applicationPath, const std::string& arguments, ShowState show,
                                       const std::string& workingFolder) {
    starts.push_back({applicationPath, arguments, show, workingFolder});
    if (refuseStarts) return StartResult::refused(refusal);
    if (startedProgramsOpenWindows) windows.insert(baseNameOf(applicationPath));
    return StartResult::success();
}

void FakePlatform::killProcessesNamed(const std::string& baseName) {
    kills.push_back(baseName);
    for (auto it = windows.begin(); it != windows.end();) {
        it = equalsNoCase(*it, baseName) ? windows.erase(it) : std::next(it);
    }
    // Image names carry the system's suffix ("VX8_Player.exe" on Windows).
    const std::string imageName = baseName + executableSuffix();
    std::erase_if(processes, [&](const ProcessInfo& p) {
        if (!equalsNoCase(p.imageName, imageName)) return false;
        m_watchState->ended[p.pid] = std::nullopt;
        return true;
    });
}

std::optional<std::uint64_t> FakePlatform::workingSetBytes(std::uint32_t id) {
    const auto it = workingSets.find(id);
    if (it == workingSets.end()) return std::nullopt;
    return it->second;
}

std::vector<WindowResponse> FakePlatform::windowsResponse(const std::vector<std::string>& titles) {
    ++responseQueries;
    std::vector<WindowResponse> result;
    for (const auto& t : titles) {
        const auto it = std::find_if(responses.begin(), responses.end(),
                                     [&](const auto& r) { return equalsNoCase(r.first, t); });
        result.push_back(it == responses.end() ? WindowResponse::Unknown : it->second);
    }
    return result;
}

std::vector<WindowPresence> FakePlatform::topLevelWindowsPresence(const std::vector<std::string>& titles) {
    ++windowQueries;
    const auto among = [](const std::set<std::string>& set, const std::string& title) {
        return std::any_of(set.begin(), set.end(), [&](const std::string& w) { return equalsNoCase(w, title); });
    };
    std::vector<WindowPresence> result;
    for (const auto& t : titles) {
        if (!displayAnswers || among(unknownWindows, t))
            result.push_back(WindowPresence::Unknown);
        else
            result.push_back(among(windows, t) ? WindowPresence::Found : WindowPresence::Absent);
    }
    return result;
}

}  // namespace tolvane::platform
