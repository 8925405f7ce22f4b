#include "supervisor/core/ToolTable.h"

namespace tolvane {

namespace {

using P = ToolPage;

// Index order is the tools' identity; captions, pages and rows are where the
// window shows them. Row 4 of "Général" is deliberately left empty.
constexpr std::array<ToolEntry, ToolCount> kTools{{
    {"VX8_Library", "Library", P::General, 0},
    {"VX8_Production", "Production", P::General, 1},
    {"VX8_Tools_Scheduler", "Scheduler", P::General, 2},
    {"VX8_Tools_Planner", "Planner", P::General, 3},
    {"VX8_Broadcasters", "Broadcaster", P::General, 5},
    {"VX8_Player", "Player", P::Player, 0},
    {"VX8_Tools_Data", "Tools Data", P::Tools, 0},
    {"VX8_Tools_Live", "Tools Live", P::Tools, 1},
    {"VX8_Tools_FTP", "Tools FTP", P::Tools, 2},
    {"VX8_Tools_Pool", "Tools Pool", P::Tools, 3},
    {"VX8_Cartwall", "Cartwall", P::General, 6},
    {"VX8_Board", "Board", P::General, 7},
    {"VX8_Player_A", "Player A", P::Player, 1},
    {"VX8_Player_B", "Player B", P::Player, 2},
    {"VX8_Player_C", "Player C", P::Player, 3},
    {"VX8_Player_D", "Player D", P::Player, 4},
    {"VX8_Player_E", "Player E", P::Player, 5},
    {"VX8_Player_F", "Player F", P::Player, 6},
    {"VX8_Player_G", "Player G", P::Player, 7},
    {"VX8_Player_H", "Player H", P::Player, 8},
    {"VX8_Broadcaster_Backup", "Broadcaster backup", P::General, 8},
    {"VX8_Tools_Tagging", "Tools Tagging", P::Tools, 4},
    {"VX8_Tools_Relay", "Tools Relay", P::Tools, 5},
    {"VX8_Tools_Podcast", "Tools Podcast", P::Tools, 6},
    {"VX8_Tools_Convert", "Tools Convert", P::Tools, 7},
    {"VX8_Tools_Recorder", "Tools Recorder", P::Tools, 8},
    {"VX8_Tools_Processor", "Tools Processor", P::Tools, 9},
    {"VX8_Tools_Voice_Server", "Tools Voice Server", P::Tools, 10},
    {"VX8_Tools_Synchro", "Tools Synchro", P::Tools, 11},
    {"VX8_Tools_Speech", "Tools Speech", P::Tools, 12},
}};

struct Period {
    std::string_view text;
    int seconds;
};

constexpr std::array<Period, PeriodCount> kPeriods{{
    {"01 Min", 60},
    {"05 Min", 300},
    {"10 Min", 600},
    {"20 Min", 1200},
    {"30 Min", 1800},
    {"40 Min", 2400},
    {"60 Min", 3600},
}};

constexpr bool isPeriodIndex(int listIndex) { return listIndex >= 0 && listIndex < PeriodCount; }

}  // namespace

const std::array<ToolEntry, ToolCount>& toolTable() { return kTools; }

std::optional<std::string_view> toolBaseName(int index) {
    if (!isToolIndex(index)) return std::nullopt;
    return kTools[static_cast<std::size_t>(index)].baseName;
}

std::string_view defaultArguments(int index) {
    // Tool 4, the broadcaster, has always been started without arguments.
    return index == 4 ? std::string_view() : std::string_view("/NoBase=0");
}

std::string_view periodItemText(int listIndex) {
    if (!isPeriodIndex(listIndex)) return {};
    return kPeriods[static_cast<std::size_t>(listIndex)].text;
}

std::optional<int> periodSeconds(int listIndex) {
    if (!isPeriodIndex(listIndex)) return std::nullopt;
    return kPeriods[static_cast<std::size_t>(listIndex)].seconds;
}

FreezeRestartSetting freezeRestartSetting(std::string_view stored) {
    if (stored.empty() || stored == "0") return {};
    for (const int minutes : FreezeRestartChoices)
        if (minutes > 0 && stored == std::to_string(minutes)) return {minutes, true};
    return {0, false};
}

std::string freezeRestartText(int minutes) {
    return minutes > 0 ? std::to_string(minutes) + " min" : std::string("jamais");
}

}  // namespace tolvane
