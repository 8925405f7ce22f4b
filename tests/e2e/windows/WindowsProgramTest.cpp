// The real Tolvane.exe and Krandel.exe, as a station installs them, under
// wine: thirty Win32 stand-ins named after the suite's tools beside them in
// "C:\Program Files\Vantorix Été\", the settings in the registry, a French
// user, an X server and openbox of their own. One prefix serves every test
// of this binary (making one costs seconds); each test starts from an empty
// registry key and an empty start log, and ends every program it started.
//
// The wall clock: libfaketime does reach into wine. Preloaded into the wine
// loader, it moves and speeds up what GetLocalTime gives the program (wine
// reads the real-time clock in the program's own process), while GetTickCount
// and the timers go on in real time (wine takes them from the monotonic clock
// and the server). So the "01 Min" verification takes three seconds at twenty
// times the speed here, and the 04:07 restart is reached by starting the
// clock just before it. A due batch, which the same 30-second tick starts
// through the same launch as "Tester maintenant" (checked here), stays with
// the Linux tests.
//
// What wine does differently from Windows, and how the checks take it:
// - Without an X notification area, wine's explorer keeps the icons in a
//   small window of its own ("Wine System Tray"), shown while it holds one;
//   that is the notification area here. With a real XEmbed tray (trayer),
//   wine docks the icon into it instead, but in our trials the docked icon
//   never brought up the program's menu on a right click (Qt asks for the
//   version-4 context-menu notification; wine 8's docked icon did not
//   deliver it), so "Afficher" is clicked through wine's own tray window,
//   and with trayer only the docking is checked.
// - A program's working set reads far higher than on Windows: the memory
//   boxes are checked for showing a figure, never for its value.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <QSettings>

#include "e2e/Desktop.h"
#include "e2e/Station.h"
#include "e2e/windows/WineStation.h"
#include "standin/StandinLog.h"
#include "support/Processes.h"
#include "support/TempFolder.h"
#include "support/XServer.h"

using namespace tolvane::e2e;
using namespace tolvane::testsupport;
using tolvane::standin::StandinLogLine;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string Folder = "C:\\Program Files\\Vantorix Été";
const std::string SettingsKey = "HKCU\\Software\\Vantorix\\Tolvane";
const std::string Question = "^Vantorix : Tools Launcher$";
const std::string DefaultBatch = "/Batch=J+1<ChargerSquelette:1><NoStation:1><HeureDeb:00><HeureFin:23><OptDuree:1>";

constexpr std::uint32_t NormalState = 1;
constexpr std::uint32_t IconicState = 3;

// Client points of the main window. The tab control stands in the client
// area's corner and every page places its controls in twips from that
// corner (1 px = 15 twips), so these follow from the window's layout tables;
// the tab captions' places depend on the font wine gives, measured once.
struct Point {
    int x, y;
};
constexpr Point GeneralTab{36, 10};
constexpr Point PlayerTab{91, 10};
constexpr Point BatchTab{193, 10};
constexpr Point TesterMaintenant{(9180 + 60 + 750) / 15, (420 + 360 + 150) / 15};
Point killButton(int row) { return {(1380 + 270) / 15, (900 + 360 * row + 150) / 15}; }
struct Box {
    int x, y, width, height;
};
// Inside the frame of a row's memory box, and the row's next-verification
// label.
Box memoryBox(int row) { return {10260 / 15 + 3, (900 + 360 * row) / 15 + 3, 675 / 15 - 6, 285 / 15 - 6}; }
Box killCaption(int row) { return {1380 / 15 + 3, (900 + 360 * row) / 15 + 3, 555 / 15 - 6, 315 / 15 - 6}; }
Box nextCheckLabel(int row) { return {8520 / 15, (900 + 360 * row + 60) / 15, 630 / 15, 195 / 15}; }

