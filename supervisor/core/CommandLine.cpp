#include <algorithm>
#include <cctype>

#include "supervisor/core/Startup.h"

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

namespace tolvane {

InfoRequest infoRequest(const std::vector<std::string>& arguments) {
    if (arguments.size() != 1) return InfoRequest::None;
    if (arguments[0] == "--help") return InfoRequest::Help;
    if (arguments[0] == "--version") return InfoRequest::Version;
    return InfoRequest::None;
}

std::string usageText(std::string_view versionText) {
    std::string t = "Tolvane ";
    t.append(versionText);
    t.append(
        " - Vantorix: Tools Launcher\n"
        "Keeps the suite's programs running: starts those marked \"Lancer\", verifies those marked\n"
        "\"Vérifier\" and starts again any that has gone, starts the Scheduler and Planner batches,\n"
        "and restarts itself every day after 04:07 through Krandel.\n"
        "\n"
        "Usage: Tolvane [/Veille=True] [/Base=Current]\n"
        "  /Veille=True    start in standby, behind the notification-area icon (any case, anywhere)\n"
        "  /Base=Current   passed by Krandel at the daily restart; changes nothing\n"
        "  --help          print this text and exit\n"
        "  --version       print the version stamp and exit\n"
        "Without /Veille=True the window starts minimised. The tools are looked for in Tolvane's own\n"
        "folder; a tool runs while a top-level window titled with its executable base name exists.\n");
    return t;
}

}  // namespace tolvane
