// Standby behind the notification-area icon, with trayer as a real XEmbed
// tray: out of sight but still supervising, back through the icon's
// "Afficher", minimised rather than lost when there is no tray, and no icon
// left behind when Tolvane is asked to end.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/e2e/Desktop.h"
#include "tests/support/e2e/Station.h"

using namespace tolvane::testsupport;
using namespace tolvane::testsupport;

namespace {

constexpr std::uint32_t WithdrawnState = 0;
constexpr std::uint32_t NormalState = 1;
constexpr std::uint32_t IconicState = 3;
const std::string Caption = "^Vantorix: Tools Launcher";

// Tolvane's windows that are on screen (its main window, a menu, a box),
// leaving out the icon docked in the notification area.
std::vector<std::uint32_t> viewableTolvaneWindows(Station& s) {
    auto& probe = s.probe();
    std::vector<std::uint32_t> found;
    std::function<void(std::uint32_t, int)> walk = [&](std::uint32_t w, int depth) {
        const auto name = probe.property(w, "WM_NAME");
        if (name && *name == "panel") return;
        const auto cls = probe.property(w, "WM_CLASS");
        if (cls && cls->find("Tolvane") != std::string::npos && probe.mapState(w) == XProbe::MapState::Viewable)
            found.push_back(w);
        if (depth < 4)
            for (const auto child : probe.children(w)) walk(child, depth + 1);
    };
    walk(probe.root(), 0);
    return found;
}

std::uint32_t idOf(const std::string& window) { return static_cast<std::uint32_t>(std::stoul(window)); }

// ICCCM's WM_STATE as the window manager keeps it: withdrawn when absent.
std::uint32_t wmState(Station& s, const std::string& window) {
    return s.probe().cardinalProperty(idOf(window), "WM_STATE").value_or(WithdrawnState);
}

std::string focusedWindow(Desktop& desk) {
    std::string out = desk.run("xdotool getwindowfocus");
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

void startTrayAndWait(Station& s) {
    s.startTray();
    ASSERT_TRUE(waitUntil([&] { return s.trayAreaAvailable(); }, 10s)) << "trayer did not take the tray";
}

// A right-button click on the icon, again if the first one was lost while
// trayer was still docking it; the menu window once it shows.
std::optional<std::uint32_t> openIconMenu(Station& s, Desktop& desk) {
    std::vector<std::uint32_t> shown;
    for (int attempt = 0; attempt < 3 && shown.empty(); ++attempt) {
        const auto icons = s.trayIconWindows();
        if (icons.size() != 1) return std::nullopt;
        desk.clickClient(std::to_string(icons.front()), 8, 8, 3);
        waitUntil([&] { return !(shown = viewableTolvaneWindows(s)).empty(); }, 2s);
    }
    if (shown.size() != 1) return std::nullopt;
    return shown.front();
}

int exitCode(const Exit& e) { return e.status && WIFEXITED(*e.status) ? WEXITSTATUS(*e.status) : -1; }

}  // namespace

TEST(Standby, WithATrayTheWindowIsHiddenBehindOneIconAndSupervisionGoesOn) {
    Station s;
    startTrayAndWait(s);
    s.setTool(0, "Launch", "1");
    s.setTool(0, "Tempo", "0");
    s.launchAndVerifyEveryMinute(6);
    s.startTolvane({"/VEILLE=true"}, "@2026-12-08 10:00:00 x20");
    Desktop desk(s.display());

    const auto window = desk.waitForWindow(Caption, 10s);
    ASSERT_TRUE(window);
    ASSERT_TRUE(waitUntil([&] { return s.trayIcons() == 1 && viewableTolvaneWindows(s).empty(); }, 10s))
        << "icons: " << s.trayIcons() << ", windows on screen: " << viewableTolvaneWindows(s).size();
    // Hidden, not minimised: nothing of it in a taskbar either.
    EXPECT_NE(wmState(s, *window), IconicState);
    EXPECT_FALSE(waitUntil([&] { return !viewableTolvaneWindows(s).empty() || s.trayIcons() != 1; }, 1s));

    ASSERT_TRUE(s.waitForStarts("VX8_Library", 1, 10s));
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 1, 10s));
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Tools_Data"); }, 5s));
    for (const pid_t pid : s.running("VX8_Tools_Data")) ::kill(pid, SIGKILL);
    EXPECT_TRUE(s.waitForStarts("VX8_Tools_Data", 2, 10s)) << "the verification did not run in standby";
    EXPECT_EQ(s.startsOf("VX8_Library").size(), 1u);
    EXPECT_EQ(s.trayIcons(), 1u);
    EXPECT_TRUE(viewableTolvaneWindows(s).empty());
}

