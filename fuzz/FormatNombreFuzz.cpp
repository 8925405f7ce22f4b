// FormatNombre on any number, width, decimals and pad: never more than one
// character beyond the width (the sign of a number that fills it), nothing
// for a width of zero or less, and never a failure.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "supervisor/batch/FormatNombre.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(double) + 2) return 0;
    double value;
    std::memcpy(&value, data, sizeof value);
    const int width = static_cast<int>(static_cast<std::int8_t>(data[sizeof value])) % 48;
    const int decimals = static_cast<int>(static_cast<std::int8_t>(data[sizeof value + 1])) % 16;
    const std::string pad(reinterpret_cast<const char*>(data) + sizeof value + 2, size - sizeof value - 2);
    const std::string text = tolvane::FormatNombre(value, width, decimals, pad);
    if (width <= 0) {
        FUZZ_CHECK(text.empty());
    } else {
        FUZZ_CHECK(text.size() >= static_cast<std::size_t>(width));
        FUZZ_CHECK(text.size() <= static_cast<std::size_t>(width) + 1);
    }
    return 0;
}
