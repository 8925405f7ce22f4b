#pragma once
// The settings store on QSettings: the registry under
// HKCU\Software\Vantorix\<application> on Windows, the INI file
// $XDG_CONFIG_HOME/Vantorix/<application>.ini elsewhere. Every write is
// synced at once, through a temporary file and a rename, so a crash never
// leaves half a file.
//
// The INI file is read and written by Tolvane's own INI text code (below),
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

// The INI text of the settings file, without Qt: the same line structure,
// escapes and quoting as Qt's INI files, with values kept as bytes.
namespace ini {

// One key as it stands in the file.
struct KeyLine {
    std::string section;   // decoded section name, UTF-8; "" for keys outside any
                           // section or in [General]
    std::string key;       // decoded key name, UTF-8
    std::string header;    // the header line of its section exactly as read; "" when
                           // it had none
    std::string rawKey;    // the key exactly as read, blanks around it left out
    std::string rawValue;  // everything after '=' up to the end of the line or an
                           // unquoted ';'
    std::string comment;   // a ';' comment that followed the value on its line, as read
};

struct FileText {
    std::vector<KeyLine> keys;     // in file order; a key given twice appears twice
    std::size_t commentLines = 0;  // whole-line ';' comments
    std::size_t otherLines = 0;    // lines that are neither blank, a section header, a key nor a comment
};

// Any bytes at all; what is not a key is counted and left out.
FileText parse(std::string_view file);

// What a stored value means.
struct Value {
    enum class Kind {
        Text,    // `bytes` is the text
        Absent,  // "@Invalid()": reads as a missing key
        Stream,  // "@Variant(...)" or "@DateTime(...)": `bytes` is the serialised
                 // data stream
    };
    Kind kind = Kind::Text;
    std::string bytes;
    bool dateTimeStream = false;  // "@DateTime(" rather than "@Variant("
};
Value readValue(std::string_view rawValue);

// The raw value that reads back as exactly these bytes, whatever they are.
// For UTF-8 text it is what Qt's INI code writes for the same string.
std::string writeValue(std::string_view text);

// A key name (UTF-8) as it is written in the file.
std::string writeKey(std::string_view name);

// The file text for these keys, grouped by section in order of first
// appearance, each key once. A line that can stand on its own is written
// exactly as it was read; one that could not (it ran to the end of the file
// inside quotes, say) is written anew with the same meaning, so it can never
// swallow the lines after it.
std::string format(const std::vector<KeyLine>& keys);

}  // namespace ini

}  // namespace tolvane
