#pragma once
// A number right-aligned in a fixed width with a pad character and a fixed
// number of decimals: the batch lists ("  07H", "  001"), the two-digit hours
// of the batch command line, the next-batch labels and the version text.

#include <string>
#include <string_view>

namespace tolvane {

// width <= 0 gives "". Decimals outside 0..9 are treated as 0 (no caller uses
// them). A value wider than the field keeps its rightmost digits.
std::string FormatNombre(double value, int width, int decimals, std::string_view pad);

}  // namespace tolvane
