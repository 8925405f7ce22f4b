#include "supervisor/settings/SettingLayers.h"

#include "supervisor/settings/SettingsTable.h"

namespace tolvane {

namespace {

std::optional<std::string> find(const SettingValues& values, std::string_view section, std::string_view key) {
    const auto it = values.find({std::string(section), std::string(key)});
    if (it == values.end()) return std::nullopt;
    return it->second;
}

}  // namespace

SettingValues tableValues(const std::function<std::optional<std::string>(std::string_view, std::string_view)>& read) {
    SettingValues values;
    for (const StoredSetting& setting : storedSettings())
        for (const std::string& key : storedKeys(setting))
            if (auto value = read(setting.section, key)) values[{std::string(setting.section), key}] = *value;
    return values;
}

SettingSource settingSource(const SettingPlaces& places) {
    if (places.policy) return SettingSource::Policy;
    if (places.user) return SettingSource::User;
    if (places.preset) return SettingSource::Preset;
    return SettingSource::Default;
}

std::string settingValue(const SettingPlaces& places, std::string_view defaultValue) {
    switch (settingSource(places)) {
        case SettingSource::Policy: return *places.policy;
        case SettingSource::User: return *places.user;
        case SettingSource::Preset: return *places.preset;
        case SettingSource::Default: break;
    }
    return std::string(defaultValue);
}

bool saveIsWritten(bool enforced, bool presetPresent, bool userPresent, bool loading) {
    if (enforced) return false;
    if (loading && presetPresent && !userPresent) return false;
    return true;
}

std::optional<std::string> storedValue(SettingsStore& store, std::string_view section, std::string_view key) {
    static constexpr std::string_view First = "\001absent\001";
    static constexpr std::string_view Second = "\002absent\002";
    std::string value = store.GetSetting(section, key, First);
    if (value == First && store.GetSetting(section, key, Second) == Second) return std::nullopt;
    return value;
}

SettingPlaces LayeredSettings::places(std::string_view section, std::string_view key) {
    SettingPlaces p;
    p.policy = find(m_policy, section, key);
    // The user's store is not asked for what the policy decides.
    if (!p.policy) p.user = storedValue(m_user, section, key);
    p.preset = find(m_presets, section, key);
    return p;
}

std::string LayeredSettings::GetSetting(std::string_view section, std::string_view key, std::string_view defaultValue) {
    if (m_policy.empty() && m_presets.empty()) return m_user.GetSetting(section, key, defaultValue);
    return settingValue(places(section, key), defaultValue);
}

bool LayeredSettings::SaveSetting(std::string_view section, std::string_view key, std::string_view value) {
    const bool enforced = isEnforced(section, key);
    const bool preset = find(m_presets, section, key).has_value();
    // The user's store is read only when the answer matters.
    const bool user = !enforced && preset && m_loading && storedValue(m_user, section, key).has_value();
    if (!saveIsWritten(enforced, preset, user, m_loading)) return true;
    return m_user.SaveSetting(section, key, value);
}

bool LayeredSettings::isEnforced(std::string_view section, std::string_view key) {
    return find(m_policy, section, key).has_value();
}

}  // namespace tolvane
