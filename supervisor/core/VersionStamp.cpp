#include "supervisor/core/VersionStamp.h"

#include "supervisor/batch/FormatNombre.h"
#include "supervisor/core/NumericText.h"

namespace tolvane {

using namespace std::chrono;

namespace {

// Dates the caption can show: four-digit years, as the version text has four
// places for the year.
constexpr int kFirstYear = 100;
constexpr int kLastYear = 9999;

local_seconds defaultStamp() { return local_days{year{2000} / January / 1}; }

// Two numbers out of one version component: "0312" gives 3 and 12.
struct Pair {
    int high;
    int low;
};

Pair splitComponent(int component) {
    const std::string text = FormatNombre(component, 4, 0, "0");
    return {static_cast<int>(leadingNumber(text.substr(0, 2))),
            static_cast<int>(leadingNumber(text.substr(text.size() >= 2 ? text.size() - 2 : 0)))};
}

// year/month/day hour:minute where month, day, hour and minute may lie
// outside their range and carry over: month 13 is January of the next year,
// month 0 December of the previous one, day 0 the last day of the previous
// month, hour 24 the next day.
std::optional<local_seconds> carriedDate(int y, int month, int day, int hour, int minute) {
    if (y < kFirstYear || y > kLastYear) return std::nullopt;
    const year_month ym = year{y} / January + months{month - 1};
    const local_seconds result = local_days{ym / 1} + days{day - 1} + hours{hour} + minutes{minute};
    const year_month_day ymd{floor<days>(result)};
    if (!ymd.ok() || static_cast<int>(ymd.year()) < kFirstYear || static_cast<int>(ymd.year()) > kLastYear)
        return std::nullopt;
    return result;
}

class Cursor {
public:
    explicit Cursor(std::string_view text) : m_text(text) {}

    bool atEnd() const { return m_pos == m_text.size(); }

    // Between minDigits and maxDigits decimal digits.
    std::optional<int> number(std::size_t minDigits, std::size_t maxDigits) {
        std::size_t n = 0;
        int value = 0;
        while (m_pos < m_text.size() && n < maxDigits && m_text[m_pos] >= '0' && m_text[m_pos] <= '9') {
            value = value * 10 + (m_text[m_pos] - '0');
            ++m_pos;
            ++n;
        }
        if (n < minDigits) return std::nullopt;
        return value;
    }

    bool literal(char c) {
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    bool spaces() {
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] == ' ') ++m_pos;
        return m_pos > start;
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

// " HH:MM[:SS]" after a date, or nothing at all.
std::optional<seconds> timeOfDay(Cursor& in) {
    if (in.atEnd()) return seconds{0};
    if (!in.spaces()) return std::nullopt;
    const auto h = in.number(1, 2);
    if (!h || !in.literal(':')) return std::nullopt;
    const auto m = in.number(2, 2);
    if (!m) return std::nullopt;
    int s = 0;
    if (in.literal(':')) {
        const auto sec = in.number(2, 2);
        if (!sec) return std::nullopt;
        s = *sec;
    }
    if (!in.atEnd() || *h > 23 || *m > 59 || s > 59) return std::nullopt;
    return hours{*h} + minutes{*m} + seconds{s};
}

std::string_view trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<local_seconds> parseDescriptionDate(std::string_view text) {
    text = trimBlanks(text);
    int y = 0, m = 0, d = 0;
    Cursor in(text);
    // ISO first: YYYY-MM-DD.
    if (const auto iy = in.number(4, 4); iy && in.literal('-')) {
        const auto im = in.number(1, 2);
        if (!im || !in.literal('-')) return std::nullopt;
        const auto id = in.number(1, 2);
        if (!id) return std::nullopt;
        y = *iy, m = *im, d = *id;
    } else {
        in = Cursor(text);
        const auto fd = in.number(1, 2);
        if (!fd || !in.literal('/')) return std::nullopt;
        const auto fm = in.number(1, 2);
        if (!fm || !in.literal('/')) return std::nullopt;
        const auto fy = in.number(4, 4);
        if (!fy) return std::nullopt;
        y = *fy, m = *fm, d = *fd;
    }
    const auto tod = timeOfDay(in);
    if (!tod) return std::nullopt;
    // A description is a date only when it names a real one: "31/02/2024"
    // is not a date, it does not carry over.
    const year_month_day ymd{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}};
    if (!ymd.ok() || y < kFirstYear) return std::nullopt;
    return local_days{ymd} + *tod;
}

local_seconds VersionDate(const std::optional<platform::VersionInfo>& version) {
    if (!version) return defaultStamp();
    if (version->major >= 2000) {
        const Pair monthDay = splitComponent(version->minor);
        const Pair hourMinute = splitComponent(version->revision);
        // A stamp that cannot be a four-digit-year date is not shown as one.
        return carriedDate(version->major, monthDay.high, monthDay.low, hourMinute.high, hourMinute.low)
            .value_or(defaultStamp());
    }
    return parseDescriptionDate(version->fileDescription).value_or(defaultStamp());
}

std::string VersionText(const std::optional<platform::VersionInfo>& version) {
    const local_seconds stamp = VersionDate(version);
    const local_days date = floor<days>(stamp);
    const year_month_day ymd{date};
    const hh_mm_ss<seconds> tod{stamp - date};
    auto two = [](long long v) { return FormatNombre(static_cast<double>(v), 2, 0, "0"); };
    return FormatNombre(static_cast<int>(ymd.year()), 4, 0, "0") + "." + two(static_cast<unsigned>(ymd.month())) +
           two(static_cast<unsigned>(ymd.day())) + "." + two(tod.hours().count()) + two(tod.minutes().count());
}

}  // namespace tolvane
