#pragma once
// Small text rules used across the supervisor: ASCII-only, so their answers
// do not depend on the system's locale.

#include <string>
#include <string_view>

namespace tolvane {

// Case-insensitive (ASCII) search of `needle` in `haystack`.
bool containsNoCase(std::string_view haystack, std::string_view needle);

// `text` without leading and trailing spaces (only spaces: tabs stay).
std::string trimSpaces(std::string_view text);

}  // namespace tolvane
