#pragma once
// The thirty tools Tolvane supervises. The index is a tool's identity
// everywhere: in the settings keys, in the window's control arrays and in the
// launch and verification state.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

inline constexpr int ToolCount = 30;

enum class ToolPage { General = 0, Player = 1, Tools = 2 };

struct ToolEntry {
    std::string_view baseName;  // executable base name, without suffix
    std::string_view caption;   // label of the tool's row
    ToolPage page;
    int row;  // row on its page, 0 at the top
};

// The fixed table, index 0 to 29.
const std::array<ToolEntry, ToolCount>& toolTable();

// True for 0..29. Every caller that takes an index from outside checks it:
// an index outside the table is an error, never a silent no-op.
constexpr bool isToolIndex(int index) { return index >= 0 && index < ToolCount; }

// The tool's executable base name, or nothing for an index outside 0..29.
std::optional<std::string_view> toolBaseName(int index);

// Default of the "Arguments" setting: empty for tool 4, "/NoBase=0" for the others.
std::string_view defaultArguments(int index);

// The verification period table: list index 0..6 -> "01 Min".."60 Min".
inline constexpr int PeriodCount = 7;
std::string_view periodItemText(int listIndex);
// 60, 300, 600, 1200, 1800, 2400 or 3600 seconds; nothing for any other index.
std::optional<int> periodSeconds(int listIndex);

// The restart chosen for a frozen tool: after so many minutes without an
// answer, or never (0). Stored as "1", "2", "5" or "10".
inline constexpr int FreezeRestartChoices[] = {0, 1, 2, 5, 10};

// What the stored text means, and whether it is one the operator could have
// chosen: missing, empty and "0" mean never; anything else that is not one
// of the choices means never too, and `understood` is false (the journal says
// so once).
struct FreezeRestartSetting {
    int minutes = 0;
    bool understood = true;
    bool operator==(const FreezeRestartSetting&) const = default;
};
FreezeRestartSetting freezeRestartSetting(std::string_view stored);

// "jamais", "1 min", "5 min": a choice as the menu and the journal show it.
std::string freezeRestartText(int minutes);

}  // namespace tolvane
