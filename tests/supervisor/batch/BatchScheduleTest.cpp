#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

#include "supervisor/batch/BatchSchedule.h"

namespace tolvane {
namespace {

using namespace std::chrono;

local_seconds at(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
    return local_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

// Weekday boxes from ISO numbers, Monday 1 .. Sunday 7.
std::array<bool, 8> ticked(std::initializer_list<int> weekdays) {
    std::array<bool, 8> days{};
    for (int d : weekdays) days[static_cast<std::size_t>(d)] = true;
    return days;
}

constexpr int kMon = 1, kWed = 3, kThu = 4, kFri = 5, kSun = 7;

struct InstantCase {
    const char* what;
    local_seconds now;
    std::array<bool, 8> days;
    int hour, minute;
    std::optional<local_seconds> expected;
};
void PrintTo(const InstantCase& c, std::ostream* os) { *os << c.what; }

class NextBatchInstant : public ::testing::TestWithParam<InstantCase> {};

TEST_P(NextBatchInstant, IsTheEarliestTickedDayAtTheStartTime) {
    const InstantCase& c = GetParam();
    EXPECT_EQ(nextBatchInstant(c.now, c.days, c.hour, c.minute), c.expected);
}

// 2025-06-09 is a Monday, 2026-12-31 a Thursday.
INSTANTIATE_TEST_SUITE_P(
    Week, NextBatchInstant,
    ::testing::Values(
        InstantCase{"today, time ahead", at(2025, 6, 9, 9, 0), ticked({kMon}), 10, 15, at(2025, 6, 9, 10, 15)},
        InstantCase{"today, equal to the second", at(2025, 6, 9, 10, 15), ticked({kMon}), 10, 15,
                    at(2025, 6, 9, 10, 15)},
        InstantCase{"today, one second past", at(2025, 6, 9, 10, 15, 1), ticked({kMon}), 10, 15,
                    at(2025, 6, 16, 10, 15)},
        InstantCase{"later weekday", at(2025, 6, 11, 12, 0), ticked({kFri}), 6, 0, at(2025, 6, 13, 6, 0)},
        InstantCase{"earlier weekday", at(2025, 6, 11, 12, 0), ticked({kMon}), 6, 0, at(2025, 6, 16, 6, 0)},
        InstantCase{"tomorrow at an earlier hour", at(2025, 6, 11, 12, 0), ticked({kThu}), 0, 0, at(2025, 6, 12, 0, 0)},
        InstantCase{"several days, earliest", at(2025, 6, 11, 12, 0), ticked({kMon, kWed, kFri}), 10, 0,
                    at(2025, 6, 13, 10, 0)},
        InstantCase{"several days, today wins", at(2025, 6, 11, 9, 0), ticked({kMon, kWed, kFri}), 10, 0,
                    at(2025, 6, 11, 10, 0)},
        InstantCase{"today past, next Thursday before next Friday", at(2025, 6, 13, 11, 0), ticked({kFri, kThu}), 10, 0,
                    at(2025, 6, 19, 10, 0)},
        InstantCase{"no day", at(2025, 6, 9, 9, 0), ticked({}), 10, 15, std::nullopt},
        InstantCase{"element 0 is not a day", at(2025, 6, 9, 9, 0), ticked({0}), 10, 15, std::nullopt}));

INSTANTIATE_TEST_SUITE_P(
    Calendar, NextBatchInstant,
    ::testing::Values(
        InstantCase{"month end", at(2025, 5, 30, 12, 0), ticked({kMon}), 4, 30, at(2025, 6, 2, 4, 30)},
        InstantCase{"year end to Friday", at(2026, 12, 31, 12, 0), ticked({kFri}), 6, 15, at(2027, 1, 1, 6, 15)},
        InstantCase{"year end to Sunday", at(2026, 12, 31, 12, 0), ticked({kSun}), 6, 15, at(2027, 1, 3, 6, 15)},
        InstantCase{"year end, same day past", at(2026, 12, 31, 12, 0), ticked({kThu}), 6, 15, at(2027, 1, 7, 6, 15)},
        InstantCase{"leap day", at(2024, 2, 28, 23, 59, 59), ticked({kThu}), 0, 0, at(2024, 2, 29, 0, 0)},
        // 29 March and 25 October 2026 change the clocks in Europe: the
        // instant is the wall-clock date at h:m whatever the offset.
        InstantCase{"spring change, skipped hour", at(2026, 3, 28, 12, 0), ticked({kSun}), 2, 15,
                    at(2026, 3, 29, 2, 15)},
        InstantCase{"day after spring change", at(2026, 3, 27, 12, 0), ticked({kMon}), 6, 0, at(2026, 3, 30, 6, 0)},
        InstantCase{"autumn change, same day", at(2026, 10, 25, 1, 30), ticked({kSun}), 3, 0, at(2026, 10, 25, 3, 0)},
        InstantCase{"autumn change, past", at(2026, 10, 25, 3, 1), ticked({kSun}), 3, 0, at(2026, 11, 1, 3, 0)}));

TEST(NextBatchInstantEveryDay, IsTheNextStartTimeAtOrAfterNow) {
    const auto all = ticked({1, 2, 3, 4, 5, 6, 7});
    for (int h = 0; h < 24; ++h)
        EXPECT_EQ(nextBatchInstant(at(2025, 6, 12, h, 30), all, 7, 45),
                  h <= 7 ? at(2025, 6, 12, 7, 45) : at(2025, 6, 13, 7, 45))
            << "hour " << h;
}

TEST(NextBatchInstantPassingOver, StartedInstantsGiveTheFirstLaterOne) {
    // Sunday 26 October 2025, 02:10 of the repeated hour; Sunday and Monday at 02:15.
    const auto now = at(2025, 10, 26, 2, 10);
    const auto sun = at(2025, 10, 26, 2, 15), mon = at(2025, 10, 27, 2, 15);
    const struct {
        std::vector<local_seconds> passOver;
        local_seconds expected;
    } cases[] = {
        {{}, sun},
        {{sun}, mon},
        {{mon, sun}, at(2025, 11, 2, 2, 15)},
        {{at(2025, 10, 19, 2, 15), at(2025, 10, 26, 2, 30)}, sun},  // other instants change nothing
    };
    for (const auto& c : cases)
        EXPECT_EQ(nextBatchInstant(now, ticked({kSun, kMon}), 2, 15, c.passOver), c.expected)
            << c.passOver.size() << " passed over";
}

TEST(NextBatchLabel, LongDateOfTheInstantThenHourAndMinute) {
    year_month_day seen{};
    const std::string label = nextBatchLabel(at(2025, 6, 16, 4, 30), [&](year_month_day d) {
        seen = d;
        return std::string("lundi 16 juin 2025");
    });
    EXPECT_EQ(label, "lundi 16 juin 2025 04h 30");
    EXPECT_EQ(seen, year{2025} / June / 16);
}

TEST(BatchLists, FixedItemsAndQuarters) {
    const auto hours = hourItems();
    ASSERT_EQ(hours.size(), 24u);
    EXPECT_EQ(hours[0], "  00H");
    EXPECT_EQ(hours[7], "  07H");
    EXPECT_EQ(hours[23], "  23H");
    EXPECT_EQ(quarterItems(), (std::vector<std::string>{" 00", " 15", " 30", " 45"}));
    const auto stations = stationItems();
    ASSERT_EQ(stations.size(), 10u);
    EXPECT_EQ(stations.front() + stations.back(), "  01  10");
    const auto offsets = dayOffsetItems();
    ASSERT_EQ(offsets.size(), 9u);
    EXPECT_EQ(offsets.front() + offsets.back(), " 1 9");
    const auto counts = dayCountItems();
    ASSERT_EQ(counts.size(), 30u);
    EXPECT_EQ(counts[0] + counts[6] + counts[29], "  001  007  030");
    for (const auto& [index, minute] : {std::pair{0, 0}, {1, 15}, {2, 30}, {3, 45}, {-1, 0}, {4, 0}})
        EXPECT_EQ(quarterMinute(index), minute) << index;
}

TEST(SchedulerCommandLine, DefaultsEveryFieldAndNoSelection) {
    EXPECT_EQ(schedulerCommandLine(SchedulerOptions{}),
              "/Batch=J+1<ChargerSquelette:1><NoStation:1><HeureDeb:00><HeureFin:23><OptDuree:1>");
    EXPECT_EQ(schedulerCommandLine(SchedulerOptions{0, 9, 7, 18, 0, 8}),
              "/Batch=J+9<ChargerSquelette:0><NoStation:10><HeureDeb:07><HeureFin:18><OptDuree:0>");
    // Lists without selection: station and J read 0, hours "-1".
    EXPECT_EQ(schedulerCommandLine(SchedulerOptions{1, -1, -1, -1, 1, -1}),
              "/Batch=J+0<ChargerSquelette:1><NoStation:0><HeureDeb:-1><HeureFin:-1><OptDuree:1>");
    // Greyed boxes count as unticked.
    EXPECT_EQ(schedulerCommandLine(SchedulerOptions{2, 0, 0, 23, 2, 0}),
              "/Batch=J+1<ChargerSquelette:0><NoStation:1><HeureDeb:00><HeureFin:23><OptDuree:0>");
}

TEST(PlannerCommandLine, DayCountIsTheShownNumber) {
    EXPECT_EQ(plannerCommandLine(PlannerOptions{}), "/Batch=J+1<Replanifier:1><NbJourAPlanifier:1>");
    EXPECT_EQ(plannerCommandLine(PlannerOptions{1, "  007", 0}), "/Batch=J+1<Replanifier:1><NbJourAPlanifier:7>");
    EXPECT_EQ(plannerCommandLine(PlannerOptions{0, "  030", 2}), "/Batch=J+3<Replanifier:0><NbJourAPlanifier:30>");
    EXPECT_EQ(plannerCommandLine(PlannerOptions{2, "", -1}), "/Batch=J+0<Replanifier:0><NbJourAPlanifier:0>");
}

TEST(BatchStart, MinimiserBoxDecides) {
    EXPECT_EQ(batchStartFor(1), BatchStart::Standby);
    EXPECT_EQ(batchStartFor(0), BatchStart::Normal);
    EXPECT_EQ(batchStartFor(2), BatchStart::None);
}

}  // namespace
}  // namespace tolvane
