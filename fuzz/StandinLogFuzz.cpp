// The stand-in's start log: escaping any bytes gives them back, and any
// line that parses formats back into a line that parses the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "standin/StandinLog.h"

using namespace tolvane::standin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string escaped = escapeLogField(bytes);
    FUZZ_CHECK(escaped.find_first_of("\t\n\r") == std::string::npos);
    const auto back = unescapeLogField(escaped);
    FUZZ_CHECK(back.has_value() && *back == bytes);

    (void)unescapeLogField(bytes);
    if (const auto line = parseLogLine(bytes)) {
        const std::string again = formatLogLine(*line);
        const auto reparsed = parseLogLine(again);
        FUZZ_CHECK(reparsed.has_value() && *reparsed == *line);
    }
    (void)parseLog(bytes);
    return 0;
}
