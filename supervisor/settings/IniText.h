#pragma once
// The INI text of the settings file, without Qt: the same line structure,
// escapes and quoting as Qt's INI files, with values kept as bytes. Bytes in,
// bytes out: QtSettingsStore hands it to QSettings, and the fuzz target links
// it alone.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

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