TEST(Standby, AfficherFromTheIconsRightButtonMenuBringsTheWindowBackFocused) {
    Station s;
    startTrayAndWait(s);
    s.startTolvane({"/Veille=True"});
    Desktop desk(s.display());
    const auto window = desk.waitForWindow(Caption, 10s);
    ASSERT_TRUE(window);
    ASSERT_TRUE(waitUntil([&] { return s.trayIcons() == 1 && viewableTolvaneWindows(s).empty(); }, 10s));

    // A left click on the icon opens nothing.
    desk.clickClient(std::to_string(s.trayIconWindows().at(0)), 8, 8, 1);
    EXPECT_FALSE(waitUntil([&] { return !viewableTolvaneWindows(s).empty(); }, 1500ms))
        << "a left click on the icon showed a window";

    const auto menu = openIconMenu(s, desk);
    ASSERT_TRUE(menu) << "the right button opened no menu";
    EXPECT_NE(std::to_string(*menu), *window) << "the right button showed the window instead of the menu";
    EXPECT_FALSE(desk.viewable(*window));
    // The menu has one item, "Afficher"; the menu holds the keyboard.
    desk.run("xdotool key --delay 100 Down Return");

    EXPECT_TRUE(waitUntil([&] { return desk.viewable(*window); }, 5s)) << "Afficher did not show the window";
    EXPECT_TRUE(waitUntil([&] { return focusedWindow(desk) == *window; }, 5s)) << "the window has no focus";
    EXPECT_EQ(wmState(s, *window), NormalState);
    EXPECT_TRUE(waitUntil([&] { return s.trayIcons() == 0; }, 5s)) << "the icon stayed after Afficher";
    EXPECT_EQ(viewableTolvaneWindows(s), std::vector<std::uint32_t>{idOf(*window)}) << "the menu stayed open";
}

TEST(Standby, WithoutTheSwitchTheWindowIsMinimisedAndNoIconIsShown) {
    Station s;
    startTrayAndWait(s);
    s.startTolvane();
    Desktop desk(s.display());
    const auto window = desk.waitForWindow(Caption, 10s);
    ASSERT_TRUE(window);
    EXPECT_TRUE(waitUntil([&] { return wmState(s, *window) == IconicState && !desk.viewable(*window); }, 10s))
        << "WM_STATE " << wmState(s, *window);
    EXPECT_FALSE(waitUntil([&] { return s.trayIcons() > 0; }, 2s)) << "an icon without standby";
}

TEST(Standby, WithNoTrayTheWindowIsMinimisedAndTheIconComesWithTheTray) {
    Station s;
    s.startTolvane({"/Veille=True"});
    Desktop desk(s.display());
    const auto window = desk.waitForWindow(Caption, 10s);
    ASSERT_TRUE(window);
    // Minimised, so the operator can still reach it; hidden it would be lost.
    ASSERT_TRUE(waitUntil([&] { return wmState(s, *window) == IconicState && !desk.viewable(*window); }, 10s))
        << "WM_STATE " << wmState(s, *window);
    EXPECT_FALSE(waitUntil([&] { return wmState(s, *window) != IconicState; }, 1s)) << "the window was hidden";

    startTrayAndWait(s);
    ASSERT_TRUE(waitUntil([&] { return s.trayIcons() == 1; }, 15s)) << "no icon once a tray appeared";

    // And the icon's "Afficher" brings the minimised window back.
    const auto menu = openIconMenu(s, desk);
    ASSERT_TRUE(menu) << "the right button opened no menu";
    desk.run("xdotool key --delay 100 Down Return");
    EXPECT_TRUE(waitUntil([&] { return desk.viewable(*window) && wmState(s, *window) == NormalState; }, 5s));
    EXPECT_TRUE(waitUntil([&] { return s.trayIcons() == 0; }, 5s));
}

TEST(Standby, TerminationRequestLeavesNoIconAndTheToolsRunning) {
    Station s;
    startTrayAndWait(s);
    s.setTool(5, "Launch", "1");
    s.setTool(5, "Tempo", "0");
    const pid_t tolvane = s.startTolvane({"/Veille=True"});
    ASSERT_TRUE(s.waitForStarts("VX8_Player", 1, 10s));
    ASSERT_TRUE(waitUntil([&] { return s.trayIcons() == 1; }, 10s));

    ::kill(tolvane, SIGTERM);
    const auto ended = waitForExit(tolvane, 5s);
    ASSERT_TRUE(ended) << "SIGTERM did not end Tolvane";
    EXPECT_EQ(exitCode(*ended), 0);
    EXPECT_TRUE(waitUntil([&] { return s.trayIcons() == 0; }, 3s)) << "a ghost icon stayed in the tray";
    EXPECT_FALSE(waitUntil([&] { return s.running("VX8_Player").empty(); }, 1s)) << "the tool ended with Tolvane";
}

