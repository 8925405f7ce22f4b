#include "platform/fake/FakePlatform.h"

#include <algorithm>
#include <cctype>

namespace tolvane::platform {

namespace {
bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}
std::string baseNameOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

bool FakePlatform::startProgram(const std::string& applicationPath, const std::string& arguments,
                                ShowState show) {
    starts.push_back({applicationPath, arguments, show});
    if (refuseStarts) return false;
    if (startedProgramsOpenWindows) windows.insert(baseNameOf(applicationPath));
    return true;
}

void FakePlatform::killProcessesNamed(const std::string& baseName) {
    kills.push_back(baseName);
    for (auto it = windows.begin(); it != windows.end();) {
        it = equalsNoCase(*it, baseName) ? windows.erase(it) : std::next(it);
    }
    std::erase_if(processes, [&](const ProcessInfo& p) { return equalsNoCase(p.imageName, baseName); });
}

std::optional<std::uint64_t> FakePlatform::workingSetBytes(std::uint32_t id) {
    const auto it = workingSets.find(id);
    if (it == workingSets.end()) return std::nullopt;
    return it->second;
}

bool FakePlatform::topLevelWindowExists(const std::string& title) {
    ++windowQueries;
    return std::any_of(windows.begin(), windows.end(),
                       [&](const std::string& w) { return equalsNoCase(w, title); });
}

std::vector<bool> FakePlatform::topLevelWindowsExist(const std::vector<std::string>& titles) {
    ++windowQueries;
    std::vector<bool> result;
    for (const auto& t : titles)
        result.push_back(std::any_of(windows.begin(), windows.end(),
                                     [&](const std::string& w) { return equalsNoCase(w, t); }));
    return result;
}

}  // namespace tolvane::platform