std::string escapeRegex(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// The stamp the Windows build was made with: its caption must show it.
std::string windowsVersionStamp() {
    std::ifstream in(WineStation::windowsBuild() + "/generated/tolvane_version.h");
    std::string line;
    std::smatch m;
    while (std::getline(in, line))
        if (std::regex_search(line, m, std::regex(R"(TOLVANE_VERSION_STAMP\s+"([^"]+)\")"))) return m[1];
    return {};
}

std::string caption() { return "^Vantorix: Tools Launcher - " + escapeRegex(windowsVersionStamp()) + "$"; }

std::string standinExe() {
    for (const char* place : {"/standin/win32/standin.exe", "/bin/standin.exe"}) {
        const std::string path = WineStation::windowsBuild() + place;
        if (fs::exists(path)) return path;
    }
    return WineStation::windowsBuild() + "/standin/win32/standin.exe";
}

std::string fakeTimeLibrary() {
    for (const char* path : {"/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1", "/usr/lib/faketime/libfaketime.so.1"})
        if (::access(path, R_OK) == 0) return path;
    return "libfaketime.so.1";
}

std::uint32_t idOf(const std::string& window) { return static_cast<std::uint32_t>(std::stoul(window)); }

// Pixels darker than the widgets' grey inside a rectangle of a window's
// client area: text drawn there. Nothing when the server gives no image.
std::optional<int> darkPixels(const std::string& display, const std::string& window, const Box& box) {
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    std::optional<int> count;
    if (!xcb_connection_has_error(c)) {
        auto* image = xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, idOf(window), static_cast<std::int16_t>(box.x),
                          static_cast<std::int16_t>(box.y), static_cast<std::uint16_t>(box.width),
                          static_cast<std::uint16_t>(box.height), ~0u),
            nullptr);
        const auto expected = static_cast<int>(box.width * box.height * 4);
        if (image && xcb_get_image_data_length(image) == expected) {
            const std::uint8_t* bytes = xcb_get_image_data(image);
            int dark = 0;
            for (int at = 0; at < expected; at += 4)
                if (bytes[at] < 96 && bytes[at + 1] < 96 && bytes[at + 2] < 96) ++dark;
            count = dark;
        }
        std::free(image);
    }
    xcb_disconnect(c);
    return count;
}

bool showsText(const std::string& display, const std::string& window, const Box& box) {
    return darkPixels(display, window, box).value_or(0) > 0;
}

bool showsNothing(const std::string& display, const std::string& window, const Box& box) {
    return darkPixels(display, window, box) == 0;
}

// The command line wine was given, without the empty slots it pads it with.
std::vector<std::string> trimmed(std::vector<std::string> args) {
    while (!args.empty() && args.back().empty()) args.pop_back();
    return args;
}

class WindowsProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        adoptOrphans();
        try {
            s_wine = new WineStation;
        } catch (const std::exception& e) {
            s_error = e.what();
            return;
        }
        // The station's folder: Tolvane, Krandel and their notice as
        // deployed, and a stand-in under each tool's name.
        const std::string folder = s_wine->hostPath(Folder);
        fs::create_directories(folder);
        const std::string deploy = WineStation::windowsBuild() + "/deploy";
        if (fs::exists(deploy))
            for (const auto& entry : fs::directory_iterator(deploy))
                copyInto(entry.path(), folder + "/" + entry.path().filename().string());
        // Real copies, not hard links: wine names a process by the first
        // path it mapped of a file, so links of one file would all read as
        // one tool in the process list (and to taskkill).
        if (fs::exists(standinExe()))
            for (const auto& name : toolNames()) copyInto(standinExe(), folder + "/" + name + ".exe");
    }

    static void TearDownTestSuite() {
        delete s_wine;
        s_wine = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(s_wine, nullptr) << "no wine station: " << s_error;
        ASSERT_TRUE(fs::exists(hostFile("Tolvane.exe"))) << "no Tolvane.exe in " << WineStation::windowsBuild()
                                                         << "/deploy (scripts/build-windows)";
        ASSERT_TRUE(fs::exists(hostFile("Krandel.exe")));
        ASSERT_TRUE(fs::exists(hostFile("VX8_Library.exe"))) << "no Win32 stand-in: " << standinExe();
        ASSERT_FALSE(windowsVersionStamp().empty());
        s_wine->run({"reg", "delete", "HKCU\\Software\\Vantorix", "/f"});
        ASSERT_FALSE(s_wine->regValue(SettingsKey + "\\Launch", "Idx_0")) << "the settings key was not emptied";
        fs::remove(hostFile("standin.log"));
        s_wine->x().makeCurrent();
    }

    void TearDown() override {
        if (!s_wine) return;
        endEverything();
        stopTray();
    }

    static std::string hostFile(const std::string& name) { return s_wine->hostPath(Folder + "\\" + name); }
    const std::string& display() const { return s_wine->display(); }

    void setTool(int tool, const std::string& section, const std::string& value) {
        set(section, "Idx_" + std::to_string(tool), value);
    }
    void set(const std::string& section, const std::string& name, const std::string& value) {
        ASSERT_TRUE(s_wine->regSet(SettingsKey + "\\" + section, name, value)) << section << "\\" << name;
    }

    // A program of the folder under wine; fakeTime is a libfaketime FAKETIME
    // value, with the monotonic clock left real as on Linux.
    pid_t startProgram(const std::string& exe, const std::vector<std::string>& arguments = {},
                       const std::optional<std::string>& fakeTime = std::nullopt) {
        if (fakeTime) {
            ::setenv("LD_PRELOAD", fakeTimeLibrary().c_str(), 1);
            ::setenv("FAKETIME", fakeTime->c_str(), 1);
            ::setenv("FAKETIME_DONT_FAKE_MONOTONIC", "1", 1);
            // File times stay real: wine compares them to its prefix's.
            ::setenv("NO_FAKE_STAT", "1", 1);
        }
        const pid_t pid = s_wine->start(Folder + "\\" + exe, arguments);
        for (const char* name : {"LD_PRELOAD", "FAKETIME", "FAKETIME_DONT_FAKE_MONOTONIC", "NO_FAKE_STAT"})
            ::unsetenv(name);
        return pid;
    }
    pid_t startTolvane(const std::vector<std::string>& arguments = {},
                       const std::optional<std::string>& fakeTime = std::nullopt) {
        return startProgram("Tolvane.exe", arguments, fakeTime);
    }

    std::vector<StandinLogLine> log() const { return tolvane::standin::readLogFile(hostFile("standin.log")); }
    std::vector<StandinLogLine> startsOf(const std::string& tool) const {
        std::vector<StandinLogLine> lines;
        for (auto& line : log())
            if (line.executableName == tool + ".exe") lines.push_back(line);
        return lines;
    }
    bool waitForStarts(const std::string& tool, std::size_t count, std::chrono::milliseconds timeout) const {
        return waitUntil([&] { return startsOf(tool).size() >= count; }, timeout);
    }
    std::vector<pid_t> running(const std::string& exe) const { return s_wine->processes(exe); }

    // Tolvane.exe from the folder with "/Base=Current" alone. A process seen
    // at its very start still shows the wine loader before the program's
    // path; it reads as the program a moment later.
    ::testing::AssertionResult startedWithBaseCurrent(pid_t pid) {
        const std::vector<std::string> expected{Folder + "\\Tolvane.exe", "/Base=Current"};
        std::vector<std::string> seen;
        if (waitUntil([&] { return (seen = trimmed(s_wine->commandLine(pid))) == expected; }, 5s))
            return ::testing::AssertionSuccess();
        auto failure = ::testing::AssertionFailure() << "command line:";
        for (const auto& arg : seen) failure << " [" << arg << "]";
        return failure;
    }

    void endEverything() {
        std::vector<std::string> exes{"Tolvane.exe", "Krandel.exe"};
        for (const auto& name : toolNames()) exes.push_back(name + ".exe");
        const auto anyLeft = [&] {
            for (const auto& exe : exes)
                if (!running(exe).empty()) return true;
            return false;
        };
        for (int round = 0; round < 3 && anyLeft(); ++round) {
            for (const auto& exe : exes)
                for (const pid_t pid : running(exe)) ::kill(pid, SIGKILL);
            waitUntil([&] { return !anyLeft(); }, 5s);
        }
        EXPECT_FALSE(anyLeft()) << "a program of the folder outlived the test";
        reapExitedChildren();
    }

    // The main window, the X way: its WM_STATE as openbox keeps it.
    std::uint32_t wmState(const std::string& window) {
        XProbe probe(display());
        return probe.cardinalProperty(idOf(window), "WM_STATE").value_or(0);
    }

    // The program's windows on screen other than `except` (its menus).
    std::vector<std::string> otherShownWindows(Desktop& desk, const std::string& except) {
        std::istringstream ids(desk.run("xdotool search --onlyvisible --class '^tolvane\\.exe$'"));
        std::vector<std::string> found;
        for (std::string id; ids >> id;)
            if (id != except) found.push_back(id);
        return found;
    }

    // Brings the minimised main window up at a known place, on the page
    // asked for: a click on a tab of a window wine has just mapped can be
    // lost, so it is clicked until the page shows what only it has.
    bool showPage(Desktop& desk, const std::string& window, Point tab, const std::function<bool()>& pageShown) {
        desk.activate(window);
        for (int attempt = 0; attempt < 4; ++attempt) {
            desk.clickClient(window, tab.x, tab.y);
            if (waitUntil(pageShown, 2s)) return true;
        }
        return false;
    }
    // "Général" has no fifth row, "Player" has nine rows, the "Batch" page
    // has "Tester maintenant" where the tool pages have nothing.
    bool generalShown(const std::string& w) {
        return showsText(display(), w, killCaption(0)) && showsNothing(display(), w, killCaption(4));
    }
    bool playerShown(const std::string& w) {
        return showsText(display(), w, killCaption(4)) && showsNothing(display(), w, killCaption(9));
    }
    bool batchShown(const std::string& w) {
        return showsText(display(), w, {TesterMaintenant.x - 45, TesterMaintenant.y - 6, 90, 12}) &&
               showsNothing(display(), w, killCaption(4));
    }

    void startTray() {
        m_tray = spawnChild("/usr/bin/trayer", {"trayer", "--edge", "top", "--align", "left", "--widthtype", "request",
                                                "--height", "32"});
    }
    void stopTray() {
        if (m_tray <= 0) return;
        ::kill(m_tray, SIGKILL);
        waitForExit(m_tray, 5s);
        m_tray = -1;
    }
    bool trayAreaAvailable() { return trayAreaOwned(display()); }
    // Icons wine has docked into trayer's panel (windows of wine's explorer,
    // which draws every program's icon).
    std::size_t dockedIcons() {
        XProbe probe(display());
        std::size_t icons = 0;
        std::function<void(std::uint32_t, int, bool)> walk = [&](std::uint32_t w, int depth, bool inPanel) {
            const auto name = probe.property(w, "WM_NAME");
            inPanel = inPanel || (name && *name == "panel");
            const auto cls = probe.property(w, "WM_CLASS");
            if (inPanel && cls && cls->find("explorer.exe") != std::string::npos &&
                probe.mapState(w) == XProbe::MapState::Viewable)
                ++icons;
            if (depth < 6)
                for (const auto child : probe.children(w)) walk(child, depth + 1, inPanel);
        };
        walk(probe.root(), 0, false);
        return icons;
    }

    static WineStation* s_wine;
    static std::string s_error;
    pid_t m_tray = -1;
};

