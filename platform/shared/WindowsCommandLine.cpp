#include "platform/shared/WindowsCommandLine.h"

namespace tolvane::platform {

std::vector<std::string> splitWindowsArguments(const std::string& text) {
    std::vector<std::string> result;
    std::string current;
    bool inArgument = false;
    bool inQuotes = false;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const char c = text[i];
        if (c == '\\') {
            std::size_t slashes = 0;
            while (i < n && text[i] == '\\') {
                ++slashes;
                ++i;
            }
            inArgument = true;
            if (i < n && text[i] == '"') {
                current.append(slashes / 2, '\\');
                if (slashes % 2 == 1) {
                    current.push_back('"');
                    ++i;
                }
                // An even count leaves the quote for the next round, where it
                // toggles quoting.
            } else {
                current.append(slashes, '\\');
            }
            continue;
        }
        if (c == '"') {
            inArgument = true;
            if (inQuotes && i + 1 < n && text[i + 1] == '"') {
                // "" inside quotes: a literal quote (the 2008+ runtime rule).
                current.push_back('"');
                i += 2;
                continue;
            }
            inQuotes = !inQuotes;
            ++i;
            continue;
        }
        if ((c == ' ' || c == '\t') && !inQuotes) {
            if (inArgument) {
                result.push_back(current);
                current.clear();
                inArgument = false;
            }
            ++i;
            continue;
        }
        current.push_back(c);
        inArgument = true;
        ++i;
    }
    if (inArgument) result.push_back(current);
    return result;
}

std::string quoteWindowsArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string out = "\"";
    std::size_t slashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"') {
            out.append(slashes * 2 + 1, '\\');
            out.push_back('"');
        } else {
            out.append(slashes, '\\');
            out.push_back(c);
        }
        slashes = 0;
    }
    out.append(slashes * 2, '\\');
    out.push_back('"');
    return out;
}

}  // namespace tolvane::platform
