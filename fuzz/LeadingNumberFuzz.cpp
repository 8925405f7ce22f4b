// leadingNumber on any text: never NaN, never a negative zero, and what
// follows the number never changes it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "supervisor/core/NumericText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const double value = tolvane::leadingNumber(text);
    FUZZ_CHECK(!std::isnan(value));
    FUZZ_CHECK(!(value == 0.0 && std::signbit(value)));
    // A letter that cannot continue any number, and leading blanks.
    FUZZ_CHECK(tolvane::leadingNumber(text + "z") == value);
    FUZZ_CHECK(tolvane::leadingNumber("  \t" + text) == value);
    return 0;
}
