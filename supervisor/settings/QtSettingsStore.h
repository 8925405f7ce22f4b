#pragma once
// The settings store on QSettings: the registry under
// HKCU\Software\Vantorix\<application> on Windows, the INI file
// $XDG_CONFIG_HOME/Vantorix/<application>.ini elsewhere. Every write is
// synced at once, through a temporary file and a rename, so a crash never
// leaves half a file.
//
// The INI file is read and written by Tolvane's own INI text code (IniText.h),
// handed to QSettings as a registered format. Qt's own INI code rewrites
// every value it parsed whenever one key changes, and it is not faithful to
// what a person may have typed into the file: bytes that are not UTF-8 come
// back as U+FFFD, "a,b" comes back as "a, b", a "@Variant(...)" it cannot
// decode becomes "@Invalid()". Here every value Tolvane does not edit is
// written back byte for byte, and values are read back as the exact bytes
// they hold. Files written by Qt's INI code read the same here, and values
// written here read the same through Qt's INI code (as long as they are
// UTF-8 text).

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "supervisor/settings/IniText.h"
#include "supervisor/settings/SettingLayers.h"
#include "supervisor/settings/SettingsStore.h"

class QSettings;

namespace tolvane {

class QtSettingsStore final : public SettingsStore {
public:
    // The user's store for this application name, read without QSettings'
    // fallbacks (the machine-wide values are presets, read apart: see
    // readAdministratorSettings), so a user's own value is always told from
    // a preset.
    explicit QtSettingsStore(const std::string& application);
    ~QtSettingsStore() override;

    // The INI file at this path (tests, and stores kept elsewhere).
    static std::unique_ptr<QtSettingsStore> atIniFile(const std::string& path);

    std::string GetSetting(std::string_view section, std::string_view key, std::string_view defaultValue) override;
    bool SaveSetting(std::string_view section, std::string_view key, std::string_view value) override;

    // Where the values live, for messages and the README.
    std::string location() const;
    // The store could not be read when it was opened: the window shows the
    // defaults.
    bool unreadable() const { return m_readReported; }

private:
    explicit QtSettingsStore(std::function<std::unique_ptr<QSettings>()> open);
    void reportOnce(bool& reported, const std::string& what);
    void keepLinesThatAreNotSettings();
    void clearAbandonedLock();

    std::function<std::unique_ptr<QSettings>()> m_open;
    std::unique_ptr<QSettings> m_settings;
    bool m_iniFile = false;
    bool m_readReported = false;
    bool m_writeReported = false;
    bool m_checkedBeforeFirstWrite = false;
    bool m_stale = false;  // m_settings holds an earlier error
};

// What the administrator set for this application name, read once, only the
// settings of the table (SettingsTable.h), each value read as the store reads
// its own:
// - Windows: the policy under HKLM\Software\Policies\Vantorix\<application>,
//   the presets under HKLM\Software\Vantorix\<application> (the 64-bit view,
//   where the MSI writes);
// - elsewhere: Vantorix/<application>-policy.ini and Vantorix/<application>.ini
//   in the system's configuration folders ($XDG_CONFIG_DIRS, /etc/xdg by
//   default; the first folder that has a key wins), never in the user's own
//   configuration folder.
struct AdministratorSettings {
    SettingValues policy;
    SettingValues presets;
    std::vector<std::string> policyPlaces;  // where the policy was looked for
    std::vector<std::string> presetPlaces;
};
AdministratorSettings readAdministratorSettings(const std::string& application);

}  // namespace tolvane
