#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "supervisor/core/NumericText.h"

namespace tolvane {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct NumberCase {
    std::string text;
    double expected;
};
void PrintTo(const NumberCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class LeadingNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(LeadingNumber, ReadsTheLeadingNumber) { EXPECT_EQ(leadingNumber(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Decimal, LeadingNumber,
    ::testing::Values(NumberCase{"10000", 10000}, NumberCase{"-5", -5}, NumberCase{"+7", 7}, NumberCase{".5", 0.5},
                      NumberCase{"-.5", -0.5}, NumberCase{"5.", 5}, NumberCase{"007", 7}, NumberCase{"0.1", 0.1},
                      // One conversion of the whole text, so it is rounded once.
                      NumberCase{"123456789012345678901234567890", 123456789012345678901234567890.0}));

INSTANTIATE_TEST_SUITE_P(NoNumber, LeadingNumber,
                         ::testing::Values(NumberCase{"", 0}, NumberCase{"abc", 0}, NumberCase{"+", 0},
                                           NumberCase{"-", 0}, NumberCase{".", 0}, NumberCase{"--5", 0},
                                           NumberCase{"e5", 0}, NumberCase{"&12", 0}, NumberCase{"-&H10", 0}));

INSTANTIATE_TEST_SUITE_P(StopsAtOtherCharacters, LeadingNumber,
                         ::testing::Values(NumberCase{"12a", 12}, NumberCase{"1.2.3", 1.2}, NumberCase{"5,5", 5},
                                           NumberCase{"3-4", 3}, NumberCase{"1e2e3", 100}));

INSTANTIATE_TEST_SUITE_P(BlanksIgnored, LeadingNumber,
                         ::testing::Values(NumberCase{" 10 000", 10000}, NumberCase{"1\t2\n3", 123},
                                           NumberCase{"1\r\n0", 10}, NumberCase{"- 5", -5}, NumberCase{"1 . 5", 1.5},
                                           NumberCase{"1 e 3", 1000}, NumberCase{"1 234.567 8e-2", 12.345678}));

INSTANTIATE_TEST_SUITE_P(Exponents, LeadingNumber,
                         ::testing::Values(NumberCase{"1e12", 1e12}, NumberCase{"1D3", 1000}, NumberCase{"1d3", 1000},
                                           NumberCase{"2.5e-1", 0.25}, NumberCase{"1e+2", 100}, NumberCase{"1e", 1},
                                           NumberCase{"1e+", 1}, NumberCase{"-1.5D2", -150}, NumberCase{"1e400", kInf},
                                           NumberCase{"-1e400", -kInf}, NumberCase{"1D999999999999999999999", kInf},
                                           NumberCase{std::string(400, '9'), kInf}, NumberCase{"1e-400", 0},
                                           NumberCase{"1e-999999999999999999999", 0}));

INSTANTIATE_TEST_SUITE_P(HexAndOctal, LeadingNumber,
                         ::testing::Values(NumberCase{"&H10", 16}, NumberCase{"&h10", 16}, NumberCase{"&HFFFF", 65535},
                                           NumberCase{"&HFFFFFFFF", 4294967295.0}, NumberCase{"&O17", 15},
                                           NumberCase{"&o17", 15}, NumberCase{"&O18", 1}, NumberCase{"&H", 0},
                                           NumberCase{" &H 1 0", 16}, NumberCase{"&H10.5", 16},
                                           NumberCase{"&H" + std::string(300, 'F'), kInf},
                                           // C's 0x is a zero followed by text.
                                           NumberCase{"0x10", 0}));

TEST(LeadingNumberZero, IsNeverNegative) { EXPECT_FALSE(std::signbit(leadingNumber("-0"))); }

TEST(RoundHalfEven, HalvesToEvenOthersToNearest) {
    const std::pair<double, double> cases[] = {{0.5, 0},    {1.5, 2},   {2.5, 2},      {3.5, 4},
                                               {-0.5, 0},   {-1.5, -2}, {-2.5, -2},    {2.4999, 2},
                                               {2.5001, 3}, {-2.6, -3}, {1e300, 1e300}};
    for (const auto& [in, out] : cases) EXPECT_EQ(roundHalfEven(in), out) << in;
    EXPECT_TRUE(std::isnan(roundHalfEven(std::nan(""))));
    EXPECT_EQ(roundHalfEven(kInf), kInf);
}

struct Int16Case {
    std::string text;
    std::optional<std::int16_t> expected;
};
void PrintTo(const Int16Case& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class ReadInteger16 : public ::testing::TestWithParam<Int16Case> {};

TEST_P(ReadInteger16, RoundsHalfToEvenWithin16Bits) { EXPECT_EQ(readInteger16(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Values, ReadInteger16,
                         ::testing::Values(Int16Case{"1.5", 2}, Int16Case{"0.5", 0}, Int16Case{"2.5", 2},
                                           Int16Case{"-0.5", 0}, Int16Case{"-1.5", -2}, Int16Case{"23", 23},
                                           Int16Case{"", 0}, Int16Case{"abc", 0}, Int16Case{"&H7FFF", 32767},
                                           Int16Case{"&HFFFF", std::nullopt}, Int16Case{"32767", 32767},
                                           Int16Case{"32767.5", std::nullopt}, Int16Case{"-32768.5", -32768},
                                           Int16Case{"-32768.6", std::nullopt}, Int16Case{"32768", std::nullopt},
                                           Int16Case{"-32769", std::nullopt}, Int16Case{"1e40", std::nullopt},
                                           Int16Case{"1e400", std::nullopt}, Int16Case{"-1e400", std::nullopt}));

}  // namespace
}  // namespace tolvane