WineStation* WindowsProgram::s_wine = nullptr;
std::string WindowsProgram::s_error;

// The INI file the Linux Tolvane writes on its first run, read back.
RegistryTree linuxFirstRunSettings() {
    TempFolder config;
    const std::string ini = config.path() + "/Vantorix/Tolvane.ini";
    const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::unsetenv("DISPLAY");
    const pid_t tolvane = spawnChild(TOLVANE_LINUX_BINARY, {TOLVANE_LINUX_BINARY});
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("QT_QPA_PLATFORM");
    if (!display.empty()) ::setenv("DISPLAY", display.c_str(), 1);
    // The Planner's day count is the last setting loading writes.
    waitUntil([&] { return QSettings(QString::fromStdString(ini), QSettings::IniFormat).contains("CheckPlannerNbJour/Index"); },
              20s);
    ::kill(tolvane, SIGTERM);
    if (!waitForExit(tolvane, 10s)) {
        ::kill(tolvane, SIGKILL);
        waitForExit(tolvane, 5s);
    }
    RegistryTree tree;
    QSettings settings(QString::fromStdString(ini), QSettings::IniFormat);
    for (const QString& section : settings.childGroups()) {
        settings.beginGroup(section);
        for (const QString& key : settings.childKeys())
            tree[section.toStdString()][key.toStdString()] = settings.value(key).toString().toStdString();
        settings.endGroup();
    }
    return tree;
}

}  // namespace

