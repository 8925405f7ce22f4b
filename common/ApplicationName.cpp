#include "common/ApplicationName.h"

#include <algorithm>
#include <cctype>

namespace tolvane {

std::string applicationName(std::string_view executablePath, std::string_view suffix) {
    const auto slash = executablePath.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
    if (!suffix.empty() && name.size() > suffix.size()) {
        const std::string_view tail = name.substr(name.size() - suffix.size());
        const bool same = std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        });
        if (same) name.remove_suffix(suffix.size());
    }
    return name.empty() ? std::string("Tolvane") : std::string(name);
}

}  // namespace tolvane
