#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "supervisor/core/VersionStamp.h"

namespace tolvane {
namespace {

using namespace std::chrono;

local_seconds at(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
    return local_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

std::optional<platform::VersionInfo> v(int major, int minor, int revision, std::string description = "") {
    return platform::VersionInfo{major, minor, revision, std::move(description)};
}

TEST(VersionText, DateStampedBuildsAndTheYear2000Fallback) {
    EXPECT_EQ(VersionText(v(2023, 312, 1545)), "2023.0312.1545");
    EXPECT_EQ(VersionText(v(2026, 1107, 5)), "2026.1107.0005");
    // The description only counts for majors below 2000.
    EXPECT_EQ(VersionText(v(2023, 312, 1545, "2021-06-15")), "2023.0312.1545");
    EXPECT_EQ(VersionText(v(1999, 312, 1545, "Vantorix: Tools Launcher")), "2000.0101.0000");
    EXPECT_EQ(VersionText(std::nullopt), "2000.0101.0000");
    EXPECT_EQ(VersionText(v(1, 2, 3, "2021-06-15 08:30")), "2021.0615.0830");
    EXPECT_EQ(VersionDate(v(1999, 0, 0, " 05/11/2022 23:04:59 ")), at(2022, 11, 5, 23, 4, 59));
}

TEST(VersionDate, OutOfRangeComponentsCarryOver) {
    EXPECT_EQ(VersionDate(v(2023, 1301, 0)), at(2024, 1, 1));  // month 13
    EXPECT_EQ(VersionDate(v(2023, 229, 0)), at(2023, 3, 1));   // no 29 February
    EXPECT_EQ(VersionDate(v(2024, 229, 0)), at(2024, 2, 29));
    EXPECT_EQ(VersionDate(v(2023, 1231, 2400)), at(2024, 1, 1));  // hour 24
    EXPECT_EQ(VersionDate(v(2023, 312, 9999)), at(2023, 3, 16, 4, 39));
    EXPECT_EQ(VersionText(v(2023, 1301, 2460)), "2024.0102.0100");
    // Month 0 is December of the year before and day 0 the last day of the
    // month before, so minor 0 is 30 November of the previous year.
    EXPECT_EQ(VersionDate(v(2023, 0, 0)), at(2022, 11, 30));
    EXPECT_EQ(VersionDate(v(2023, 100, 0)), at(2022, 12, 31));
    EXPECT_EQ(VersionDate(v(2024, 300, 0)), at(2024, 2, 29));
    // Wider than four digits: the last four.
    EXPECT_EQ(VersionDate(v(2023, 10312, 11545)), at(2023, 3, 12, 15, 45));
}

TEST(VersionDate, YearsBeyondFourDigitsFallBack) {
    EXPECT_EQ(VersionText(v(9999, 1231, 2359)), "9999.1231.2359");
    EXPECT_EQ(VersionText(v(9999, 1301, 0)), "2000.0101.0000");
    EXPECT_EQ(VersionText(v(65535, 65535, 65535)), "2000.0101.0000");
}

TEST(ParseDescriptionDate, IsoAndFrenchFormsOnly) {
    EXPECT_EQ(parseDescriptionDate("2021-6-5"), at(2021, 6, 5));
    EXPECT_EQ(parseDescriptionDate("2021-06-15 08:30:07"), at(2021, 6, 15, 8, 30, 7));
    EXPECT_EQ(parseDescriptionDate("5/6/2021 23:59"), at(2021, 6, 5, 23, 59));
    EXPECT_EQ(parseDescriptionDate("29/02/2024"), at(2024, 2, 29));
    for (const char* text :
         {"", "Vantorix", "2021-06", "2021-13-01", "2021-02-29", "31/04/2021", "15/06/21", "2021/06/15",
          "2021-06-15 24:00", "2021-06-15 12:60", "2021-06-15 12", "2021-06-15 08:30 x", "0050-01-01"})
        EXPECT_EQ(parseDescriptionDate(text), std::nullopt) << '"' << text << '"';
}

}  // namespace
}  // namespace tolvane
