// The running test of the Win32 backend (a top-level window titled exactly
// with the tool's name), against real stand-ins: exact titles without regard
// to case, standby windows that are hidden but found, windows titled
// otherwise, programs without a window, and several titles at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/win32/Win32ProcessFixture.h"

namespace tolvane::testsupport {
namespace {

using testing::ElementsAre;
using tolvane::platform::ShowState;

using Win32Windows = Win32ProgramTest;

TEST_F(Win32Windows, TitlesMatchExactlyWithoutRegardToCase) {
    ASSERT_TRUE(startAndLog(m_folder.addStandin("VX8_Player_A"), ""));
    EXPECT_TRUE(waitUntil([&] { return m_platform->topLevelWindowExists("VX8_Player_A"); }, 20s));
    EXPECT_TRUE(m_platform->topLevelWindowExists("vx8_player_a"));
    EXPECT_TRUE(m_platform->topLevelWindowExists("VX8_PLAYER_A"));
    EXPECT_FALSE(m_platform->topLevelWindowExists("VX8_Player"));  // a prefix is not the title
    EXPECT_FALSE(m_platform->topLevelWindowExists("VX8_Player_A "));
    EXPECT_FALSE(m_platform->topLevelWindowExists("VX8_Player_A.exe"));
    EXPECT_FALSE(m_platform->topLevelWindowExists("VX8_Player_\xFF"));  // not UTF-8: no window can carry it
}

TEST_F(Win32Windows, AStandbyWindowIsHiddenButFound) {
    for (const char* standby : {"/Veille=True", "/NoBase=0 /veille=TRUE"}) {
        const std::string name = std::string("VX8_Standby_") + (standby[1] == 'V' ? "1" : "2");
        const auto line = startAndLog(m_folder.addStandin(name), standby, ShowState::Minimised);
        ASSERT_TRUE(line) << standby;
        EXPECT_TRUE(m_platform->topLevelWindowExists(name)) << standby;
        const auto window = findWindow(name);
        ASSERT_TRUE(window) << standby;
        EXPECT_FALSE(window->visible) << standby;
        EXPECT_EQ(static_cast<long>(window->ownerPid), line->pid);
    }
}

TEST_F(Win32Windows, AProgramTitledOtherwiseOrWithoutAWindowIsNotRunning) {
    const auto renamed = m_folder.addStandin("VX8_Planner");
    writeFile(renamed + ".standin", "title=Planificateur\n");
    const auto windowless = m_folder.addStandin("VX8_Scheduler");
    writeFile(windowless + ".standin", "nowindow=1\n");
    const auto renamedLine = startAndLog(renamed, "");
    const auto windowlessLine = startAndLog(windowless, "");
    ASSERT_TRUE(renamedLine && windowlessLine);

    EXPECT_TRUE(m_platform->topLevelWindowExists("Planificateur"));
    EXPECT_FALSE(m_platform->topLevelWindowExists("VX8_Planner"));
    EXPECT_FALSE(m_platform->topLevelWindowExists("VX8_Scheduler"));
    EXPECT_TRUE(processAlive(static_cast<std::uint32_t>(windowlessLine->pid)));
}

TEST_F(Win32Windows, AnAccentedTitleIsFound) {
    ASSERT_TRUE(startAndLog(m_folder.addStandin("Lecteur \xC3\x89t\xC3\xA9"), ""));
    EXPECT_TRUE(m_platform->topLevelWindowExists("Lecteur \xC3\x89t\xC3\xA9"));
    EXPECT_TRUE(m_platform->topLevelWindowExists("LECTEUR \xC3\x89T\xC3\x89"));
    EXPECT_FALSE(m_platform->topLevelWindowExists("Lecteur Ete"));
}

TEST_F(Win32Windows, SeveralTitlesAreAnsweredInOrderAndAKilledToolsWindowIsGone) {
    ASSERT_TRUE(startAndLog(m_folder.addStandin("VX8_Library"), ""));
    ASSERT_TRUE(startAndLog(m_folder.addStandin("VX8_Prod"), ""));
    EXPECT_THAT(m_platform->topLevelWindowsExist({"VX8_Library", "VX8_Missing", "vx8_prod", ""}),
                ElementsAre(true, false, true, false));

    m_platform->killProcessesNamed("VX8_Library");
    ASSERT_TRUE(waitUntilGone("VX8_Library"));
    EXPECT_THAT(m_platform->topLevelWindowsExist({"VX8_Library", "VX8_Prod"}), ElementsAre(false, true));
}

// A stand-in that stops taking its messages is called not responding by the
// system once its thread has not asked for one for five seconds, and
// answers again once it takes them again; one beside it that keeps taking
// them answers throughout. What no window carries is unknown.
TEST_F(Win32Windows, AWindowThatStopsTakingItsMessagesIsNotAnsweringUntilItTakesThemAgain) {
    using tolvane::platform::WindowResponse;
    using Responses = std::vector<WindowResponse>;
    constexpr auto kAnswers = WindowResponse::Answers;
    constexpr auto kNotAnswering = WindowResponse::NotAnswering;
    constexpr auto kUnknown = WindowResponse::Unknown;
    // Names no other test uses: a kill by name reaches every copy of a name.
    const auto frozen = m_folder.addStandin("freeze_probe_frozen");
    writeFile(frozen + ".standin", "freeze_after_ms=2000\nfreeze_for_ms=10000\n");
    ASSERT_TRUE(startAndLog(m_folder.addStandin("freeze_probe_live"), ""));
    ASSERT_TRUE(startAndLog(frozen, ""));
    const std::vector<std::string> titles = {"freeze_probe_live", "FREEZE_PROBE_FROZEN", "freeze_probe_absent", "",
                                             "freeze_probe_\xFF"};

    // Five seconds without taking a message have not passed yet.
    EXPECT_THAT(m_platform->windowsResponse(titles), ElementsAre(kAnswers, kAnswers, kUnknown, kUnknown, kUnknown));

    const auto askUntilFrozenIs = [&](WindowResponse wanted) {
        std::vector<Responses> asked;
        const bool reached = waitUntil(
            [&] {
                asked.push_back(m_platform->windowsResponse(titles));
                return asked.back()[1] == wanted;
            },
            30s);
        for (const auto& r : asked) {
            EXPECT_EQ(r[0], kAnswers);
            EXPECT_EQ(r[2], kUnknown);
        }
        return reached;
    };
    EXPECT_TRUE(askUntilFrozenIs(kNotAnswering));
    EXPECT_TRUE(askUntilFrozenIs(kAnswers));
}

}  // namespace
}  // namespace tolvane::testsupport
