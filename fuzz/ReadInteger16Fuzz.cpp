// readInteger16 on any text: a value within 16 bits exactly when the
// leading number rounds (halves to even) into -32768..32767.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "supervisor/core/NumericText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto value = tolvane::readInteger16(text);
    const double number = tolvane::leadingNumber(text);
    if (value) {
        FUZZ_CHECK(std::fabs(number - *value) <= 0.5);
        // On a tie the even neighbour wins.
        if (std::fabs(number - *value) == 0.5) FUZZ_CHECK(*value % 2 == 0);
    } else {
        // -32768.5 rounds to the even -32768, 32767.5 to the even 32768.
        FUZZ_CHECK(!std::isfinite(number) || number < -32768.5 || number >= 32767.5);
    }
    FUZZ_CHECK(tolvane::readInteger16(text + "z") == value);
    return 0;
}