TEST_F(WindowsProgram, CaptionMinimisedStartStandbyBehindTheIconAndTheFrenchQuitQuestion) {
    Desktop desk(display());

    // Without a switch: the caption with the build's stamp, minimised.
    const pid_t first = startTolvane();
    auto window = desk.waitForWindow(caption(), 30s);
    ASSERT_TRUE(window) << "no window captioned " << caption();
    EXPECT_TRUE(waitUntil([&] { return wmState(*window) == IconicState && !desk.viewable(*window); }, 10s))
        << "WM_STATE " << wmState(*window);

    // A second start by hand (one Tolvane per user and settings) ends at
    // once and brings the running one's window back from the taskbar.
    const auto second = waitForExit(startTolvane(), 30s);
    ASSERT_TRUE(second) << "the second Tolvane.exe kept running";
    EXPECT_EQ(second->status.value_or(-1), 0);
    EXPECT_TRUE(waitUntil([&] { return wmState(*window) == NormalState && desk.viewable(*window); }, 10s))
        << "the running Tolvane stayed minimised; WM_STATE " << wmState(*window);
    EXPECT_EQ(running("Tolvane.exe").size(), 1u);

    // The close box asks, in French: the buttons' mnemonics are "O"ui and
    // "N"on, and a message box takes them without Alt. "y" (an English
    // "Yes") answers nothing; "o" quits.
    desk.closeWindow(*window);
    auto question = desk.waitForWindow(Question, 10s);
    ASSERT_TRUE(question) << "the close box did not ask";
    desk.key(*question, "y");
    EXPECT_TRUE(staysAlive(first, 1500ms)) << "\"y\" answered the question: the buttons are not French";
    EXPECT_TRUE(desk.findWindow(Question));
    desk.key(*question, "o");
    const auto ended = waitForExit(first, 10s);
    ASSERT_TRUE(ended) << "\"o\" (Oui) did not end Tolvane";
    EXPECT_EQ(ended->status.value_or(-1), 0);

    // "/Veille=True", any case, no X tray: hidden (not minimised) behind
    // the icon in wine's own notification area.
    const pid_t hidden = startTolvane({"/veille=TRUE"});
    window = desk.waitForWindow(caption(), 30s);
    ASSERT_TRUE(window);
    std::optional<std::string> tray;
    ASSERT_TRUE(waitUntil(
        [&] {
            tray = desk.findWindow("^Wine System Tray$");
            return tray && desk.viewable(*tray) && !desk.viewable(*window);
        },
        15s))
        << "no icon in wine's notification area, or the window is still shown";
    EXPECT_NE(wmState(*window), IconicState) << "minimised instead of hidden";
    EXPECT_TRUE(otherShownWindows(desk, *window).empty());

    // A right click on the icon (the first place of wine's tray window)
    // opens the menu; its only item is "Afficher".
    std::vector<std::string> menu;
    for (int attempt = 0; attempt < 3 && menu.empty(); ++attempt) {
        desk.clickClient(*tray, 10, 10, 3);
        waitUntil([&] { return !(menu = otherShownWindows(desk, *window)).empty(); }, 3s);
    }
    ASSERT_EQ(menu.size(), 1u) << "the right button opened no menu";
    EXPECT_FALSE(desk.viewable(*window));
    // Wine's menus do not take xdotool's keys: "Afficher" is clicked.
    desk.clickClient(menu.front(), 20, 12);
    EXPECT_TRUE(waitUntil([&] { return desk.viewable(*window) && wmState(*window) == NormalState; }, 10s))
        << "Afficher did not bring the window back";
    EXPECT_TRUE(waitUntil([&] { return !desk.viewable(*tray); }, 10s)) << "the icon stayed after Afficher";
    EXPECT_TRUE(otherShownWindows(desk, *window).empty()) << "the menu stayed open";
    ::kill(hidden, SIGKILL);
    ASSERT_TRUE(waitForExit(hidden, 10s));

    // With a real XEmbed tray wine docks the icon there, and the window is
    // hidden all the same. (Its menu is not reached through the docked icon
    // under wine; see the top of this file.)
    startTray();
    ASSERT_TRUE(waitUntil([&] { return trayAreaAvailable(); }, 10s)) << "trayer did not take the tray";
    startTolvane({"/Veille=True"});
    window = desk.waitForWindow(caption(), 30s);
    ASSERT_TRUE(window);
    // Only the docking is checked: the pixels of wine's docked icon window
    // read as one colour at times while wine is still drawing it. (Qt on
    // Windows keeps no window of its own for the icon that standby could
    // hide; the drawn icon is checked in the Linux tray test.)
    EXPECT_TRUE(waitUntil([&] { return dockedIcons() == 1 && !desk.viewable(*window); }, 15s))
        << "docked icons: " << dockedIcons();
    EXPECT_NE(wmState(*window), IconicState);
}

