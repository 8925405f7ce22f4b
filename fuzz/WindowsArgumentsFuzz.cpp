// The Windows command-line rules: splitting any text never fails, and any
// arguments (split from the input at NUL bytes) quoted and joined with
// blanks split back into exactly themselves.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "platform/shared/WindowsCommandLine.h"

using tolvane::platform::quoteWindowsArgument;
using tolvane::platform::splitWindowsArguments;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> split = splitWindowsArguments(text);
    for (const auto& argument : split) FUZZ_CHECK(argument.size() <= text.size());

    std::vector<std::string> arguments;
    std::string current;
    for (const char c : text) {
        if (c == '\0') {
            arguments.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    arguments.push_back(current);
    std::string line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i != 0) line += ' ';
        line += quoteWindowsArgument(arguments[i]);
    }
    FUZZ_CHECK(splitWindowsArguments(line) == arguments);
    // One argument alone, too.
    FUZZ_CHECK(splitWindowsArguments(quoteWindowsArgument(arguments.front())) ==
               std::vector<std::string>{arguments.front()});
    return 0;
}
