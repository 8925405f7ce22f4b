#pragma once
// The per-user store in which every choice made on the window persists:
// texts addressed by section and key, for one application name. Where an
// administrator sets values (SettingLayers.h), the store answers with them,
// tells which keys are enforced, and writes what the rules let through.

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

    // The administrator's policy sets this key: its control is shown
    // disabled, and a save of it writes nothing.
    virtual bool isEnforced(std::string_view /*section*/, std::string_view /*key*/) { return false; }

    // Loading runs between setLoading(true) and setLoading(false): its
    // saves are the controls' reactions to the loaded values, which do not
    // copy a preset into the user's store.
    virtual void setLoading(bool /*loading*/) {}
};

// setLoading for the life of a scope (the window's loading).
class SettingsLoading {
public:
    explicit SettingsLoading(SettingsStore& store) : m_store(store) { m_store.setLoading(true); }
    ~SettingsLoading() { m_store.setLoading(false); }
    SettingsLoading(const SettingsLoading&) = delete;
    SettingsLoading& operator=(const SettingsLoading&) = delete;

private:
    SettingsStore& m_store;
};

// "Idx_" + index in decimal, no leading zero, no blank.
std::string indexKey(int index);

// The store kept in memory, for the tests: the user's own values, and the
// administrator's policy and presets, under the rules of SettingLayers.h.
class MemorySettingsStore final : public SettingsStore {
public:
    std::string GetSetting(std::string_view section, std::string_view key, std::string_view defaultValue) override;
    bool SaveSetting(std::string_view section, std::string_view key, std::string_view value) override;
    bool isEnforced(std::string_view section, std::string_view key) override;
    void setLoading(bool loading) override { this->loading = loading; }

    using Key = std::pair<std::string, std::string>;
    std::map<Key, std::string> values;                // the user's own store
    std::map<Key, std::string> policy;                // enforced
    std::map<Key, std::string> presets;               // the machine's presets
    std::vector<std::pair<Key, std::string>> writes;  // every write, in order, refused ones too
    bool refuseWrites = false;                        // when set, SaveSetting stores nothing and returns false
    bool loading = false;
};

}  // namespace tolvane
