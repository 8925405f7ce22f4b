#include "supervisor/settings/SettingsStore.h"

namespace tolvane {

std::string indexKey(int index) { return "Idx_" + std::to_string(index); }

std::string MemorySettingsStore::GetSetting(std::string_view section, std::string_view key,
                                            std::string_view defaultValue) {
    const auto it = values.find(Key{std::string(section), std::string(key)});
    return it != values.end() ? it->second : std::string(defaultValue);
}

bool MemorySettingsStore::SaveSetting(std::string_view section, std::string_view key, std::string_view value) {
    Key k{std::string(section), std::string(key)};
    // A refused write is still a write the program attempted: it is logged,
    // but the stored value stays as it was.
    writes.emplace_back(k, std::string(value));
    if (refuseWrites) return false;
    values[std::move(k)] = std::string(value);
    return true;
}

}  // namespace tolvane
