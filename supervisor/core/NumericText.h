#pragma once
// Reading numbers out of free text the way the stored settings and the delay
// boxes have always been read: the leading number of the text, whatever
// follows it.

#include <cstdint>
#include <optional>
#include <string_view>

namespace tolvane {

// The leading number of `text`: leading blanks skipped, blanks (space, tab,
// CR, LF) inside the number ignored, an optional sign, decimal digits, one "."
// as decimal point whatever the locale, an exponent introduced by E or D
// (either case) with an optional sign; "&H" and "&O" introduce hexadecimal and
// octal integers. Reading stops at the first other character; a text without a
// leading number reads 0. Too large a value reads as +/- infinity.
double leadingNumber(std::string_view text);

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2,
// 3.5 -> 4, -0.5 -> 0).
double roundHalfEven(double value);

// A stored numeric setting: its leading number rounded half to even to a
// 16-bit integer; nothing when the result does not fit -32768..32767 (or is
// not a number), so the control is left as it was.
std::optional<std::int16_t> readInteger16(std::string_view text);

}  // namespace tolvane
