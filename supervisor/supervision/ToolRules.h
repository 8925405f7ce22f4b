#pragma once
// Pure rules of tool supervision: what a tool is started with, when the
// launch sequence hands a tool over, when a tool is due for verification and
// which process belongs to which tool.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "supervisor/core/ToolTable.h"

namespace tolvane {

// The text that follows the executable path on a tool's command line:
// standby adds "/Veille=True" unless the arguments already hold it (any
// case); empty arguments add nothing else. Arguments are used as passed.
std::string toolArguments(bool standby, std::string_view arguments);

// The tool's executable: basePath + baseName + suffix; nothing for an index
// outside 0..29.
std::optional<std::string> toolExecutablePath(std::string_view basePath, int index, std::string_view suffix);

// One tool as one pass of the launch sequence sees it.
struct LaunchRow {
    bool ticked = false;    // its "Lancer" box holds 1
    std::string delayText;  // its delay box
    bool launched = false;  // already handed over
};

struct LaunchPass {
    std::vector<int> handOver;  // tools to hand to CheckProcess now, in index order
    bool allDone = true;        // no ticked tool is still waiting for its delay
};

// One pass over the thirty rows, elapsed milliseconds since loading began.
LaunchPass launchPass(const std::array<LaunchRow, ToolCount>& rows, std::int64_t elapsedMs);

// What verifying a tool does with the answer to "is its window there":
// found, nothing is started; absent, the tool is started; either way its
// next verification moves a period ahead. Unknown starts nothing and moves
// nothing, so the tool stays due and is asked again at a later tick (and a
// launch-sequence hand-over waits for a later pass).
struct CheckAction {
    bool start = false;
    bool reschedule = false;
};
CheckAction checkAction(platform::WindowPresence presence);

// Is a tool whose "Vérifier" box holds checkValue due at now?
bool verificationDue(int checkValue, std::chrono::local_seconds now, std::chrono::local_seconds nextCheck);

// A wall clock set back must not hold a verification back by more than one
// period: a due time further than one period ahead is pulled back to now +
// period. Nothing changes when there is no period or the time is within it.
std::chrono::local_seconds boundedNextCheck(std::chrono::local_seconds nextCheck, std::chrono::local_seconds now,
                                            std::optional<int> periodSeconds);

// Which tool a process belongs to: the first tool whose base name + suffix
// equals the executable file name, ASCII case-insensitively. Exact names give
// Player A to H figures of their own instead of all landing on Player.
std::optional<int> toolForImageName(std::string_view imageName, std::string_view suffix);

// Bytes to whole megabytes, halves to the even neighbour (1.5 MiB and
// 2.5 MiB both give 2).
int megabytesHalfEven(std::uint64_t bytes);

}  // namespace tolvane