TEST(Standby, DueSchedulerBatchStartsAsWhenShown) {
    Station s;
    startTrayAndWait(s);
    for (int day = 0; day <= 7; ++day) s.set("CheckSchedulerJour", "Idx_" + std::to_string(day), "1");
    s.set("CheckSchedulerTiming", "Idx_0", "10");
    s.set("CheckSchedulerTiming", "Idx_1", "1");
    s.startTolvane({"/Veille=True"}, "@2026-12-08 10:14:40");
    ASSERT_TRUE(waitUntil([&] { return s.trayIcons() == 1 && viewableTolvaneWindows(s).empty(); }, 10s));

    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Scheduler", 1, 45s)) << "the batch was not started in standby";
    EXPECT_EQ(
        s.startsOf("VX8_Tools_Scheduler").at(0).arguments,
        std::vector<std::string>{"/Batch=J+1<ChargerSquelette:1><NoStation:1><HeureDeb:00><HeureFin:23><OptDuree:1>"});
    EXPECT_EQ(s.trayIcons(), 1u);
    EXPECT_TRUE(viewableTolvaneWindows(s).empty()) << "the batch brought the window back";
}

// The icon is drawn in the real notification area, after "/Veille=True" and
// after "Mettre en veille": its window holds the program's icon, not an
// empty square. And when the area goes away during standby (the panel
// crashed), the window comes back minimised within two seconds, supervision
// goes on, and the icon is docked again as soon as an area comes back.
TEST(Standby, IconIsDrawnAndALostNotificationAreaBringsTheWindowBackMinimised) {
    Station s;
    startTrayAndWait(s);
    s.launchAndVerifyEveryMinute(6);
    s.startTolvane({"/Veille=True"}, "@2026-12-08 10:00:00 x20");
    Desktop desk(s.display());
    const auto window = desk.waitForWindow(Caption, 10s);
    ASSERT_TRUE(window);
    const auto iconDrawn = [&] {
        const auto icons = s.trayIconWindows();
        return icons.size() == 1 && s.probe().colourCount(icons.front()).value_or(0) > 1;
    };
    EXPECT_TRUE(waitUntil(iconDrawn, 10s)) << "the icon after /Veille=True is not drawn";

    // "Afficher", then the window's own "Mettre en veille" button.
    ASSERT_TRUE(openIconMenu(s, desk));
    desk.run("xdotool key --delay 100 Down Return");
    ASSERT_TRUE(waitUntil([&] { return desk.viewable(*window) && s.trayIcons() == 0; }, 5s));
    desk.activate(*window);
    for (int attempt = 0; attempt < 3 && desk.viewable(*window); ++attempt) {
        desk.clickClient(*window, 594, 396);
        waitUntil([&] { return !desk.viewable(*window); }, 2s);
    }
    ASSERT_FALSE(desk.viewable(*window)) << "Mettre en veille did not hide the window";
    EXPECT_TRUE(waitUntil(iconDrawn, 10s)) << "the icon after Mettre en veille is not drawn";

    // The area goes away.
    s.stopTray();
    EXPECT_TRUE(waitUntil([&] { return wmState(s, *window) == IconicState; }, 2500ms))
        << "the window stayed out of reach; WM_STATE " << wmState(s, *window);
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 1, 10s));
    for (const pid_t pid : s.running("VX8_Tools_Data")) ::kill(pid, SIGKILL);
    EXPECT_TRUE(s.waitForStarts("VX8_Tools_Data", 2, 10s)) << "supervision stopped with the area";

    // An area comes back: the icon with it, drawn; the window stays in the
    // taskbar until the operator brings it back.
    startTrayAndWait(s);
    EXPECT_TRUE(waitUntil(iconDrawn, 15s)) << "no drawn icon once an area came back";
    EXPECT_EQ(wmState(s, *window), IconicState);
    // Both changes are in the journal, each once.
    const auto count = [&](const char* pattern) { return linesMatching(s.journalLines(), std::regex(pattern)); };
    EXPECT_TRUE(waitUntil([&] { return count(" 4004 \\[-\\] La zone de notification est de nouveau là$") == 1; }, 5s));
    EXPECT_EQ(count(" 4003 \\[-\\] La zone de notification a disparu"), 1u);
}