TEST_F(WindowsProgram, FirstRunSettingsInTheRegistryMatchTheLinuxIniAndRegAddValuesAreShownAndUsed) {
    const RegistryTree ini = linuxFirstRunSettings();
    ASSERT_FALSE(ini.empty()) << "the Linux Tolvane wrote no settings";
    // Loading stores what differs from a fresh window: every row's period.
    ASSERT_TRUE(ini.count("Freq") && ini.at("Freq").size() == 30u);

    const pid_t first = startTolvane();
    RegistryTree registry;
    // Loading writes every setting before the window shows.
    ASSERT_TRUE(waitUntil([&] { return (registry = s_wine->regTree(SettingsKey)).count("CheckPlannerNbJour"); }, 30s))
        << "no first-run settings under " << SettingsKey;
    EXPECT_EQ(registry, ini);
    ::kill(first, SIGKILL);
    ASSERT_TRUE(waitForExit(first, 10s));
    s_wine->run({"reg", "delete", "HKCU\\Software\\Vantorix", "/f"});

    // Values put there with "reg add" before the start: used by the launch
    // sequence, kept as typed, and shown on the window (the verification
    // controls of the row whose "Check" is 1).
    setTool(1, "Launch", "1");
    setTool(1, "Tempo", "0");
    setTool(1, "Arguments", "   /Source=Registre  ");
    setTool(1, "Check", "1");
    setTool(3, "Tempo", "abc");
    startTolvane();
    ASSERT_TRUE(waitForStarts("VX8_Production", 1, 30s)) << "the registry's \"Launch\" was not used";
    EXPECT_EQ(startsOf("VX8_Production").at(0).arguments, std::vector<std::string>{"/Source=Registre"});
    EXPECT_EQ(s_wine->regValue(SettingsKey + "\\Arguments", "Idx_1"), "   /Source=Registre  ");
    EXPECT_EQ(s_wine->regValue(SettingsKey + "\\Tempo", "Idx_3"), "abc");

    Desktop desk(display());
    const auto window = desk.waitForWindow(caption(), 10s);
    ASSERT_TRUE(window);
    ASSERT_TRUE(showPage(desk, *window, GeneralTab, [&] { return generalShown(*window); }));
    EXPECT_TRUE(waitUntil([&] { return showsText(display(), *window, nextCheckLabel(1)); }, 10s))
        << "row 1 shows no next verification time";
    EXPECT_TRUE(showsNothing(display(), *window, nextCheckLabel(2))) << "row 2's verification controls are shown";
}

