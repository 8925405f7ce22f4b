#include <gtest/gtest.h>

#include <chrono>

#include "supervisor/core/Startup.h"
#include "supervisor/core/TextHelpers.h"

namespace tolvane {
namespace {

using namespace std::chrono;

local_seconds at(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
    return local_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

TEST(InitialRestartInstant, TodayBeforeFourTomorrowFromFour) {
    const auto today = at(2025, 6, 10, 4, 7), tomorrow = at(2025, 6, 11, 4, 7);
    const std::pair<local_seconds, local_seconds> cases[] = {
        {at(2025, 6, 10, 0, 0), today},         {at(2025, 6, 10, 3, 59), today},
        {at(2025, 6, 10, 3, 59, 59), today},    {at(2025, 6, 10, 4, 0), tomorrow},
        {at(2025, 6, 10, 4, 6, 59), tomorrow},  {at(2025, 6, 10, 4, 7, 30), tomorrow},
        {at(2025, 6, 10, 23, 59, 59), tomorrow}};
    for (const auto& [now, expected] : cases) EXPECT_EQ(initialRestartInstant(now), expected) << formatHms(now);
    EXPECT_EQ(initialRestartInstant(at(2025, 12, 31, 23, 59, 59)), at(2026, 1, 1, 4, 7));
    EXPECT_EQ(initialRestartInstant(at(2024, 2, 28, 5, 0)), at(2024, 2, 29, 4, 7));
}

TEST(StandbySwitch, AnywhereInAnyCaseButExactly) {
    for (const char* yes : {"/Veille=True", "/veille=TRUE", "/Base=Current /Veille=True", "x/Veille=Truex"})
        EXPECT_TRUE(hasStandbySwitch(yes)) << yes;
    for (const char* no : {"", "/Base=Current", "/Veille=Fals", "/Veille = True", "Veille=True"})
        EXPECT_FALSE(hasStandbySwitch(no)) << no;
    // Odd command lines: repeated, padded to 10 KB, a near miss, the Unix style.
    EXPECT_TRUE(hasStandbySwitch("/VEILLE=TRUE /Veille=True /veille=true"));
    EXPECT_TRUE(hasStandbySwitch(std::string(10240, 'x') + "/Veille=True"));
    EXPECT_FALSE(hasStandbySwitch(std::string(10240, '/') + "Veille=Tru"));
    EXPECT_FALSE(hasStandbySwitch("--veille"));
    // A match after an overlapping false start, and no folding outside A-Z.
    EXPECT_TRUE(containsNoCase("aaab", "AAB"));
    EXPECT_FALSE(containsNoCase("@[", "`{"));
}

TEST(TextHelpers, ClockAndTrimming) {
    EXPECT_EQ(formatHms(at(2025, 6, 10, 4, 7, 9)), "04:07:09");
    EXPECT_EQ(formatHms(at(2025, 6, 10, 23, 59, 59)), "23:59:59");
    EXPECT_EQ(formatHms(at(1969, 12, 31, 13, 5, 1)), "13:05:01");
    EXPECT_EQ(trimSpaces("  /NoBase=0  "), "/NoBase=0");
    EXPECT_EQ(trimSpaces("   "), "");
    EXPECT_EQ(trimSpaces("\t/x \t"), "\t/x \t");  // only spaces go
    EXPECT_EQ(windowCaption("2023.0312.1545"), "Vantorix: Tools Launcher - 2023.0312.1545");
}

}  // namespace
}  // namespace tolvane
