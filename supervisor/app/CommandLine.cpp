#include "supervisor/app/CommandLine.h"

#include "supervisor/core/Startup.h"
#include "supervisor/core/TextHelpers.h"

namespace tolvane {

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
