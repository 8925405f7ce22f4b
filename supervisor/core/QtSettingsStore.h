#pragma once
// The settings store on QSettings: the registry under
// HKCU\Software\Vantorix\<application> on Windows, the INI file
// $XDG_CONFIG_HOME/Vantorix/<application>.ini elsewhere. Every write is
// synced at once (QSettings writes the INI file through a temporary file and
// a rename, so a crash never leaves half a file).

#include <memory>
#include <string>

#include "supervisor/core/SettingsStore.h"

class QSettings;

namespace tolvane {

class QtSettingsStore final : public SettingsStore {
public:
    // The user's store for this application name.
    explicit QtSettingsStore(const std::string& application);
    ~QtSettingsStore() override;

    // The INI file at this path (tests, and stores kept elsewhere).
    static std::unique_ptr<QtSettingsStore> atIniFile(const std::string& path);

    std::string GetSetting(std::string_view section, std::string_view key,
                           std::string_view defaultValue) override;
    bool SaveSetting(std::string_view section, std::string_view key, std::string_view value) override;

    // Where the values live, for messages and the README.
    std::string location() const;

private:
    explicit QtSettingsStore(std::unique_ptr<QSettings> settings);
    void reportOnce(const char* what);

    std::unique_ptr<QSettings> m_settings;
    bool m_reported = false;
};

}  // namespace tolvane
