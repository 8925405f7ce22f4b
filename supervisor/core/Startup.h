#pragma once
// Decisions taken while Tolvane starts: when it next restarts itself, what
// its caption says, and what its command line asks for.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

// Today at 04:07:00 when started before 04:00, otherwise tomorrow at 04:07:00
// (a Tolvane restarted at 04:07 next restarts the following day).
std::chrono::local_seconds initialRestartInstant(std::chrono::local_seconds now);

// "Vantorix: Tools Launcher - " + the version text.
std::string windowCaption(std::string_view versionText);

// Whether the command line holds "/Veille=True" anywhere, in any case.
bool hasStandbySwitch(std::string_view commandLine);

// Whether a start that finds another Tolvane running asks it to show its
// window: an operator's double click does; the autostart's "/Veille=True" and
// Krandel's "/Base=Current" do not (any case, anywhere).
bool secondStartAsksToShow(std::string_view commandLine);

// The one line a start that found another Tolvane running writes to
// standard error before it ends.
std::string secondStartMessage(std::string_view application, bool askedToShow);

// "HH:MM:SS", 24-hour, of a local time.
std::string formatHms(std::chrono::local_seconds t);

// Case-insensitive (ASCII) search of `needle` in `haystack`.
bool containsNoCase(std::string_view haystack, std::string_view needle);

// `text` without leading and trailing spaces (only spaces: tabs stay).
std::string trimSpaces(std::string_view text);

}  // namespace tolvane

namespace tolvane {
// The settings' application name: the executable's file name without its
// folder and without the system's executable suffix ("Tolvane" for
// "C:\Vantorix\Tolvane.exe" and for "/opt/vantorix/Tolvane").
std::string applicationName(std::string_view executablePath, std::string_view suffix);
}  // namespace tolvane

namespace tolvane {
// "--help" or "--version" as the whole command line ask Tolvane to print and
// exit without opening its window; every other command line is Tolvane's
// own (unknown text ignored).
enum class InfoRequest { None, Help, Version };
InfoRequest infoRequest(const std::vector<std::string>& arguments);

// What "--help" prints.
std::string usageText(std::string_view versionText);
}  // namespace tolvane
