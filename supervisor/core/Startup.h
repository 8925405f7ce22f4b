#pragma once
// Decisions taken while Tolvane starts: when it next restarts itself, what
// its caption says, and what its command line asks for.

#include <chrono>
#include <cstdint>
#include <optional>
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

namespace tolvane {
// Who asked the window to close, from the order of the window system's
// messages. The window's own close command (its close box, its system menu,
// Alt+F4) is followed at once by the close itself: that close is the
// operator's, and asks the quit question. A close with no command before it
// comes from outside (taskkill, the task manager's "End task") and ends
// Tolvane without asking. A command whose close never came is forgotten after
// two seconds, so it cannot lend the operator's name to a later close.
class CloseRequests {
public:
    enum class Origin { Operator, Outside };
    void closeCommand(std::uint64_t tickMs) { m_command = tickMs; }
    Origin close(std::uint64_t tickMs);

private:
    std::optional<std::uint64_t> m_command;
};

// Whether Tolvane was started in the services' session (Windows' session 0,
// by a deployment agent or a service): no tool's window can be seen from
// there, so it would start the whole suite a second time.
bool inServicesSession(std::optional<std::uint32_t> sessionId);
}  // namespace tolvane
