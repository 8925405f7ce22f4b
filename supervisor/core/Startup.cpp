#include "supervisor/core/Startup.h"

#include <cstdio>
#include <utility>

namespace tolvane {

using namespace std::chrono;

local_seconds initialRestartInstant(local_seconds now) {
    const local_days today = floor<days>(now);
    local_seconds instant = today + hours{4} + minutes{7};
    // From 04:00 on, today's restart is either just past or too close to the
    // start to be worth it: a Tolvane started (or restarted) at 04:00 or later
    // next restarts tomorrow.
    if (now - today >= hours{4}) instant += days{1};
    return instant;
}

std::string windowCaption(std::string_view versionText) {
    return "Vantorix: Tools Launcher - " + std::string(versionText);
}

bool hasStandbySwitch(std::string_view commandLine) {
    return containsNoCase(commandLine, "/Veille=True");
}

bool secondStartAsksToShow(std::string_view commandLine) {
    return !hasStandbySwitch(commandLine) && !containsNoCase(commandLine, "/Base=Current");
}

std::string secondStartMessage(std::string_view application, bool askedToShow) {
    std::string line(application);
    line += ": already running for this user and these settings; ";
    line += askedToShow ? "its window was brought to the front, and this start ends."
                        : "this start ends without supervising.";
    return line;
}

std::string formatHms(local_seconds t) {
    const hh_mm_ss<seconds> tod{t - floor<days>(t)};
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(tod.hours().count()),
                  static_cast<int>(tod.minutes().count()), static_cast<int>(tod.seconds().count()));
    return text;
}

namespace {
char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool containsNoCase(std::string_view haystack, std::string_view needle) {
    if (needle.size() > haystack.size()) return false;
    for (std::size_t start = 0; start + needle.size() <= haystack.size(); ++start) {
        std::size_t i = 0;
        while (i < needle.size() && lowerAscii(haystack[start + i]) == lowerAscii(needle[i])) ++i;
        if (i == needle.size()) return true;
    }
    return false;
}

std::string trimSpaces(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return std::string();
    const std::size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace tolvane

namespace tolvane {

CloseRequests::Origin CloseRequests::close(std::uint64_t tickMs) {
    const auto command = std::exchange(m_command, std::nullopt);
    return command && tickMs >= *command && tickMs - *command <= 2000 ? Origin::Operator : Origin::Outside;
}

bool inServicesSession(std::optional<std::uint32_t> sessionId) { return sessionId && *sessionId == 0; }

}  // namespace tolvane
