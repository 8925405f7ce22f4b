#pragma once
// The stand-in's start log, "standin.log" in the stand-in's own folder: one
// line per start, which the tests and the demo read back to see exactly what
// a tool was given.
//
// A line is tab-separated fields ending with '\n':
//   local time "YYYY-MM-DD HH:MM:SS.mmm", pid, executable name, show state
//   asked for (TOLVANE_SHOW_STATE, empty when unset), the descriptors open at
//   start ("0,1,2"), the working folder it was started in, argv[0], then each
//   argument exactly as received.
// In every field "\\", tab, newline, carriage return, the other control bytes,
// DEL and bytes that are not part of valid UTF-8 are escaped ("\\\\", "\\t",
// "\\n", "\\r", "\\xHH"); valid UTF-8 such as accents stays readable. The
// escaping is reversible, so a reader gets every byte back.
//
// Pure code (no OS header): shared by the stand-in, which writes, and the
// tests, which read.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::standin {

struct StandinLogLine {
    std::string time;
    long pid = 0;
    std::string executableName;
    std::string showState;
    std::string openDescriptors;
    std::string workingFolder;
    std::string argv0;
    std::vector<std::string> arguments;

    bool operator==(const StandinLogLine&) const = default;
};

std::string escapeLogField(std::string_view raw);

// Nothing when the text is not a valid escaped field (a lone backslash, an
// unknown escape, a raw tab or newline).
std::optional<std::string> unescapeLogField(std::string_view escaped);

// The line with its final '\n'.
std::string formatLogLine(const StandinLogLine& line);

// One line, with or without its '\n'; nothing when it is not a log line.
std::optional<StandinLogLine> parseLogLine(std::string_view text);

// Every complete, well-formed line of a log file's text, in order.
std::vector<StandinLogLine> parseLog(std::string_view text);

// The same for a file; an unreadable or missing file gives no line.
std::vector<StandinLogLine> readLogFile(const std::string& path);

}  // namespace tolvane::standin
