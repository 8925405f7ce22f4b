#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "supervisor/supervision/ToolRules.h"

namespace tolvane {
namespace {

using namespace std::chrono;

constexpr std::uint64_t MiB = 1024 * 1024;

local_seconds at(int h, int m, int s = 0) {
    return local_days{year{2025} / June / 9} + hours{h} + minutes{m} + seconds{s};
}

// --- Arguments after the executable path -------------------------------------

TEST(ToolArguments, StandbyAppendsTheSwitchAfterTheArguments) {
    EXPECT_EQ(toolArguments(true, "/Batch=J+"), "/Batch=J+ /Veille=True");
}

TEST(ToolArguments, StandbyDoesNotRepeatASwitchAlreadyThereInAnyCase) {
    EXPECT_EQ(toolArguments(true, "/veille=true"), "/veille=true");
    EXPECT_EQ(toolArguments(true, "/NoBase=0 /VEILLE=TRUE /X"), "/NoBase=0 /VEILLE=TRUE /X");
}

TEST(ToolArguments, StandbyWithoutArgumentsIsTheSwitchAlone) { EXPECT_EQ(toolArguments(true, ""), "/Veille=True"); }

TEST(ToolArguments, NoStandbyPassesTheArgumentsUntouched) {
    EXPECT_EQ(toolArguments(false, ""), "");
    EXPECT_EQ(toolArguments(false, "/NoBase=0"), "/NoBase=0");
    // A lone switch is passed on as it is, never removed.
    EXPECT_EQ(toolArguments(false, "/Veille=True"), "/Veille=True");
}

TEST(ToolArguments, SpacesOnlyCountAsArguments) {
    EXPECT_EQ(toolArguments(false, "  "), "  ");
    EXPECT_EQ(toolArguments(true, "  "), "   /Veille=True");
}

TEST(ToolArguments, APartialSwitchIsNotTheSwitch) {
    EXPECT_EQ(toolArguments(true, "/Veille=Tru"), "/Veille=Tru /Veille=True");
    EXPECT_EQ(toolArguments(true, "/Veille=False"), "/Veille=False /Veille=True");
}

TEST(ToolExecutablePath, BaseNameBetweenFolderAndSuffix) {
    EXPECT_EQ(toolExecutablePath("C:\\Vantorix\\", 12, ".exe"), "C:\\Vantorix\\VX8_Player_A.exe");
    EXPECT_EQ(toolExecutablePath("/opt/v/", 0, ""), "/opt/v/VX8_Library");
    EXPECT_EQ(toolExecutablePath("/opt/v/", 29, ""), "/opt/v/VX8_Tools_Speech");
}

TEST(ToolExecutablePath, NothingOutsideTheTable) {
    EXPECT_FALSE(toolExecutablePath("/opt/v/", -1, "").has_value());
    EXPECT_FALSE(toolExecutablePath("/opt/v/", 30, "").has_value());
}

// --- One pass of the launch sequence -----------------------------------------

std::array<LaunchRow, ToolCount> noneTicked() { return {}; }

TEST(LaunchPassRule, NothingTickedIsDoneAtOnce) {
    const LaunchPass pass = launchPass(noneTicked(), 0);
    EXPECT_TRUE(pass.allDone);
    EXPECT_TRUE(pass.handOver.empty());
}

TEST(LaunchPassRule, UntickedRowsNeverHoldTheSequence) {
    auto rows = noneTicked();
    rows[3].delayText = "1e12";  // not ticked: its delay is irrelevant
    const LaunchPass pass = launchPass(rows, 0);
    EXPECT_TRUE(pass.allDone);
    EXPECT_TRUE(pass.handOver.empty());
}

TEST(LaunchPassRule, DelayReachedExactlyHandsOver) {
    auto rows = noneTicked();
    rows[7] = {true, "5000", false};
    EXPECT_EQ(launchPass(rows, 4999).handOver, std::vector<int>{});
    EXPECT_FALSE(launchPass(rows, 4999).allDone);
    EXPECT_EQ(launchPass(rows, 5000).handOver, std::vector<int>{7});
    EXPECT_TRUE(launchPass(rows, 5000).allDone);
}

TEST(LaunchPassRule, TextsThatAreNotNumbersOrAreNegativeMeanNoDelay) {
    for (const char* text : {"0", "", "abc", "-5", "  ", "-1e9"}) {
        auto rows = noneTicked();
        rows[1] = {true, text, false};
        EXPECT_EQ(launchPass(rows, 0).handOver, std::vector<int>{1}) << '"' << text << '"';
    }
}

TEST(LaunchPassRule, DelayIsTheLeadingNumberWithBlanksIgnored) {
    auto rows = noneTicked();
    rows[0] = {true, " 10 000", false};
    EXPECT_TRUE(launchPass(rows, 9999).handOver.empty());
    EXPECT_EQ(launchPass(rows, 10000).handOver, std::vector<int>{0});

    rows[0].delayText = "12a";
    EXPECT_TRUE(launchPass(rows, 11).handOver.empty());
    EXPECT_EQ(launchPass(rows, 12).handOver, std::vector<int>{0});

    rows[0].delayText = "&H10";  // 16 ms
    EXPECT_TRUE(launchPass(rows, 15).handOver.empty());
    EXPECT_EQ(launchPass(rows, 16).handOver, std::vector<int>{0});
}

TEST(LaunchPassRule, FractionalDelayComparedAsARealNumber) {
    auto rows = noneTicked();
    rows[2] = {true, "100.5", false};
    EXPECT_TRUE(launchPass(rows, 100).handOver.empty());
    EXPECT_EQ(launchPass(rows, 101).handOver, std::vector<int>{2});
}

TEST(LaunchPassRule, ElapsedDelaysHandOverInIndexOrder) {
    auto rows = noneTicked();
    rows[20] = {true, "2000", false};
    rows[7] = {true, "2000", false};
    rows[9] = {true, "0", false};
    EXPECT_EQ(launchPass(rows, 2000).handOver, (std::vector<int>{7, 9, 20}));
}

TEST(LaunchPassRule, AToolAlreadyHandedOverIsNotHandedAgainButCountsAsDone) {
    auto rows = noneTicked();
    rows[7] = {true, "0", true};
    const LaunchPass pass = launchPass(rows, 100);
    EXPECT_TRUE(pass.handOver.empty());
    EXPECT_TRUE(pass.allDone);
}

TEST(LaunchPassRule, ADelayNeverReachedKeepsTheSequenceOpenWhileOthersGo) {
    auto rows = noneTicked();
    rows[5] = {true, "1e12", false};
    rows[6] = {true, "0", false};
    const LaunchPass pass = launchPass(rows, 1000LL * 3600 * 24 * 365);
    EXPECT_EQ(pass.handOver, std::vector<int>{6});
    EXPECT_FALSE(pass.allDone);
    // A delay too large to be a number at all never ends it either.
    rows[5].delayText = "1e999";
    EXPECT_FALSE(launchPass(rows, INT64_MAX).allDone);
}

// --- Is a tool due ------------------------------------------------------------

TEST(VerificationDueRule, OnlyATickedBoxAtOrAfterItsTime) {
    const auto next = at(8, 5);
    EXPECT_TRUE(verificationDue(1, at(8, 5), next));
    EXPECT_TRUE(verificationDue(1, at(9, 0), next));
    EXPECT_FALSE(verificationDue(1, at(8, 4, 59), next));
    EXPECT_FALSE(verificationDue(0, at(9, 0), next));
    EXPECT_FALSE(verificationDue(2, at(9, 0), next));  // greyed is not ticked
}

TEST(BoundedNextCheck, PulledBackWhenMoreThanOnePeriodAhead) {
    // The clock went back two hours after the tool was scheduled for 10:05.
    EXPECT_EQ(boundedNextCheck(at(10, 5), at(8, 0), 300), at(8, 5));
}

TEST(BoundedNextCheck, UnchangedWithinOnePeriodOrInThePast) {
    EXPECT_EQ(boundedNextCheck(at(8, 5), at(8, 0), 300), at(8, 5));  // exactly one period
    EXPECT_EQ(boundedNextCheck(at(8, 3), at(8, 0), 300), at(8, 3));
    EXPECT_EQ(boundedNextCheck(at(7, 0), at(8, 0), 300), at(7, 0));  // clock went forward
}

TEST(BoundedNextCheck, NoPeriodNoBound) { EXPECT_EQ(boundedNextCheck(at(23, 0), at(8, 0), std::nullopt), at(23, 0)); }

// --- Which tool a process is ---------------------------------------------------

TEST(ToolForImageName, ExactNameGivesEachPlayerItsOwnTool) {
    EXPECT_EQ(toolForImageName("VX8_Player", ""), 5);
    EXPECT_EQ(toolForImageName("VX8_Player_A", ""), 12);
    EXPECT_EQ(toolForImageName("VX8_Player_H", ""), 19);
    EXPECT_EQ(toolForImageName("VX8_Broadcasters", ""), 4);
    EXPECT_EQ(toolForImageName("VX8_Broadcaster_Backup", ""), 20);
}

TEST(ToolForImageName, NamesThatOnlyContainABaseNameMatchNothing) {
    EXPECT_FALSE(toolForImageName("VX8_PlayerX", "").has_value());
    EXPECT_FALSE(toolForImageName("Old_VX8_Player", "").has_value());
    EXPECT_FALSE(toolForImageName("VX8_Playe", "").has_value());
    EXPECT_FALSE(toolForImageName("", "").has_value());
}

TEST(ToolForImageName, CaseIsIgnoredForNameAndSuffix) {
    EXPECT_EQ(toolForImageName("vx8_player_a", ""), 12);
    EXPECT_EQ(toolForImageName("VX8_PLAYER_A.EXE", ".exe"), 12);
}

TEST(ToolForImageName, TheSuffixIsRequiredWhenTheSystemHasOne) {
    EXPECT_EQ(toolForImageName("VX8_Library.exe", ".exe"), 0);
    EXPECT_FALSE(toolForImageName("VX8_Library", ".exe").has_value());
    EXPECT_FALSE(toolForImageName("VX8_Library.exe", "").has_value());
    EXPECT_FALSE(toolForImageName("VX8_Library.com", ".exe").has_value());
}

TEST(MegabytesHalfEven, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(megabytesHalfEven(MiB + MiB / 2), 2);      // 1.5
    EXPECT_EQ(megabytesHalfEven(2 * MiB + MiB / 2), 2);  // 2.5
    EXPECT_EQ(megabytesHalfEven(3 * MiB + MiB / 2), 4);  // 3.5
    EXPECT_EQ(megabytesHalfEven(MiB / 2), 0);            // 0.5
}

TEST(MegabytesHalfEven, OtherwiseTheNearestWholeMegabyte) {
    EXPECT_EQ(megabytesHalfEven(0), 0);
    EXPECT_EQ(megabytesHalfEven(MiB / 2 + 1), 1);
    EXPECT_EQ(megabytesHalfEven(2 * MiB + MiB / 2 + 1), 3);
    EXPECT_EQ(megabytesHalfEven(23 * MiB), 23);
    EXPECT_EQ(megabytesHalfEven(1536 * MiB), 1536);  // beyond 1 GiB, no overflow of the unit
}

}  // namespace
}  // namespace tolvane
