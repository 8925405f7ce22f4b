#pragma once
// What an administrator sets beside the user's own store: values enforced by
// policy, which the operator cannot change, and machine presets, what a user
// who never chose a value gets. Both address the sections and keys of the
// settings table; anything else found where they live (the installer's own
// values) is not a setting and is ignored.
//
// The rules are pure: which value the window shows, and whether a save
// reaches the user's store. A preset is never copied into the user's store
// by loading, so a preset changed later still reaches every user who has not
// chosen a value of their own.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "supervisor/settings/SettingsStore.h"

namespace tolvane {

// The text an administrator set for each setting of the table, by section
// and key.
using SettingValues = std::map<std::pair<std::string, std::string>, std::string>;

// Every setting of the table that `read` answers (nothing: not set there);
// read once, at start-up, so a value does not change under a running window.
SettingValues tableValues(const std::function<std::optional<std::string>(std::string_view, std::string_view)>& read);

// What is known of one key in each place.
struct SettingPlaces {
    std::optional<std::string> policy;
    std::optional<std::string> user;
    std::optional<std::string> preset;
};

enum class SettingSource { Policy, User, Preset, Default };

// Policy, then the user's own value, then the preset, then the default.
SettingSource settingSource(const SettingPlaces& places);
std::string settingValue(const SettingPlaces& places, std::string_view defaultValue);

// Whether a save reaches the user's store: never for an enforced key; not
// for the reactions of loading to a preset the user never overrode (loading
// writes back what it loaded only where that is the user's own value or the
// program's default); every other save, as always.
bool saveIsWritten(bool enforced, bool presetPresent, bool userPresent, bool loading);

// The store the window is given in the program: policy and presets read once,
// over the user's own store (read without any fallback of its own).
class LayeredSettings final : public SettingsStore {
public:
    LayeredSettings(SettingsStore& user, SettingValues policy, SettingValues presets)
        : m_user(user),
          m_policy(std::move(policy)),
          m_presets(std::move(presets)) {}

    std::string GetSetting(std::string_view section, std::string_view key, std::string_view defaultValue) override;
    // A save that is not written is no failure: true, and nothing stored.
    bool SaveSetting(std::string_view section, std::string_view key, std::string_view value) override;
    bool isEnforced(std::string_view section, std::string_view key) override;
    void setLoading(bool loading) override { m_loading = loading; }

    const SettingValues& policy() const { return m_policy; }
    const SettingValues& presets() const { return m_presets; }

private:
    SettingPlaces places(std::string_view section, std::string_view key);

    SettingsStore& m_user;
    SettingValues m_policy;
    SettingValues m_presets;
    bool m_loading = false;
};

// The user's own value, nothing when the key is absent (or holds nothing the
// store can read): asked with two defaults no stored text can equal both.
std::optional<std::string> storedValue(SettingsStore& store, std::string_view section, std::string_view key);

}  // namespace tolvane
