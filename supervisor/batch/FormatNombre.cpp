#include "supervisor/batch/FormatNombre.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace tolvane {

namespace {

// Ties go to the even neighbour, whatever the floating-point environment says.
double roundHalfEvenLocal(double value) {
    const double low = std::floor(value);
    const double diff = value - low;
    if (diff < 0.5) return low;
    if (diff > 0.5) return low + 1.0;
    return std::fmod(low, 2.0) == 0.0 ? low : low + 1.0;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The leading number of a field this routine has just built. Such a field
// only ever holds pad characters, digits and one point, so the leading-number
// rule reduces to: blanks skipped, an optional sign, digits with one point.
// A field starting with any other pad character reads 0, as it always has.
double fieldValue(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i])) ++i;
    double sign = 1.0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-') sign = -1.0;
        ++i;
    }
    double value = 0.0;
    double scale = 1.0;
    bool point = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (isBlank(c)) continue;
        if (c >= '0' && c <= '9') {
            if (point) {
                scale /= 10.0;
                value += (c - '0') * scale;
            } else {
                value = value * 10.0 + (c - '0');
            }
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    return sign * value;
}

// The numeric value of a single character: its digit, or 0 for anything that
// is not a digit.
int characterValue(char c) { return (c >= '0' && c <= '9') ? c - '0' : 0; }

}  // namespace

std::string FormatNombre(double value, int width, int decimals, std::string_view pad) {
    if (width <= 0) return std::string();

    // The sign is taken off first and put back at the very end, in whatever
    // room the padding left. A NaN counts as negative: it is not >= 0.
    bool negative = false;
    if (!(value >= 0)) {
        negative = true;
        value = std::fabs(value);
    }

    const char padChar = pad.empty() ? ' ' : pad.front();

    if (decimals < 0 || decimals > 9) decimals = 0;
    std::int32_t multiplier = 1;
    for (int i = 0; i < decimals; ++i) multiplier *= 10;

    // The 0.005 is added before the scaling on purpose, whatever the number
    // of decimals: the figures shown have always been rounded this way.
    double scaled = (value + 0.005) * static_cast<double>(multiplier);
    if (scaled > 2147483647.0) scaled = 2147483647.0;

    // A NaN cannot be rounded to an integer; that step is skipped and the
    // number stays 0.
    std::int64_t n = 0;
    if (!std::isnan(scaled)) n = static_cast<std::int64_t>(roundHalfEvenLocal(scaled));

    // The rightmost `width` characters of the padding followed by the digits:
    // a number wider than the field keeps only its rightmost digits.
    const std::string padded = std::string(static_cast<std::size_t>(width), padChar) + std::to_string(n);
    std::string s = padded.substr(padded.size() - static_cast<std::size_t>(width));

    // The first character of the field is given up for the point, so the
    // width is kept. A width too small to hold the point leaves the field
    // without one.
    if (decimals != 0 && width - decimals - 1 >= 0) {
        const auto intLen = static_cast<std::size_t>(width - decimals - 1);
        s = s.substr(1, intLen) + "." + s.substr(s.size() - static_cast<std::size_t>(decimals));
    }

    const std::size_t point = s.find('.');
    if (point != std::string::npos) {
        for (std::size_t i = point + 1; i < s.size(); ++i)
            if (s[i] == ' ') s[i] = '0';
        // A value below one gets a "0" before its point (" 0.5", not "  .5").
        if (fieldValue(s) < 1.0 && point > 0) s[point - 1] = '0';
    }

    if (negative) {
        const std::size_t space = s.rfind(' ');
        if (space != std::string::npos) {
            s[space] = '-';
        } else if (!s.empty() && characterValue(s.front()) == 0) {
            s[0] = '-';
        } else {
            // No room left: the field grows by one character for the sign.
            s = "-" + s;
        }
    }
    return s;
}

}  // namespace tolvane
