#pragma once
// Krandel's decisions: what it starts, whether "/Test" was asked for, and how
// long is left of its wait.

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

struct RestartCommand {
    std::string applicationPath;  // Tolvane beside Krandel
    std::string arguments;        // "/Base=Current"
    std::string displayText;      // the command line as "/Test" shows it, unquoted
};

// Krandel's folder (no trailing separator) + separator + "Tolvane" + suffix,
// with "/Base=Current".
RestartCommand restartCommand(std::string_view folder, char separator, std::string_view suffix);

// The folder of an executable path, without its trailing separator.
std::string folderOf(std::string_view executablePath, char separator);

// "/Test" anywhere in the command line, in any case.
bool hasTestSwitch(std::string_view commandLine);

// Milliseconds left until the deadline, 0 once it is reached.
std::int64_t remainingWaitMs(std::int64_t now, std::int64_t deadline);

// The wait before Tolvane is started again: the old one must have gone.
inline constexpr std::int64_t RestartDelayMs = 10000;

// The message shown when Tolvane cannot be started, in French, naming the
// path and the reason.
std::string startFailureMessage(std::string_view applicationPath, bool fileExists);

}  // namespace tolvane
