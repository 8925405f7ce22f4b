#include "supervisor/batch/BatchSchedule.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "supervisor/batch/FormatNombre.h"
#include "supervisor/core/NumericText.h"

namespace tolvane {

using namespace std::chrono;

namespace {

std::string twoDigits(int value) { return FormatNombre(value, 2, 0, "0"); }

// A number as plain decimal text: whole numbers without a point or an
// exponent ("7", "-3"), anything else in its shortest exact form.
std::string plainDecimal(double value) {
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        return std::to_string(static_cast<long long>(value));
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

}  // namespace

std::vector<std::string> hourItems() {
    std::vector<std::string> items;
    for (int h = 0; h < 24; ++h) items.push_back("  " + twoDigits(h) + "H");
    return items;
}

std::vector<std::string> quarterItems() { return {" 00", " 15", " 30", " 45"}; }

std::vector<std::string> stationItems() {
    std::vector<std::string> items;
    for (int station = 1; station <= 10; ++station) items.push_back("  " + twoDigits(station));
    return items;
}

std::vector<std::string> dayOffsetItems() {
    std::vector<std::string> items;
    for (int offset = 1; offset <= 9; ++offset) items.push_back(" " + std::to_string(offset));
    return items;
}

std::vector<std::string> dayCountItems() {
    std::vector<std::string> items;
    for (int count = 1; count <= 30; ++count) items.push_back("  " + FormatNombre(count, 3, 0, "0"));
    return items;
}

int quarterMinute(int quarterIndex) { return (quarterIndex >= 0 && quarterIndex <= 3) ? quarterIndex * 15 : 0; }

std::optional<local_seconds> nextBatchInstant(local_seconds now, const std::array<bool, 8>& days, int hour,
                                              int minute) {
    const local_days todayDate = floor<std::chrono::days>(now);
    const int today = static_cast<int>(weekday{todayDate}.iso_encoding());  // Monday 1 .. Sunday 7
    const auto atStartTime = [&](local_days date) { return date + hours{hour} + minutes{minute}; };

    // Start from a value later than any candidate, keep the strictly earliest.
    local_seconds best = now + std::chrono::days{10};
    bool found = false;
    for (int i = 1; i <= 7; ++i) {
        if (!days[static_cast<std::size_t>(i)]) continue;
        local_seconds candidate;
        if (i < today) {
            candidate = atStartTime(todayDate + std::chrono::days{i - today + 7});
        } else if (i == today) {
            // Passed by even one second: next week. Equal to now: today.
            candidate = atStartTime(todayDate);
            if (candidate < now) candidate += std::chrono::days{7};
        } else {
            candidate = atStartTime(todayDate + std::chrono::days{i - today});
        }
        if (best > candidate) {
            best = candidate;
            found = true;
        }
    }
    if (!found) return std::nullopt;
    return best;
}

std::optional<local_seconds> nextBatchInstant(local_seconds now, const std::array<bool, 8>& days, int hour, int minute,
                                              const std::vector<local_seconds>& passOver) {
    auto next = nextBatchInstant(now, days, hour, minute);
    // Each round moves strictly later, so this ends after at most one round
    // per instant passed over.
    while (next && std::find(passOver.begin(), passOver.end(), *next) != passOver.end())
        next = nextBatchInstant(*next + seconds{1}, days, hour, minute);
    return next;
}

std::string nextBatchLabel(local_seconds instant, const std::function<std::string(year_month_day)>& longDate) {
    const local_days date = floor<std::chrono::days>(instant);
    const hh_mm_ss<seconds> tod{instant - date};
    return longDate(year_month_day{date}) + " " + twoDigits(static_cast<int>(tod.hours().count())) + "h " +
           twoDigits(static_cast<int>(tod.minutes().count()));
}

std::string schedulerCommandLine(const SchedulerOptions& options) {
    const std::string r = options.reprogrammer == 1 ? "1" : "0";
    const std::string s = std::to_string(options.stationIndex + 1);
    // No selection (-1) shows as "-1" here, the way the hour has always been
    // written for an empty list.
    const std::string d = FormatNombre(options.startHourIndex, 2, 0, "0");
    const std::string f = FormatNombre(options.endHourIndex, 2, 0, "0");
    const std::string o = options.optDuree == 1 ? "1" : "0";
    const std::string j = std::to_string(options.dayOffsetIndex + 1);
    // The "Reprogrammer" box feeds the "ChargerSquelette" field: that is the
    // name the Scheduler program reads it under.
    return "/Batch=J+" + j + "<ChargerSquelette:" + r + ">" + "<NoStation:" + s + ">" + "<HeureDeb:" + d + ">" +
           "<HeureFin:" + f + ">" + "<OptDuree:" + o + ">";
}

std::string plannerCommandLine(const PlannerOptions& options) {
    const std::string r = options.replanifier == 1 ? "1" : "0";
    // The day count is the number the list shows, not its index.
    const std::string n = plainDecimal(leadingNumber(options.dayCountText));
    const std::string j = std::to_string(options.dayOffsetIndex + 1);
    return "/Batch=J+" + j + "<Replanifier:" + r + ">" + "<NbJourAPlanifier:" + n + ">";
}

BatchStart batchStartFor(int minimiserValue) {
    switch (minimiserValue) {
        case 1: return BatchStart::Standby;
        case 0: return BatchStart::Normal;
        default: return BatchStart::None;  // the greyed third state starts nothing
    }
}

}  // namespace tolvane
