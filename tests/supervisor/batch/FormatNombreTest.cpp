#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "supervisor/batch/FormatNombre.h"

namespace tolvane {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Row {
    double value;
    int width;
    int decimals;
    std::string pad;
    std::string expected;
};
void PrintTo(const Row& r, std::ostream* os) {
    *os << "(" << r.value << ", " << r.width << ", " << r.decimals << ", \"" << r.pad << "\")";
}

class FormatNombreRows : public ::testing::TestWithParam<Row> {};

TEST_P(FormatNombreRows, GivesTheExpectedText) {
    const Row& r = GetParam();
    EXPECT_EQ(FormatNombre(r.value, r.width, r.decimals, r.pad), r.expected);
}

INSTANTIATE_TEST_SUITE_P(ReferenceExamples, FormatNombreRows,
                         ::testing::Values(Row{7, 2, 0, "0", "07"}, Row{123, 2, 0, "0", "23"},
                                           Row{2024, 4, 0, "0", "2024"}, Row{12, 5, 0, "*", "***12"},
                                           Row{5, 3, 0, "", "  5"}, Row{-5, 4, 0, " ", "  -5"},
                                           Row{-5, 2, 0, "0", "-5"}, Row{-15, 2, 0, "0", "-15"},
                                           Row{-1, 2, 0, "0", "-1"}, Row{0.5, 4, 1, " ", " 0.5"},
                                           Row{3.14159, 6, 2, "0", "003.15"}));

INSTANTIATE_TEST_SUITE_P(CutOnTheLeft, FormatNombreRows,
                         ::testing::Values(Row{123456, 3, 0, "0", "456"}, Row{100, 2, 0, " ", "00"},
                                           Row{12345.678, 6, 2, "0", "345.68"}));

INSTANTIATE_TEST_SUITE_P(Negative, FormatNombreRows,
                         ::testing::Values(
                             // Blank-filled: the "-" takes the last blank, right before the digits.
                             Row{-123, 5, 0, " ", " -123"}, Row{-0.5, 4, 1, " ", "-0.5"},
                             // Otherwise it replaces a leading "0" or non-digit pad...
                             Row{-5, 3, 0, "0", "-05"}, Row{-12, 4, 0, "*", "-*12"}, Row{-3.14159, 6, 2, "0", "-03.15"},
                             Row{-0.001, 2, 0, "0", "-0"},
                             // ...and when the field starts with a digit it grows by one.
                             Row{-123, 3, 0, "0", "-123"}, Row{-7, 1, 0, " ", "-7"}, Row{-123, 2, 0, "0", "-23"}));

INSTANTIATE_TEST_SUITE_P(ClampAt2147483647, FormatNombreRows,
                         ::testing::Values(Row{3e9, 10, 0, "0", "2147483647"}, Row{3e9, 4, 0, "0", "3647"},
                                           Row{2147483646.6, 10, 0, "0", "2147483647"},
                                           Row{-3e9, 12, 0, " ", " -2147483647"}, Row{-3e9, 10, 0, "0", "-2147483647"},
                                           Row{1e9, 12, 1, " ", " 214748364.7"}, Row{kInf, 10, 0, " ", "2147483647"},
                                           Row{-kInf, 11, 0, " ", "-2147483647"}));

INSTANTIATE_TEST_SUITE_P(Rounding, FormatNombreRows,
                         ::testing::Values(
                             // 0.005 is added before scaling, then ties go to even: 2.495 + 0.005
                             // is exactly 2.5, giving 2; 1.495 gives 2 as well.
                             Row{2.495, 1, 0, "0", "2"}, Row{1.495, 1, 0, "0", "2"}, Row{2.5, 1, 0, "0", "3"},
                             // With two decimals exact hundredths become ties: 0.30 scales to
                             // 30.5 (even 30), 0.25 to 25.5 (26), 1.50 to 150.5 (150).
                             Row{0.3, 4, 2, "0", "0.30"}, Row{0.25, 4, 2, "0", "0.26"}, Row{1.5, 5, 2, " ", " 1.50"}));

INSTANTIATE_TEST_SUITE_P(DecimalsAndPads, FormatNombreRows,
                         ::testing::Values(
                             // Blanks after the point turn to zeros; below one a zero precedes it.
                             Row{0.071, 5, 2, " ", " 0.08"}, Row{0.071, 6, 3, " ", " 0.076"},
                             Row{0.5, 5, 1, "*", "**0.5"}, Row{12.5, 6, 1, " ", "  12.5"}, Row{0.5, 2, 1, " ", ".5"},
                             Row{12, 5, 0, "*#", "***12"}, Row{0, 3, 0, " ", "  0"}, Row{-0.0, 2, 0, "0", "00"},
                             Row{5, 0, 0, "0", ""}, Row{-5, -3, 0, "0", ""}, Row{7, 2, -1, "0", "07"},
                             Row{7, 2, 12, "0", "07"},
                             // NaN is not >= 0: it is negative, with no digits of its own.
                             Row{std::nan(""), 3, 0, " ", " -0"}));

TEST(FormatNombre, PositiveValuesKeepTheWidth) {
    for (int width = 1; width <= 12; ++width)
        for (int decimals = 0; decimals <= width + 1; ++decimals)
            for (double value : {0.0, 0.04, 1.0, 9.99, 123.456, 1e6})
                EXPECT_EQ(FormatNombre(value, width, decimals, "0").size(), static_cast<std::size_t>(width))
                    << value << " " << width << " " << decimals;
}

}  // namespace
}  // namespace tolvane
