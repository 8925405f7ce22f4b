#pragma once
// The Windows rules for turning one command-line text into arguments and
// back. Tools receive their argument text as Windows programs do, so the
// Linux backend splits it by the same rules, and the Win32 backend quotes the
// application path by them. Pure functions: no system call.

#include <string>
#include <vector>

namespace tolvane::platform {

// Splits an argument text as the Microsoft C runtime does for argv[1..]:
// blanks (space, tab) separate arguments outside quotes; a quote toggles
// quoting; 2n backslashes before a quote give n backslashes and the quote
// acts; 2n+1 give n backslashes and a literal quote; other backslashes are
// literal; "" inside quotes gives a literal quote.
std::vector<std::string> splitWindowsArguments(const std::string& text);

// Quotes one argument so that splitWindowsArguments gives it back unchanged.
std::string quoteWindowsArgument(const std::string& argument);

}  // namespace tolvane::platform
