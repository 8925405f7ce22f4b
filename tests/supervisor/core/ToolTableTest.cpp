#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "supervisor/core/ToolTable.h"

namespace tolvane {
namespace {

TEST(ToolTable, PagesShowTheirToolsInRowOrderEachExactlyOnce) {
    // Top to bottom; -1 is the empty fifth row of "Général".
    const std::map<ToolPage, std::vector<int>> pageRows{
        {ToolPage::General, {0, 1, 2, 3, -1, 4, 10, 11, 20}},
        {ToolPage::Player, {5, 12, 13, 14, 15, 16, 17, 18, 19}},
        {ToolPage::Tools, {6, 7, 8, 9, 21, 22, 23, 24, 25, 26, 27, 28, 29}},
    };
    std::set<std::pair<ToolPage, int>> occupied;
    for (const ToolEntry& t : toolTable())
        EXPECT_TRUE(occupied.insert({t.page, t.row}).second) << t.caption << " shares a row";
    std::size_t shown = 0;
    for (const auto& [page, rows] : pageRows)
        for (std::size_t row = 0; row < rows.size(); ++row) {
            const bool used = occupied.count({page, static_cast<int>(row)}) > 0;
            EXPECT_EQ(used, rows[row] >= 0) << "page " << static_cast<int>(page) << " row " << row;
            if (rows[row] < 0) continue;
            const ToolEntry& t = toolTable()[static_cast<std::size_t>(rows[row])];
            EXPECT_EQ(t.page, page) << t.caption;
            EXPECT_EQ(t.row, static_cast<int>(row)) << t.caption;
            ++shown;
        }
    EXPECT_EQ(shown, static_cast<std::size_t>(ToolCount));
}

TEST(ToolTable, BaseNamesAreDistinctAndLookedUpOnlyInside0To29) {
    std::set<std::string_view> names;
    for (const ToolEntry& t : toolTable()) {
        EXPECT_TRUE(names.insert(t.baseName).second) << t.baseName;
        EXPECT_EQ(t.baseName.find('.'), std::string_view::npos) << "no suffix in " << t.baseName;
    }
    EXPECT_EQ(toolBaseName(2), "VX8_Tools_Scheduler");
    EXPECT_EQ(toolBaseName(3), "VX8_Tools_Planner");
    EXPECT_EQ(toolBaseName(29), "VX8_Tools_Speech");
    EXPECT_EQ(toolBaseName(-1), std::nullopt);
    EXPECT_EQ(toolBaseName(30), std::nullopt);
}

TEST(ToolTable, DefaultArgumentsAreEmptyOnlyForTheBroadcaster) {
    for (int i = 0; i < ToolCount; ++i) EXPECT_EQ(defaultArguments(i), i == 4 ? "" : "/NoBase=0") << "tool " << i;
}

TEST(VerificationPeriods, SevenItemsAndNoPeriodOutside) {
    const std::pair<std::string_view, int> expected[PeriodCount] = {
        {"01 Min", 60},   {"05 Min", 300},  {"10 Min", 600}, {"20 Min", 1200},
        {"30 Min", 1800}, {"40 Min", 2400}, {"60 Min", 3600}};
    for (int i = 0; i < PeriodCount; ++i) {
        EXPECT_EQ(periodItemText(i), expected[i].first);
        EXPECT_EQ(periodSeconds(i), expected[i].second);
    }
    for (int i : {-1, 7, 9}) {
        EXPECT_EQ(periodSeconds(i), std::nullopt) << i;
        EXPECT_EQ(periodItemText(i), "") << i;
    }
}

}  // namespace
}  // namespace tolvane
