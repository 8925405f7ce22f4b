#pragma once
// Every value Tolvane keeps in its store: the section, the keys and what a
// user who never chose one gets. Presets and policies address the same
// sections and keys, so this is also what an administrator may set, and what
// the policy template must name.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

enum class SettingKind {
    Box,    // a check box: "0", "1" or "2" (greyed)
    List,   // a list's index, "-1" for no selection
    Text,   // a text field, as typed
    Folder  // a folder's path (not on the window)
};

struct StoredSetting {
    std::string_view section;
    // The one key, or empty for the keys "Idx_0" .. "Idx_<count - 1>".
    std::string_view key;
    int count = 1;
    SettingKind kind = SettingKind::Box;
};

// The whole table, in the window's order (tools, Scheduler, Planner, then
// what is not on the window).
const std::vector<StoredSetting>& storedSettings();

// The entry that holds this section and key (sections and keys compared as
// the store compares them: exactly), or nothing for a value that is not a
// setting (an installer's own values, a misspelt key).
std::optional<StoredSetting> storedSetting(std::string_view section, std::string_view key);

// The keys of an entry, in order.
std::vector<std::string> storedKeys(const StoredSetting& setting);

}  // namespace tolvane
