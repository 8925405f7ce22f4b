#include "supervisor/settings/SettingsStore.h"

#include "supervisor/settings/SettingLayers.h"

namespace tolvane {

std::string indexKey(int index) { return "Idx_" + std::to_string(index); }

namespace {

std::optional<std::string> find(const std::map<MemorySettingsStore::Key, std::string>& map,
                                const MemorySettingsStore::Key& k) {
    const auto it = map.find(k);
    if (it == map.end()) return std::nullopt;
    return it->second;
}

}  // namespace

std::string MemorySettingsStore::GetSetting(std::string_view section, std::string_view key,
                                            std::string_view defaultValue) {
    const Key k{std::string(section), std::string(key)};
    return settingValue({find(policy, k), find(values, k), find(presets, k)}, defaultValue);
}

bool MemorySettingsStore::isEnforced(std::string_view section, std::string_view key) {
    return policy.count(Key{std::string(section), std::string(key)}) != 0;
}

bool MemorySettingsStore::SaveSetting(std::string_view section, std::string_view key, std::string_view value) {
    Key k{std::string(section), std::string(key)};
    // A save the rules keep from the user's store is no write at all.
    if (!saveIsWritten(policy.count(k) != 0, presets.count(k) != 0, values.count(k) != 0, loading)) return true;
    // A refused write is still a write the program attempted: it is logged,
    // but the stored value stays as it was.
    writes.emplace_back(k, std::string(value));
    if (refuseWrites) return false;
    values[std::move(k)] = std::string(value);
    return true;
}

}  // namespace tolvane
