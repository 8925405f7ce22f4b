#pragma once
// The name both programs keep their settings and journal under.

#include <string>
#include <string_view>

namespace tolvane {

// The settings' application name: the executable's file name without its
// folder and without the system's executable suffix ("Tolvane" for
// "C:\Vantorix\Tolvane.exe" and for "/opt/vantorix/Tolvane").
std::string applicationName(std::string_view executablePath, std::string_view suffix);

}  // namespace tolvane
