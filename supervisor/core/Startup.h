#pragma once
// Decisions taken while Tolvane starts: when it next restarts itself, what
// its caption says, and whether it starts in standby.

#include <chrono>
#include <string>
#include <string_view>

namespace tolvane {

// Today at 04:07:00 when started before 04:00, otherwise tomorrow at 04:07:00
// (a Tolvane restarted at 04:07 next restarts the following day).
std::chrono::local_seconds initialRestartInstant(std::chrono::local_seconds now);

// "Vantorix: Tools Launcher - " + the version text.
std::string windowCaption(std::string_view versionText);

// Whether the command line holds "/Veille=True" anywhere, in any case. The
// window reads it when it loads; the program's start reads it too.
bool hasStandbySwitch(std::string_view commandLine);

// "HH:MM:SS", 24-hour, of a local time.
std::string formatHms(std::chrono::local_seconds t);

}  // namespace tolvane