TEST_F(WindowsProgram, LaunchSequenceVerificationKillButtonAndMemoryBoxes) {
    setTool(0, "Launch", "1");
    setTool(0, "Tempo", "0");
    // Delays far apart: a loaded machine cannot put two of them in one pass.
    setTool(20, "Launch", "1");
    setTool(20, "Tempo", "3000");
    setTool(7, "Launch", "1");
    setTool(7, "Tempo", " 6 000");
    setTool(7, "Minimiser", "1");
    setTool(7, "Arguments", "  -x \"a b\" /NoBase=1  ");
    setTool(6, "Launch", "1");
    setTool(6, "Tempo", "0");
    setTool(6, "Check", "1");
    setTool(6, "Freq", "0");  // "01 Min": three seconds at twenty times the speed
    setTool(5, "Launch", "1");
    setTool(5, "Tempo", "0");
    setTool(12, "Launch", "1");
    setTool(12, "Tempo", "0");
    setTool(3, "Tempo", "0");  // not "Lancer": never started
    startTolvane({}, "@2026-12-08 10:00:00 x20");

    // The launch sequence: in order of the delays, the arguments trimmed and
    // split by the Windows rules, "/Veille=True" for "Minimiser", the path
    // of the folder with its blank and accents.
    ASSERT_TRUE(waitForStarts("VX8_Tools_Live", 1, 40s));
    std::vector<std::string> order;
    for (const auto& line : log())
        if (line.executableName == "VX8_Library.exe" || line.executableName == "VX8_Broadcaster_Backup.exe" ||
            line.executableName == "VX8_Tools_Live.exe")
            order.push_back(line.executableName);
    EXPECT_EQ(order, (std::vector<std::string>{"VX8_Library.exe", "VX8_Broadcaster_Backup.exe", "VX8_Tools_Live.exe"}));
    const auto live = startsOf("VX8_Tools_Live").at(0);
    EXPECT_EQ(live.arguments, (std::vector<std::string>{"-x", "a b", "/NoBase=1", "/Veille=True"}));
    EXPECT_EQ(live.showState, "minimised");
    EXPECT_EQ(live.argv0, Folder + "\\VX8_Tools_Live.exe");
    EXPECT_EQ(startsOf("VX8_Library").at(0).arguments, std::vector<std::string>{"/NoBase=0"});
    EXPECT_TRUE(startsOf("VX8_Tools_Planner").empty());
    ASSERT_EQ(startsOf("VX8_Tools_Data").size(), 1u);

    // Verified every three seconds while it runs: nothing started. Killed
    // from outside, it is started again at its next verification, once,
    // without the standby switch.
    EXPECT_FALSE(waitUntil([&] { return startsOf("VX8_Tools_Data").size() > 1; }, 4s));
    for (const pid_t pid : running("VX8_Tools_Data.exe")) ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitForStarts("VX8_Tools_Data", 2, 15s)) << "the killed tool was not started again";
    EXPECT_EQ(startsOf("VX8_Tools_Data").at(1).arguments, std::vector<std::string>{"/NoBase=0"});
    EXPECT_FALSE(waitUntil([&] { return startsOf("VX8_Tools_Data").size() > 2; }, 7s))
        << "started more than once for one disappearance";
    EXPECT_EQ(running("VX8_Tools_Data.exe").size(), 1u);

    // The memory boxes of the "Player" page: VX8_Player and VX8_Player_A
    // each show their own figure (matched by the exact file name).
    Desktop desk(display());
    const auto window = desk.waitForWindow(caption(), 10s);
    ASSERT_TRUE(window);
    ASSERT_TRUE(showPage(desk, *window, PlayerTab, [&] { return playerShown(*window); }));
    EXPECT_TRUE(waitUntil([&] { return showsText(display(), *window, memoryBox(0)) &&
                                       showsText(display(), *window, memoryBox(1)); },
                          20s))
        << "VX8_Player and VX8_Player_A do not both show a figure";
    EXPECT_TRUE(showsNothing(display(), *window, memoryBox(2))) << "VX8_Player_B is not running";

    // The Kill button of VX8_Player ends it and only it: VX8_Player_A,
    // whose name begins the same, keeps running.
    const auto playerA = running("VX8_Player_A.exe");
    ASSERT_EQ(playerA.size(), 1u);
    ASSERT_EQ(running("VX8_Player.exe").size(), 1u);
    for (int attempt = 0; attempt < 3 && !running("VX8_Player.exe").empty(); ++attempt) {
        desk.clickClient(*window, killButton(0).x, killButton(0).y);
        waitUntil([&] { return running("VX8_Player.exe").empty(); }, 5s);
    }
    EXPECT_TRUE(running("VX8_Player.exe").empty()) << "the Kill button did not end VX8_Player";
    EXPECT_TRUE(staysAlive(playerA.front(), 2s)) << "the Kill button of VX8_Player ended VX8_Player_A";
    // Its box empties at the next refresh; the other keeps its figure.
    EXPECT_TRUE(waitUntil([&] { return showsNothing(display(), *window, memoryBox(0)); }, 20s));
    EXPECT_TRUE(showsText(display(), *window, memoryBox(1)));
}

