// The memory figures of the tools' boxes and of Tolvane itself.

#include <cstdint>
#include <string>

#include "tests/support/fake/SupervisionFixture.h"

namespace tolvane::testsupport {
namespace {

constexpr std::uint64_t MiB = 1024 * 1024;

class MemoryDisplayTest : public SupervisionTest {
protected:
    // A process of the given executable base name (the suffix is the
    // system's), measuring `bytes` unless nothing is given.
    void process(std::uint32_t pid, const std::string& baseName, std::optional<std::uint64_t> bytes) {
        platform.processes.push_back({pid, baseName + platform::executableSuffix()});
        if (bytes) platform.workingSets[pid] = *bytes;
    }
};

TEST_F(MemoryDisplayTest, EachPlayerShowsItsOwnFigure) {
    process(10, "VX8_Player_A", 40 * MiB);
    process(11, "VX8_Player", 7 * MiB);
    process(12, "VX8_Player_H", 3 * MiB);
    supervision.TimerMemoire_Timer();
    EXPECT_EQ(rows.row(12).memoryText, "40");
    EXPECT_EQ(rows.row(5).memoryText, "7");
    EXPECT_EQ(rows.row(19).memoryText, "3");
    EXPECT_EQ(rows.row(13).memoryText, "");
}

TEST_F(MemoryDisplayTest, ANameThatOnlyContainsABaseNameMatchesNothing) {
    process(20, "VX8_PlayerX", 9 * MiB);
    process(21, "My_VX8_Library", 9 * MiB);
    supervision.TimerMemoire_Timer();
    for (int i = 0; i < ToolCount; ++i) EXPECT_EQ(rows.row(i).memoryText, "") << i;
}

TEST_F(MemoryDisplayTest, ImageNamesCompareWithoutRegardToCase) {
    process(30, "vx8_library", 12 * MiB);
    supervision.TimerMemoire_Timer();
    EXPECT_EQ(rows.row(0).memoryText, "12");
}

TEST_F(MemoryDisplayTest, AnUnreadableProcessShowsAnEmptyBoxNotAnotherFigure) {
    process(40, "VX8_Library", 55 * MiB);  // measured just before
    process(41, "VX8_Tools_Data", std::nullopt);
    supervision.TimerMemoire_Timer();
    EXPECT_EQ(rows.row(0).memoryText, "55");
    EXPECT_EQ(rows.row(6).memoryText, "");
}

TEST_F(MemoryDisplayTest, TwoProcessesOfOneToolShowTheLaterOne) {
    process(50, "VX8_Player_B", 3 * MiB);
    process(51, "VX8_Player_B", 7 * MiB);
    supervision.TimerMemoire_Timer();
    EXPECT_EQ(rows.row(13).memoryText, "7");
}

TEST_F(MemoryDisplayTest, ALaterUnreadableProcessOfTheToolEmptiesItsBox) {
    // The later process decides the box; the earlier one's figure is not
    // that process's figure.
    process(60, "VX8_Player_C", 3 * MiB);
    process(61, "VX8_Player_C", std::nullopt);
    supervision.TimerMemoire_Timer();
    EXPECT_EQ(rows.row(14).memoryText, "");
}

TEST_F(MemoryDisplayTest, FiguresRoundHalvesToEven) {
    process(70, "VX8_Board", MiB + MiB / 2);
    process(71, "VX8_Cartwall", 2 * MiB + MiB / 2);
    process(72, "VX8_Tools_FTP", MiB / 2);
    supervision.TimerMemoire_Timer();
    EXPECT_EQ(rows.row(11).memoryText, "2");
    EXPECT_EQ(rows.row(10).memoryText, "2");
    EXPECT_EQ(rows.row(8).memoryText, "0");
}

TEST_F(MemoryDisplayTest, ToolsNotRunningHaveEmptyBoxesEvenAfterTyping) {
    process(80, "VX8_Library", 5 * MiB);
    supervision.TimerMemoire_Timer();
    for (int i = 1; i < ToolCount; ++i) {
        EXPECT_EQ(rows.row(i).memoryText, "") << i;
        EXPECT_EQ(rows.row(i).memoryWrites, 1) << i;
    }
}

TEST_F(MemoryDisplayTest, AKilledToolEmptiesItsBoxAndComesBack) {
    process(90, "VX8_Player_A", 20 * MiB);
    supervision.TimerMemoire_Timer();
    ASSERT_EQ(rows.row(12).memoryText, "20");
    supervision.CommandKillProcess_Click(12);
    supervision.TimerMemoire_Timer();
    EXPECT_EQ(rows.row(12).memoryText, "");
    process(91, "VX8_Player_A", 21 * MiB);
    supervision.TimerMemoire_Timer();
    EXPECT_EQ(rows.row(12).memoryText, "21");
}

TEST_F(MemoryDisplayTest, OwnFigureIsShownAndIsZeroWhenUnreadable) {
    platform.workingSets[platform.pid] = 31 * MiB + MiB / 2;  // 31.5 -> 32
    supervision.TimerMemoire_Timer();
    EXPECT_EQ(rows.ownMemoryText, "32");
    EXPECT_EQ(supervision.MemoryUsage(), 32);

    platform.workingSets.clear();
    supervision.TimerMemoire_Timer();
    EXPECT_EQ(rows.ownMemoryText, "0");
}

TEST_F(MemoryDisplayTest, OwnProcessIsNeverAToolsFigure) {
    // Tolvane's own process is listed too; it belongs to no tool.
    platform.processes.push_back({platform.pid, std::string("Tolvane") + platform::executableSuffix()});
    platform.workingSets[platform.pid] = 9 * MiB;
    supervision.TimerMemoire_Timer();
    for (int i = 0; i < ToolCount; ++i) EXPECT_EQ(rows.row(i).memoryText, "") << i;
    EXPECT_EQ(rows.ownMemoryText, "9");
}

}  // namespace
}  // namespace tolvane::testsupport
