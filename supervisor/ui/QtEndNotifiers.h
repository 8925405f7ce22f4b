#pragma once
// The event loop's side of watching a tool's end: what the platform's watch
// waits on, handed to the toolkit's notifier for it (a socket notifier on the
// process descriptor on Linux, an event notifier on the process handle on
// Windows), so the end arrives as an event on the GUI thread and no tick ever
// looks for it. One source file per system, picked by CMake.

#include <memory>

#include "supervisor/supervision/ToolHealth.h"

namespace tolvane {

std::unique_ptr<EndNotifiers> qtEndNotifiers();

}  // namespace tolvane
