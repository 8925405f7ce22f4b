#include "supervisor/core/Startup.h"

#include <cstdio>

#include "supervisor/core/TextHelpers.h"

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

bool hasStandbySwitch(std::string_view commandLine) { return containsNoCase(commandLine, "/Veille=True"); }

std::string formatHms(local_seconds t) {
    const hh_mm_ss<seconds> tod{t - floor<days>(t)};
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(tod.hours().count()),
                  static_cast<int>(tod.minutes().count()), static_cast<int>(tod.seconds().count()));
    return text;
}

}  // namespace tolvane
