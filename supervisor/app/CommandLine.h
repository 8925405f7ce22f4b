#pragma once
// Tolvane's own command line: the requests answered without a window, and
// what a second start does and says.

#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

// Whether a start that finds another Tolvane running asks it to show its
// window: an operator's double click does; the autostart's "/Veille=True" and
// Krandel's "/Base=Current" do not (any case, anywhere).
bool secondStartAsksToShow(std::string_view commandLine);

// The one line a start that found another Tolvane running writes to
// standard error before it ends.
std::string secondStartMessage(std::string_view application, bool askedToShow);

// "--help" or "--version" as the whole command line ask Tolvane to print and
// exit without opening its window; every other command line is Tolvane's
// own (unknown text ignored).
enum class InfoRequest { None, Help, Version };
InfoRequest infoRequest(const std::vector<std::string>& arguments);

// What "--help" prints.
std::string usageText(std::string_view versionText);

}  // namespace tolvane
