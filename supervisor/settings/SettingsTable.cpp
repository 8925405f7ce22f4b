#include "supervisor/settings/SettingsTable.h"

#include "supervisor/core/ToolTable.h"
#include "supervisor/settings/SettingsStore.h"

namespace tolvane {

const std::vector<StoredSetting>& storedSettings() {
    using K = SettingKind;
    static const std::vector<StoredSetting> table{
        {"Launch", {}, ToolCount, K::Box},
        {"Minimiser", {}, ToolCount, K::Box},
        {"Tempo", {}, ToolCount, K::Text},
        {"Check", {}, ToolCount, K::Box},
        {"Frozen", {}, ToolCount, K::List},
        {"Arguments", {}, ToolCount, K::Text},
        {"Freq", {}, ToolCount, K::List},
        {"CheckSchedulerJour", {}, 8, K::Box},
        {"CheckSchedulerTiming", {}, 2, K::List},
        {"CheckSchedulerJ", "Nb", 1, K::List},
        {"CheckSchedulerReprogrammer", "Actif", 1, K::Box},
        {"CheckSchedulerOptDuree", "Actif", 1, K::Box},
        {"CheckSchedulerNoStation", "Index", 1, K::List},
        {"CheckSchedulerHeure", {}, 2, K::List},
        {"CheckPlannerJour", {}, 8, K::Box},
        {"CheckPlannerTiming", {}, 2, K::List},
        {"CheckPlannerJ", "Nb", 1, K::List},
        {"CheckPlannerReplanifier", "Actif", 1, K::Box},
        {"CheckPlannerNbJour", "Index", 1, K::List},
        {"Metrics", "Folder", 1, K::Folder},
    };
    return table;
}

std::vector<std::string> storedKeys(const StoredSetting& setting) {
    if (!setting.key.empty()) return {std::string(setting.key)};
    std::vector<std::string> keys;
    for (int i = 0; i < setting.count; ++i) keys.push_back(indexKey(i));
    return keys;
}

std::optional<StoredSetting> storedSetting(std::string_view section, std::string_view key) {
    for (const auto& setting : storedSettings()) {
        if (setting.section != section) continue;
        if (!setting.key.empty()) return key == setting.key ? std::optional(setting) : std::nullopt;
        // "Idx_" and a decimal index without a leading zero, below the count.
        for (int i = 0; i < setting.count; ++i)
            if (key == indexKey(i)) return setting;
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace tolvane
