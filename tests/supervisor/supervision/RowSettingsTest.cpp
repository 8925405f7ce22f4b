// Every edit of a tool row is written to the store at once, under its
// section and the tool's key.

#include <string>
#include <utility>
#include <vector>

#include "tests/support/fake/SupervisionFixture.h"

namespace tolvane::testsupport {
namespace {

using Write = std::pair<MemorySettingsStore::Key, std::string>;

Write write(const std::string& section, const std::string& key, const std::string& value) {
    return {{section, key}, value};
}

class RowSettingsTest : public SupervisionTest {};

TEST_F(RowSettingsTest, LaunchBox) {
    rows.row(7).launch = 1;
    supervision.CheckLaunchWindows_Click(7);
    rows.row(7).launch = 0;
    supervision.CheckLaunchWindows_Click(7);
    EXPECT_EQ(settings.writes, (std::vector<Write>{write("Launch", "Idx_7", "1"), write("Launch", "Idx_7", "0")}));
}

TEST_F(RowSettingsTest, MinimiserBoxKeepsTheGreyedState) {
    rows.row(29).minimiser = 2;
    supervision.CheckMinimiser_Click(29);
    EXPECT_EQ(settings.writes, std::vector<Write>{write("Minimiser", "Idx_29", "2")});
}

TEST_F(RowSettingsTest, DelayWrittenKeystrokeByKeystrokeAsTyped) {
    for (const char* text : {"", "1", "15", "150", "1500", "15000", "12a"}) {
        rows.row(0).tempo = text;
        supervision.TexteTemporisation_Change(0);
    }
    EXPECT_EQ(settings.writes, (std::vector<Write>{write("Tempo", "Idx_0", ""), write("Tempo", "Idx_0", "1"),
                                                   write("Tempo", "Idx_0", "15"), write("Tempo", "Idx_0", "150"),
                                                   write("Tempo", "Idx_0", "1500"), write("Tempo", "Idx_0", "15000"),
                                                   write("Tempo", "Idx_0", "12a")}));
}

TEST_F(RowSettingsTest, ArgumentsStoredWithTheirSpaces) {
    rows.row(11).arguments = "  /NoBase=0 ";
    supervision.TexteArguments_Change(11);
    EXPECT_EQ(settings.values.at({"Arguments", "Idx_11"}), "  /NoBase=0 ");
}

TEST_F(RowSettingsTest, PeriodStoresTheListIndexAfterShowingTheNewTime) {
    rows.row(3).period = 3;  // "20 Min"
    supervision.ComboFrequenceVerification_Click(3);
    EXPECT_EQ(settings.writes, std::vector<Write>{write("Freq", "Idx_3", "3")});
    EXPECT_EQ(supervision.NextCheck[3], at(2025, 6, 9, 8, 20, 0));
    EXPECT_EQ(rows.row(3).nextCheckText, "08:20:00");
    EXPECT_EQ(rows.row(3).writesBeforeNextCheckText, 0u);  // label first, then the write
}

TEST_F(RowSettingsTest, PeriodWithoutSelectionKeepsNextCheck) {
    rows.row(3).period = -1;
    supervision.NextCheck[3] = at(2025, 6, 9, 7, 45, 0);
    supervision.ComboFrequenceVerification_Click(3);
    EXPECT_EQ(supervision.NextCheck[3], at(2025, 6, 9, 7, 45, 0));
    EXPECT_EQ(rows.row(3).nextCheckText, "07:45:00");
    EXPECT_EQ(settings.values.at({"Freq", "Idx_3"}), "-1");
}

TEST_F(RowSettingsTest, VerifyBoxWritesThenShows) {
    rows.row(5).check = 1;
    supervision.CheckCheck_Click(5);
    EXPECT_EQ(settings.writes, std::vector<Write>{write("Check", "Idx_5", "1")});
    EXPECT_EQ(rows.row(5).verificationVisible, true);
    EXPECT_EQ(rows.row(5).writesBeforeVisibility, 1u);
}

TEST_F(RowSettingsTest, VerifyBoxWritesThenHides) {
    rows.row(5).check = 0;
    supervision.CheckCheck_Click(5);
    EXPECT_EQ(settings.values.at({"Check", "Idx_5"}), "0");
    EXPECT_EQ(rows.row(5).verificationVisible, false);
    EXPECT_EQ(rows.row(5).writesBeforeVisibility, 1u);
}

TEST_F(RowSettingsTest, GreyedVerifyBoxNeitherShowsNorHides) {
    rows.row(5).check = 2;
    supervision.CheckCheck_Click(5);
    EXPECT_EQ(settings.values.at({"Check", "Idx_5"}), "2");
    EXPECT_EQ(rows.row(5).visibilityChanges, 0);
}

TEST_F(RowSettingsTest, VerifyBoxShowsEvenWhenTheWriteFails) {
    settings.refuseWrites = true;
    rows.row(5).check = 1;
    supervision.CheckCheck_Click(5);
    EXPECT_EQ(rows.row(5).verificationVisible, true);
}

TEST_F(RowSettingsTest, VerifyBoxLeavesNextCheckAlone) {
    const auto before = at(2025, 6, 9, 6, 0, 0);
    supervision.NextCheck[5] = before;
    rows.row(5).check = 1;
    supervision.CheckCheck_Click(5);
    EXPECT_EQ(supervision.NextCheck[5], before);
}

TEST_F(RowSettingsTest, EachRowWritesItsOwnKey) {
    for (int i = 0; i < ToolCount; ++i) {
        rows.row(i).launch = i % 2;
        supervision.CheckLaunchWindows_Click(i);
    }
    ASSERT_EQ(settings.writes.size(), 30u);
    EXPECT_EQ(settings.values.at({"Launch", "Idx_0"}), "0");
    EXPECT_EQ(settings.values.at({"Launch", "Idx_10"}), "0");
    EXPECT_EQ(settings.values.at({"Launch", "Idx_29"}), "1");
}

TEST_F(RowSettingsTest, IndexesOutsideTheTableWriteNothing) {
    for (const int i : {-1, 30}) {
        supervision.CheckLaunchWindows_Click(i);
        supervision.CheckMinimiser_Click(i);
        supervision.TexteTemporisation_Change(i);
        supervision.TexteArguments_Change(i);
        supervision.CheckCheck_Click(i);
        supervision.ComboFrequenceVerification_Click(i);
    }
    EXPECT_TRUE(settings.writes.empty());
}

}  // namespace
}  // namespace tolvane::testsupport
