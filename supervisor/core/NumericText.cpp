#include "supervisor/core/NumericText.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace tolvane {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Walks a text character by character, stepping over blanks wherever they
// are: "1 0 000" is the same number as "10000".
class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) {}

    // The next character that is not a blank, or '\0' at the end.
    char peek() {
        skipBlanks();
        return m_pos < m_text.size() ? m_text[m_pos] : '\0';
    }
    void advance() { ++m_pos; }

private:
    void skipBlanks() {
        while (m_pos < m_text.size() && isBlank(m_text[m_pos])) ++m_pos;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

int digitValue(char c, int base) {
    int v = -1;
    if (isDigit(c))
        v = c - '0';
    else if (upper(c) >= 'A' && upper(c) <= 'F')
        v = upper(c) - 'A' + 10;
    return (v >= 0 && v < base) ? v : -1;
}

// "&H" and "&O" integers: the plain unsigned value of the digits. Enough
// digits to pass the range of a double read as infinity.
double readRadix(Reader& in, int base) {
    double value = 0.0;
    for (;;) {
        const int d = digitValue(in.peek(), base);
        if (d < 0) break;
        value = value * base + d;
        in.advance();
    }
    return value;
}

}  // namespace

double leadingNumber(std::string_view text) {
    Reader in(text);

    if (in.peek() == '&') {
        in.advance();
        const char kind = upper(in.peek());
        if (kind == 'H' || kind == 'O') {
            in.advance();
            return readRadix(in, kind == 'H' ? 16 : 8);
        }
        return 0.0;
    }

    // The number is gathered without its blanks into plain "C" notation and
    // converted in one go, so it is rounded once and never depends on the
    // regional decimal separator.
    std::string mantissa;
    bool negative = false;
    if (in.peek() == '+' || in.peek() == '-') {
        negative = in.peek() == '-';
        in.advance();
    }
    std::size_t intDigits = 0;
    bool point = false;
    bool anyDigit = false;
    for (;;) {
        const char c = in.peek();
        if (isDigit(c)) {
            mantissa += c;
            anyDigit = true;
            if (!point) ++intDigits;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
        in.advance();
    }
    if (!anyDigit) return 0.0;

    // An exponent counts only with at least one digit: "1e" and "1e+" read 1.
    std::string exponent;
    const char e = upper(in.peek());
    if (e == 'E' || e == 'D') {
        in.advance();
        std::string sign;
        if (in.peek() == '+' || in.peek() == '-') {
            if (in.peek() == '-') sign = "-";
            in.advance();
        }
        std::string digits;
        while (isDigit(in.peek())) {
            digits += in.peek();
            in.advance();
        }
        if (!digits.empty()) exponent = sign + digits;
    }

    std::string number = mantissa.substr(0, intDigits);
    if (number.empty()) number = "0";
    if (intDigits < mantissa.size()) number += "." + mantissa.substr(intDigits);
    if (!exponent.empty()) number += "e" + exponent;

    double value = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (ec == std::errc::result_out_of_range) {
        // Out of range either way: too large reads as infinity, too small as
        // zero. The decimal exponent of the first significant digit tells
        // which (an exponent that does not fit an int is large anyway).
        const std::size_t firstSignificant = mantissa.find_first_not_of('0');
        if (firstSignificant == std::string::npos) return 0.0;
        long long magnitude = static_cast<long long>(intDigits) - static_cast<long long>(firstSignificant) - 1;
        bool huge = false;
        if (!exponent.empty()) {
            if (exponent.size() > 12)
                huge = exponent.front() != '-';
            else
                magnitude += std::stoll(exponent);
        }
        value = (huge || magnitude > 0) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    // "-0" reads as plain 0, never as a negative zero that would print "-0".
    if (value == 0.0) return 0.0;
    return negative ? -value : value;
}

double roundHalfEven(double value) {
    if (!std::isfinite(value)) return value;
    const double low = std::floor(value);
    const double diff = value - low;
    if (diff < 0.5) return low;
    if (diff > 0.5) return low + 1.0;
    return std::fmod(low, 2.0) == 0.0 ? low : low + 1.0;
}

std::optional<std::int16_t> readInteger16(std::string_view text) {
    const double rounded = roundHalfEven(leadingNumber(text));
    if (!std::isfinite(rounded) || rounded < -32768.0 || rounded > 32767.0) return std::nullopt;
    // -0 (from "-0.4") is plain 0 for a control.
    return static_cast<std::int16_t>(rounded);
}

}  // namespace tolvane
