#include "restart/RestartRules.h"

#include <algorithm>
#include <cctype>

namespace tolvane {

RestartCommand restartCommand(std::string_view folder, char separator, std::string_view suffix) {
    RestartCommand c;
    c.applicationPath.append(folder).push_back(separator);
    c.applicationPath.append("Tolvane").append(suffix);
    c.arguments = "/Base=Current";
    c.displayText = c.applicationPath + " " + c.arguments;
    return c;
}

std::string folderOf(std::string_view executablePath, char separator) {
    const auto at = executablePath.find_last_of(separator);
    return at == std::string_view::npos ? std::string() : std::string(executablePath.substr(0, at));
}

bool hasTestSwitch(std::string_view commandLine) {
    constexpr std::string_view needle = "/test";
    if (commandLine.size() < needle.size()) return false;
    for (std::size_t i = 0; i + needle.size() <= commandLine.size(); ++i) {
        bool same = true;
        for (std::size_t k = 0; k < needle.size() && same; ++k)
            same = std::tolower(static_cast<unsigned char>(commandLine[i + k])) == needle[k];
        if (same) return true;
    }
    return false;
}

std::int64_t remainingWaitMs(std::int64_t now, std::int64_t deadline) {
    return std::max<std::int64_t>(0, deadline - now);
}

std::string startFailureMessage(std::string_view applicationPath, bool fileExists) {
    std::string m = "Impossible de lancer ";
    m.append(applicationPath).append(" : ");
    m.append(fileExists ? "le système a refusé de démarrer ce programme (droits d'exécution ou fichier "
                          "endommagé)."
                        : "le fichier est introuvable.");
    m.append("\nTools Launcher reste arrêté jusqu'à ce qu'il soit relancé.");
    return m;
}

}  // namespace tolvane
