#pragma once
// The per-user store in which every choice made on the window persists:
// texts addressed by section and key, for one application name.

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored text, or `defaultValue` when the key is absent.
    virtual std::string GetSetting(std::string_view section, std::string_view key, std::string_view defaultValue) = 0;

    // Creates or replaces the value; returns false when it could not be
    // stored durably. Callers never show this to the operator.
    virtual bool SaveSetting(std::string_view section, std::string_view key, std::string_view value) = 0;
};

// "Idx_" + index in decimal, no leading zero, no blank.
std::string indexKey(int index);

// The store kept in memory, for the tests.
class MemorySettingsStore final : public SettingsStore {
public:
    std::string GetSetting(std::string_view section, std::string_view key, std::string_view defaultValue) override;
    bool SaveSetting(std::string_view section, std::string_view key, std::string_view value) override;

    using Key = std::pair<std::string, std::string>;
    std::map<Key, std::string> values;
    std::vector<std::pair<Key, std::string>> writes;  // every write, in order, refused ones too
    bool refuseWrites = false;                        // when set, SaveSetting stores nothing and returns false
};

}  // namespace tolvane