TEST_F(WindowsProgram, TesterMaintenantTheNightlyRestartAndKrandelByHand) {
    // The Scheduler page active, no day ticked: only the button starts it.
    set("CheckSchedulerJour", "Idx_0", "1");
    setTool(0, "Launch", "1");
    setTool(0, "Tempo", "0");
    // Before 04:00 (so the restart is planned for today's 04:07), at twenty
    // times the speed: the first 30-second tick finds 04:07:30 or later.
    const pid_t first = startTolvane({}, "@2026-12-08 03:57:30 x20");
    const auto started = Clock::now();
    ASSERT_TRUE(waitForStarts("VX8_Library", 1, 30s));

    Desktop desk(display());
    const auto window = desk.waitForWindow(caption(), 10s);
    ASSERT_TRUE(window);
    ASSERT_TRUE(showPage(desk, *window, BatchTab, [&] { return batchShown(*window); }));
    for (int attempt = 0; attempt < 3 && startsOf("VX8_Tools_Scheduler").empty(); ++attempt) {
        desk.clickClient(*window, TesterMaintenant.x, TesterMaintenant.y);
        waitForStarts("VX8_Tools_Scheduler", 1, 5s);
    }
    ASSERT_EQ(startsOf("VX8_Tools_Scheduler").size(), 1u) << "\"Tester maintenant\" started no Scheduler";
    const auto batch = startsOf("VX8_Tools_Scheduler").at(0);
    EXPECT_EQ(batch.arguments, std::vector<std::string>{DefaultBatch});
    EXPECT_EQ(batch.argv0, Folder + "\\VX8_Tools_Scheduler.exe");

    // The first 30-second tick finds 04:07 passed: Tolvane starts Krandel
    // from its folder and ends; Krandel starts Tolvane ten seconds later.
    const auto ended = waitForExit(first, 45s);
    ASSERT_TRUE(ended) << "Tolvane did not end for its nightly restart";
    EXPECT_GE(Clock::now() - started, 25s);
    EXPECT_EQ(ended->status.value_or(-1), 0);
    const auto endedAt = Clock::now();
    EXPECT_EQ(running("Krandel.exe").size(), 1u) << "Tolvane ended without Krandel running";
    std::vector<pid_t> fresh;
    ASSERT_TRUE(waitUntil([&] { return !(fresh = running("Tolvane.exe")).empty(); }, 20s))
        << "Krandel started no Tolvane";
    EXPECT_GE(Clock::now() - endedAt, 9s);
    EXPECT_TRUE(startedWithBaseCurrent(fresh.front()));
    EXPECT_TRUE(waitUntil([&] { return running("Krandel.exe").empty(); }, 5s)) << "Krandel did not end";

    // Krandel started by hand once that Tolvane has ended: ten seconds on,
    // Tolvane "/Base=Current" again, and the tools run on untouched.
    ASSERT_TRUE(desk.waitForWindow(caption(), 30s));
    for (const pid_t pid : fresh) ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return running("Tolvane.exe").empty(); }, 10s));
    const auto library = running("VX8_Library.exe");
    ASSERT_EQ(library.size(), 1u);
    const auto byHand = Clock::now();
    const pid_t krandel = startProgram("Krandel.exe");
    ASSERT_TRUE(waitUntil([&] { return !(fresh = running("Tolvane.exe")).empty(); }, 25s))
        << "Krandel started no Tolvane";
    EXPECT_GE(Clock::now() - byHand, 9s);
    EXPECT_LE(Clock::now() - byHand, 20s);
    EXPECT_TRUE(startedWithBaseCurrent(fresh.front()));
    const auto krandelEnded = waitForExit(krandel, 10s);
    ASSERT_TRUE(krandelEnded) << "Krandel did not end";
    EXPECT_EQ(krandelEnded->status.value_or(-1), 0);
    // The new Tolvane finds the tool's window and starts nothing again.
    ASSERT_TRUE(desk.waitForWindow(caption(), 30s));
    EXPECT_FALSE(waitUntil([&] { return startsOf("VX8_Library").size() > 1; }, 3s));
    EXPECT_EQ(running("VX8_Library.exe"), library);
    EXPECT_EQ(running("VX8_Tools_Scheduler.exe").size(), 1u);
}
