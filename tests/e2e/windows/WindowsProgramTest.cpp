// The real Tolvane.exe and Krandel.exe, as a station installs them, under
// wine: thirty Win32 stand-ins named after the suite's tools beside them in
// "C:\Program Files\Vantorix Été\", the settings in the registry, a French
// user, an X server and openbox of their own. One prefix serves every test
// (making one costs seconds); each starts from an empty registry key and an
// empty start log, and ends every program it started.
//
// The wall clock: libfaketime does reach into wine. It moves and speeds up
// what GetLocalTime gives the program (wine reads the real-time clock in the
// program's own process), while GetTickCount and the timers go on in real
// time (wine takes them from the monotonic clock and the server). So the
// "01 Min" verification takes three seconds at twenty times the speed, and
// the 04:07 restart is reached by starting the clock just before it. A due
// batch, which the same 30-second tick starts through the same launch as
// "Tester maintenant" (checked here), stays with the Linux tests.
//
// What wine does differently from Windows, and how the checks take it:
// - Without an X notification area, wine's explorer keeps the icons in a
//   small window of its own ("Wine System Tray"), shown while it holds one.
//   With a real XEmbed tray (trayer) wine docks the icon there instead, but
//   in our trials the docked icon never brought up the program's menu on a
//   right click (Qt asks for the version-4 context-menu notification; wine
//   8's docked icon did not deliver it): "Afficher" is clicked through
//   wine's own tray window, and with trayer only the docking is checked.
// - A program's working set reads far higher than on Windows: the memory
//   boxes are checked for showing a figure, never for its value.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <regex>
#include <sstream>

#include <QSettings>

#include "tests/support/e2e/Desktop.h"
#include "tests/support/e2e/Station.h"
#include "tests/support/wine/WineStation.h"

using namespace tolvane::testsupport;
using namespace tolvane::testsupport;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

const std::string Folder = "C:\\Program Files\\Vantorix Été";
const std::string SettingsKey = "HKCU\\Software\\Vantorix\\Tolvane";
const std::string Question = "^Vantorix : Tools Launcher$";
const std::string DefaultBatch = "/Batch=J+1<ChargerSquelette:1><NoStation:1><HeureDeb:00><HeureFin:23><OptDuree:1>";
const Strings BaseCurrent{Folder + "\\Tolvane.exe", "/Base=Current"};
constexpr std::uint32_t NormalState = 1;
constexpr std::uint32_t IconicState = 3;

// Client points of the main window. The tab control stands in the client
// area's corner and every page places its controls in twips from that
// corner (1 px = 15 twips), so these follow from the window's layout tables;
// the tab captions' places depend on the font wine gives, measured once.
struct Point {
    int x, y;
};
struct Box {
    int x, y, width, height;
};
constexpr Point TesterMaintenant{(9180 + 60 + 750) / 15, (420 + 360 + 150) / 15};
constexpr Point killButton(int row) { return {(1380 + 270) / 15, (900 + 360 * row + 150) / 15}; }
// Inside the frame of a row's memory box and of its Kill caption; the row's
// next-verification label.
constexpr Box memoryBox(int row) { return {10260 / 15 + 3, (900 + 360 * row) / 15 + 3, 675 / 15 - 6, 285 / 15 - 6}; }
constexpr Box killCaption(int row) { return {1380 / 15 + 3, (900 + 360 * row) / 15 + 3, 555 / 15 - 6, 315 / 15 - 6}; }
constexpr Box nextCheckLabel(int row) { return {8520 / 15, (900 + 360 * row + 60) / 15, 630 / 15, 195 / 15}; }
// A page shows when its first box shows text and its second nothing:
// "Général" has no fifth row, "Player" has nine rows, the "Batch" page has
// "Tester maintenant" where the tool pages have nothing.
struct Page {
    Point tab;
    Box text, empty;
};
constexpr Page GeneralPage{{36, 10}, killCaption(0), killCaption(4)};
constexpr Page PlayerPage{{91, 10}, killCaption(4), killCaption(9)};
constexpr Page BatchPage{{193, 10}, {TesterMaintenant.x - 45, TesterMaintenant.y - 6, 90, 12}, killCaption(4)};

// "Été€" are in the French ANSI code page (1252), "Ł" is not: main's
// argv would carry the first as bytes that are not UTF-8 and the last as "L".
const std::string AccentedNote = "/Note=\xC3\x89t\xC3\xA9\xE2\x82\xAC\xC5\x81";

std::ptrdiff_t countContaining(const Strings& lines, const std::string& what) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(what) != std::string::npos; });
}

std::string caption() {
    const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return "^Vantorix: Tools Launcher - " + std::regex_replace(WineStation::versionStamp(), special, R"(\$&)") + "$";
}

std::uint32_t idOf(const std::string& window) { return static_cast<std::uint32_t>(std::stoul(window)); }

// A setting of one tool's row: section, "Idx_<tool>", value.
struct ToolSetting {
    int tool;
    std::string section, value;
};

// The settings the Linux Tolvane writes on its first run, read back from its
// INI file once it has ended.
RegistryTree linuxFirstRunSettings() {
    RegistryTree tree;
    {
        Station linuxStation({.windowManager = false});
        const QString ini = QString::fromStdString(linuxStation.settingsFile());
        const pid_t tolvane = linuxStation.startTolvane();
        // The Planner's day count is the last setting loading writes.
        waitUntil([&] { return QSettings(ini, QSettings::IniFormat).contains("CheckPlannerNbJour/Index"); }, 20s);
        ::kill(tolvane, SIGTERM);
        waitForExit(tolvane, 10s);
        QSettings settings(ini, QSettings::IniFormat);
        for (const QString& key : settings.allKeys())
            tree[key.section('/', 0, 0).toStdString()][key.section('/', 1).toStdString()] =
                settings.value(key).toString().toStdString();
    }
    // The station pointed these at its own folders.
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
    return tree;
}

class WindowsProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        try {
            s_wine = new WineStation;
        } catch (const std::exception& e) {
            s_error = e.what();
            return;
        }
        // The station's folder: Tolvane, Krandel and their notice as
        // deployed, and a stand-in under each tool's name. Real copies, not
        // hard links: wine names a process by the first path it mapped of a
        // file, so links of one file would all read as one tool in the
        // process list (and to taskkill).
        std::error_code noDeploy;
        // The programs and their notice; the policy template's folder is
        // not for a station's own run.
        for (const auto& entry : fs::directory_iterator(WineStation::windowsBuild() + "/deploy", noDeploy))
            if (entry.is_regular_file()) copyInto(entry.path(), hostFile(entry.path().filename().string()));
        if (fs::exists(WineStation::standinExe()))
            for (const auto& name : toolNames()) copyInto(WineStation::standinExe(), hostFile(name + ".exe"));
    }
    static void TearDownTestSuite() { delete std::exchange(s_wine, nullptr); }

    void SetUp() override {
        ASSERT_NE(s_wine, nullptr) << "no wine station: " << s_error;
        ASSERT_TRUE(fs::exists(hostFile("Tolvane.exe")))
            << "no Tolvane.exe in " << WineStation::windowsBuild() << "/deploy (scripts/build-windows)";
        ASSERT_TRUE(fs::exists(hostFile("Krandel.exe")));
        ASSERT_TRUE(fs::exists(hostFile("VX8_Library.exe"))) << "no Win32 stand-in: " << WineStation::standinExe();
        ASSERT_FALSE(WineStation::versionStamp().empty());
        ASSERT_NO_FATAL_FAILURE(clearSettings());
        fs::remove(hostFile("standin.log"));
        s_wine->x().makeCurrent();
    }

    void TearDown() override {
        if (!s_wine) return;
        Strings exes{"Tolvane.exe", "Krandel.exe"};
        for (const auto& name : toolNames()) exes.push_back(name + ".exe");
        const auto left = [&] { return s_wine->processes(exes); };
        for (int round = 0; round < 3 && !left().empty(); ++round) {
            for (const pid_t pid : left()) ::kill(pid, SIGKILL);
            waitUntil([&] { return left().empty(); }, 5s);
        }
        EXPECT_TRUE(left().empty()) << "a program of the folder outlived the test";
        reapExitedChildren();
        if (m_tray > 0 && ::kill(m_tray, SIGKILL) == 0) waitForExit(m_tray, 5s);
    }

    static std::string hostFile(const std::string& name) { return s_wine->hostPath(Folder + "\\" + name); }
    const std::string& display() const { return s_wine->display(); }

    void clearSettings() {
        s_wine->run({"reg", "delete", "HKCU\\Software\\Vantorix", "/f"});
        ASSERT_FALSE(s_wine->regValue(SettingsKey + "\\Launch", "Idx_0")) << "the settings key was not emptied";
    }
    // Put in with "reg add", as an operator or a deployment script does.
    void setTools(const std::vector<ToolSetting>& settings) {
        for (const auto& s : settings)
            ASSERT_TRUE(s_wine->regSet(SettingsKey + "\\" + s.section, "Idx_" + std::to_string(s.tool), s.value))
                << s.section << "\\Idx_" << s.tool;
    }

    // A program of the folder under wine, its wall clock moved by fakeTime.
    pid_t start(const std::string& exe, const Strings& arguments = {},
                const std::optional<std::string>& fakeTime = {}) {
        return s_wine->start(Folder + "\\" + exe, arguments, fakeTime);
    }
    std::vector<pid_t> running(const std::string& exe) const { return s_wine->processes(exe); }

    std::vector<StandinLogLine> log() const { return tolvane::standin::readLogFile(hostFile("standin.log")); }
    // A stand-in's sidecar switches, for the length of the test.
    struct Sidecar {
        std::string path;
        ~Sidecar() { fs::remove(path); }
    };
    static Sidecar sidecar(const std::string& exe, const std::string& text) {
        Sidecar file{hostFile(exe + ".standin")};
        writeFile(file.path, text);
        return file;
    }
    // Tolvane's journal without its first `before` lines.
    static std::vector<std::string> journalAfter(std::size_t before) {
        auto lines = s_wine->journalLines("Tolvane");
        lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(before, lines.size())));
        return lines;
    }
    std::vector<StandinLogLine> startsOf(const std::string& tool) const {
        std::vector<StandinLogLine> lines;
        for (auto& line : log())
            if (line.executableName == tool + ".exe") lines.push_back(line);
        return lines;
    }
    bool waitForStarts(const std::string& tool, std::size_t count, std::chrono::milliseconds timeout) const {
        return waitUntil([&] { return startsOf(tool).size() >= count; }, timeout);
    }

    // The command line wine was given, without the empty slots it pads it
    // with, once it reads `expected` (within 5 s): a process seen at its very
    // start still shows the wine loader before the program's path.
    Strings commandLineOnce(pid_t pid, const Strings& expected) {
        Strings seen;
        waitUntil(
            [&] {
                for (seen = s_wine->commandLine(pid); !seen.empty() && seen.back().empty();) seen.pop_back();
                return seen == expected;
            },
            5s);
        return seen;
    }

    // Pixels darker than the widgets' grey inside a rectangle of a window's
    // client area: text drawn there. Nothing when the server gives no image.
    std::optional<int> darkPixels(const std::string& window, const Box& b) {
        const auto pixels = XProbe(display()).pixels(idOf(window), b.x, b.y, b.width, b.height);
        if (!pixels || pixels->size() != std::size_t(b.width * b.height)) return std::nullopt;
        return std::count_if(pixels->begin(), pixels->end(), [](std::uint32_t p) {
            return (p & 0xFF) < 96 && (p >> 8 & 0xFF) < 96 && (p >> 16 & 0xFF) < 96;
        });
    }
    bool showsText(const std::string& window, const Box& box) { return darkPixels(window, box).value_or(0) > 0; }
    bool showsNothing(const std::string& window, const Box& box) { return darkPixels(window, box) == 0; }

    // The main window, the X way: its WM_STATE as openbox keeps it.
    std::uint32_t wmState(const std::string& w) {
        return XProbe(display()).cardinalProperty(idOf(w), "WM_STATE").value_or(0);
    }

    // The program's windows on screen other than `except` (its menus).
    Strings otherShownWindows(const std::string& except) {
        std::istringstream ids(m_desk.run("xdotool search --onlyvisible --class '^tolvane\\.exe$'"));
        Strings found;
        for (std::string id; ids >> id;)
            if (id != except) found.push_back(id);
        return found;
    }

    // A click on a window wine has just mapped can be lost: the point is
    // clicked until `done` holds, a few times at most.
    void clickUntil(const std::string& window, Point at, const std::function<bool()>& done,
                    std::chrono::milliseconds wait = 5s, int button = 1, int attempts = 3) {
        for (int attempt = 0; attempt < attempts && !done(); ++attempt) {
            m_desk.clickClient(window, at.x, at.y, button);
            waitUntil(done, wait);
        }
    }

    // The main window, found and brought up on `page`; nothing if either fails.
    std::optional<std::string> mainWindowOn(const Page& page) {
        const auto window = m_desk.waitForWindow(caption(), 10s);
        if (!window) return window;
        const auto shown = [&] { return showsText(*window, page.text) && showsNothing(*window, page.empty); };
        // Raised again before each click: a tool window mapped meanwhile may
        // stand over it, and its pixels would be read instead (or take the
        // click). Read for a moment each time: wine may be repainting the
        // page just as its pixels are read.
        for (int attempt = 0; attempt < 4; ++attempt) {
            m_desk.activate(*window);
            if (!shown()) m_desk.clickClient(*window, page.tab.x, page.tab.y, 1);
            if (waitUntil(shown, 3s)) return window;
        }
        std::cerr << "[ page     ] not shown: " << darkPixels(*window, page.text).value_or(-1)
                  << " dark pixels where text is awaited, " << darkPixels(*window, page.empty).value_or(-1)
                  << " where none is\n";
        return std::nullopt;
    }

    // Icons wine has docked into trayer's panel (windows of wine's explorer,
    // which draws every program's icon).
    std::size_t dockedIcons() {
        XProbe probe(display());
        const auto icons = probe.trayPanelWindows("explorer.exe");
        return std::count_if(icons.begin(), icons.end(),
                             [&](std::uint32_t w) { return probe.mapState(w) == XProbe::MapState::Viewable; });
    }

    inline static WineStation* s_wine = nullptr;
    inline static std::string s_error;
    Desktop m_desk{s_wine ? s_wine->display() : std::string()};
    pid_t m_tray = -1;
};

}  // namespace

TEST_F(WindowsProgram, CaptionMinimisedStartStandbyBehindTheIconAndTheFrenchQuitQuestion) {
    // Without a switch: the caption with the build's stamp, minimised. A
    // note with characters of the ANSI code page and beyond it reaches the
    // run's start line as typed.
    const pid_t first = start("Tolvane.exe", {AccentedNote});
    auto window = m_desk.waitForWindow(caption(), 30s);
    ASSERT_TRUE(window) << "no window captioned " << caption();
    EXPECT_TRUE(waitUntil([&] { return wmState(*window) == IconicState && !m_desk.viewable(*window); }, 10s))
        << "WM_STATE " << wmState(*window);

    // A second start by hand (one Tolvane per user and settings) ends at
    // once and brings the running one's window back from the taskbar.
    const auto second = waitForExit(start("Tolvane.exe"), 30s);
    ASSERT_TRUE(second) << "the second Tolvane.exe kept running";
    EXPECT_EQ(second->status.value_or(-1), 0);
    EXPECT_TRUE(waitUntil([&] { return wmState(*window) == NormalState && m_desk.viewable(*window); }, 10s))
        << "the running Tolvane stayed minimised; WM_STATE " << wmState(*window);
    // Started as "tolvane.exe", the same file is the same program: it ends too.
    const auto folded = waitForExit(start("tolvane.exe", {"/Veille=True"}), 30s);
    ASSERT_TRUE(folded) << "tolvane.exe supervises beside Tolvane.exe";
    EXPECT_EQ(folded->status.value_or(-1), 0);
    EXPECT_EQ(running("Tolvane.exe").size(), 1u);

    // The close box asks, in French: the buttons' mnemonics are "O"ui and
    // "N"on, and a message box takes them without Alt. "y" (an English
    // "Yes") answers nothing; "o" quits.
    m_desk.closeWindow(*window);
    auto question = m_desk.waitForWindow(Question, 10s);
    ASSERT_TRUE(question) << "the close box did not ask";
    m_desk.key(*question, "y");
    EXPECT_TRUE(staysAlive(first, 1500ms)) << "\"y\" answered the question: the buttons are not French";
    EXPECT_TRUE(m_desk.findWindow(Question));
    m_desk.key(*question, "o");
    const auto ended = waitForExit(first, 10s);
    ASSERT_TRUE(ended) << "\"o\" (Oui) did not end Tolvane";
    EXPECT_EQ(ended->status.value_or(-1), 0);
    EXPECT_EQ(countContaining(s_wine->journalLines("Tolvane"), "ligne de commande : " + AccentedNote + " |"), 1);

    // "/Veille=True", any case, no X tray: hidden (not minimised) behind
    // the icon in wine's own notification area.
    const pid_t hidden = start("Tolvane.exe", {"/veille=TRUE"});
    window = m_desk.waitForWindow(caption(), 30s);
    ASSERT_TRUE(window);
    std::optional<std::string> tray;
    const auto trayShown = [&] { return (tray = m_desk.findWindow("^Wine System Tray$")) && m_desk.viewable(*tray); };
    ASSERT_TRUE(waitUntil([&] { return trayShown() && !m_desk.viewable(*window); }, 15s));
    EXPECT_NE(wmState(*window), IconicState) << "minimised instead of hidden";
    EXPECT_TRUE(otherShownWindows(*window).empty());

    // A right click on the icon (the first place of wine's tray window)
    // opens the menu; its only item is "Afficher".
    Strings menu;
    clickUntil(
        *tray, {10, 10}, [&] { return !(menu = otherShownWindows(*window)).empty(); }, 3s, 3);
    ASSERT_EQ(menu.size(), 1u) << "the right button opened no menu";
    EXPECT_FALSE(m_desk.viewable(*window));
    // Wine's menus do not take xdotool's keys: "Afficher" is clicked.
    m_desk.clickClient(menu.front(), 20, 12);
    EXPECT_TRUE(waitUntil([&] { return m_desk.viewable(*window) && wmState(*window) == NormalState; }, 10s));
    EXPECT_TRUE(waitUntil([&] { return !m_desk.viewable(*tray); }, 10s)) << "the icon stayed after Afficher";
    EXPECT_TRUE(otherShownWindows(*window).empty()) << "the menu stayed open";
    ::kill(hidden, SIGKILL);
    ASSERT_TRUE(waitForExit(hidden, 10s));

    // With a real XEmbed tray wine docks the icon there, and the window is
    // hidden all the same. Only the docking is checked: the pixels of wine's
    // docked icon window read as one colour at times while wine is still
    // drawing it. (Qt on Windows keeps no window of its own for the icon
    // that standby could hide; the drawn icon is checked in the Linux tray
    // test.)
    m_tray = startTrayer();
    ASSERT_TRUE(waitUntil([&] { return trayAreaOwned(display()); }, 10s)) << "trayer did not take the tray";
    start("Tolvane.exe", {"/Veille=True"});
    window = m_desk.waitForWindow(caption(), 30s);
    ASSERT_TRUE(window);
    EXPECT_TRUE(waitUntil([&] { return dockedIcons() == 1 && !m_desk.viewable(*window); }, 15s))
        << "docked icons: " << dockedIcons();
    EXPECT_NE(wmState(*window), IconicState);
}

TEST_F(WindowsProgram, ACloseFromOutsideNeverAsksAndACancelledSessionEndChangesNothing) {
    // The messages Windows sends as a session ends, which wine never sends.
    const std::string messages = WineStation::windowsBuild() + "/bin/window_messages.exe";
    ASSERT_TRUE(fs::exists(messages)) << messages << " (scripts/build-windows)";
    copyInto(messages, hostFile("window_messages.exe"));
    const auto send = [&](const std::string& action) {
        return s_wine->run({Folder + "\\window_messages.exe", "Tolvane.exe", action}, 20s).status == 0;
    };
    // The lines of the latest run, from its start line on.
    const auto runLines = [&] {
        const auto lines = s_wine->journalLines("Tolvane");
        Strings run;
        for (const auto& line : lines) {
            if (line.find(" 1000 [-] ") != std::string::npos) run.clear();
            run.push_back(line);
        }
        return run;
    };
    const std::regex closing(" 100[1-4] ");
    const std::regex outside(R"( 1003 \[-\] Tolvane arrêté à la demande du système \| par : WM_CLOSE$)");
    const std::regex session(R"( 1004 \[-\] Tolvane arrêté avec la fin de la session$)");

    enum class State { Minimised, Shown, Standby };
    const struct {
        State state;
        bool sessionEnds;  // otherwise taskkill without /f
    } cases[] = {{State::Minimised, false}, {State::Shown, true}, {State::Standby, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.state));
        const pid_t tolvane = start("Tolvane.exe", c.state == State::Standby ? Strings{"/Veille=True"} : Strings{});
        ASSERT_TRUE(waitUntil(
            [&] {
                return linesMatching(runLines(), std::regex(" 1000 ")) == 1 &&
                       s_wine->windowExists("Vantorix: Tools Launcher - " + WineStation::versionStamp());
            },
            30s));
        const auto window = m_desk.waitForWindow(caption(), 10s);
        if (c.state == State::Shown) {
            ASSERT_TRUE(waitForExit(start("Tolvane.exe"), 30s));
            ASSERT_TRUE(window && waitUntil([&] { return wmState(*window) == NormalState; }, 10s));
        }

        // A session end that was cancelled changes nothing: no closing line,
        // and the close box still asks.
        ASSERT_TRUE(send("query-end"));
        ASSERT_TRUE(send("end-cancelled"));
        EXPECT_TRUE(staysAlive(tolvane, 1s));
        if (c.state != State::Standby) {
            ASSERT_TRUE(send("close-box"));
            const auto question = m_desk.waitForWindow(Question, 10s);
            ASSERT_TRUE(question) << "the close box did not ask after a cancelled session end";
            m_desk.key(*question, "n");
            ASSERT_TRUE(waitUntil([&] { return !m_desk.findWindow(Question); }, 10s));
        }
        EXPECT_EQ(linesMatching(runLines(), closing), 0u);

        if (c.sessionEnds) {
            ASSERT_TRUE(send("query-end"));
            send("end");  // the process may be gone before every window had it
        } else {
            s_wine->run({"taskkill", "/im", "Tolvane.exe"}, 20s);
        }
        ASSERT_TRUE(waitForExit(tolvane, 15s)) << "Tolvane did not end";
        EXPECT_FALSE(m_desk.findWindow(Question)) << "a close from outside asked the quit question";
        const auto lines = runLines();
        EXPECT_EQ(linesMatching(lines, closing), 1u);
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(std::regex_search(lines.back(), c.sessionEnds ? session : outside)) << lines.back();
    }
}

TEST_F(WindowsProgram, FirstRunSettingsInTheRegistryMatchTheLinuxIniAndRegAddValuesAreShownAndUsed) {
    const RegistryTree ini = linuxFirstRunSettings();
    s_wine->x().makeCurrent();
    ASSERT_FALSE(ini.empty()) << "the Linux Tolvane wrote no settings";
    // Loading stores what differs from a fresh window: every row's period.
    ASSERT_TRUE(ini.count("Freq") && ini.at("Freq").size() == 30u);

    const pid_t first = start("Tolvane.exe");
    RegistryTree registry;
    // Loading writes every setting before the window shows.
    ASSERT_TRUE(waitUntil([&] { return (registry = s_wine->regTree(SettingsKey)).count("CheckPlannerNbJour"); }, 30s));
    EXPECT_EQ(registry, ini);
    ::kill(first, SIGKILL);
    ASSERT_TRUE(waitForExit(first, 10s));
    ASSERT_NO_FATAL_FAILURE(clearSettings());

    // Values put there with "reg add" before the start: used by the launch
    // sequence, kept as typed, and shown on the window (the verification
    // controls of the row whose "Check" is 1).
    const std::vector<ToolSetting> typed{{1, "Launch", "1"},
                                         {1, "Tempo", "0"},
                                         {1, "Arguments", "   /Source=Registre  "},
                                         {1, "Check", "1"},
                                         {3, "Tempo", "abc"}};
    ASSERT_NO_FATAL_FAILURE(setTools(typed));
    start("Tolvane.exe");
    ASSERT_TRUE(waitForStarts("VX8_Production", 1, 30s)) << "the registry's \"Launch\" was not used";
    EXPECT_EQ(startsOf("VX8_Production").at(0).arguments, Strings{"/Source=Registre"});
    for (const auto& [tool, section, value] : typed)
        EXPECT_EQ(s_wine->regValue(SettingsKey + "\\" + section, "Idx_" + std::to_string(tool)), value) << section;

    const auto window = mainWindowOn(GeneralPage);
    ASSERT_TRUE(window);
    EXPECT_TRUE(waitUntil([&] { return showsText(*window, nextCheckLabel(1)); }, 10s));
    EXPECT_TRUE(showsNothing(*window, nextCheckLabel(2))) << "row 2's verification controls are shown";
}

TEST_F(WindowsProgram, LaunchSequenceVerificationKillButtonAndMemoryBoxes) {
    // Delays far apart: a loaded machine cannot put two of them in one pass.
    // Tool 6 is verified "01 Min" (period 0): three seconds at twenty times
    // the speed. Tool 3 is not "Lancer": never started.
    ASSERT_NO_FATAL_FAILURE(setTools({{0, "Launch", "1"},
                                      {0, "Tempo", "0"},
                                      {20, "Launch", "1"},
                                      {20, "Tempo", "3000"},
                                      {7, "Launch", "1"},
                                      {7, "Tempo", " 6 000"},
                                      {7, "Minimiser", "1"},
                                      {7, "Arguments", "  -x \"a b\" /NoBase=1  "},
                                      {6, "Launch", "1"},
                                      {6, "Tempo", "0"},
                                      {6, "Check", "1"},
                                      {6, "Freq", "0"},
                                      {5, "Launch", "1"},
                                      {5, "Tempo", "0"},
                                      {12, "Launch", "1"},
                                      {12, "Tempo", "0"},
                                      {3, "Tempo", "0"}}));
    start("Tolvane.exe", {}, "@2026-12-08 10:00:00 x20");

    // The launch sequence: in order of the delays, the arguments trimmed and
    // split by the Windows rules, "/Veille=True" for "Minimiser", the path
    // of the folder with its blank and accents, which is also every tool's
    // working folder (Tolvane's own is the test's, on the Z: drive).
    ASSERT_TRUE(waitForStarts("VX8_Tools_Live", 1, 40s));
    const Strings delayed{"VX8_Library.exe", "VX8_Broadcaster_Backup.exe", "VX8_Tools_Live.exe"};
    Strings order;
    for (const auto& line : log())
        if (std::count(delayed.begin(), delayed.end(), line.executableName)) order.push_back(line.executableName);
    EXPECT_EQ(order, delayed);
    const auto live = startsOf("VX8_Tools_Live").at(0);
    EXPECT_EQ(live.arguments, (Strings{"-x", "a b", "/NoBase=1", "/Veille=True"}));
    EXPECT_EQ(live.showState, "minimised");
    EXPECT_EQ(live.argv0, Folder + "\\VX8_Tools_Live.exe");
    EXPECT_EQ(startsOf("VX8_Library").at(0).arguments, Strings{"/NoBase=0"});
    for (const auto& line : log()) EXPECT_EQ(line.workingFolder, Folder) << line.executableName;
    EXPECT_TRUE(startsOf("VX8_Tools_Planner").empty());
    ASSERT_EQ(startsOf("VX8_Tools_Data").size(), 1u);

    // Verified every three seconds while it runs: nothing started. Killed
    // from outside, it is started again at its next verification, once,
    // without the standby switch.
    EXPECT_FALSE(waitUntil([&] { return startsOf("VX8_Tools_Data").size() > 1; }, 4s));
    for (const pid_t pid : running("VX8_Tools_Data.exe")) ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitForStarts("VX8_Tools_Data", 2, 15s)) << "the killed tool was not started again";
    EXPECT_EQ(startsOf("VX8_Tools_Data").at(1).arguments, Strings{"/NoBase=0"});
    EXPECT_FALSE(waitUntil([&] { return startsOf("VX8_Tools_Data").size() > 2; }, 7s));
    EXPECT_EQ(running("VX8_Tools_Data.exe").size(), 1u);

    // The memory boxes of the "Player" page: VX8_Player and VX8_Player_A
    // each show their own figure (matched by the exact file name).
    const auto window = mainWindowOn(PlayerPage);
    ASSERT_TRUE(window);
    EXPECT_TRUE(waitUntil([&] { return showsText(*window, memoryBox(0)) && showsText(*window, memoryBox(1)); }, 20s));
    EXPECT_TRUE(showsNothing(*window, memoryBox(2))) << "VX8_Player_B is not running";

    // The Kill button of VX8_Player ends it and only it: VX8_Player_A,
    // whose name begins the same, keeps running.
    const auto playerA = running("VX8_Player_A.exe");
    ASSERT_EQ(playerA.size(), 1u);
    ASSERT_EQ(running("VX8_Player.exe").size(), 1u);
    clickUntil(*window, killButton(0), [&] { return running("VX8_Player.exe").empty(); });
    EXPECT_TRUE(running("VX8_Player.exe").empty()) << "the Kill button did not end VX8_Player";
    EXPECT_TRUE(staysAlive(playerA.front(), 2s)) << "the Kill button of VX8_Player ended VX8_Player_A";
    // Its box empties at the next refresh; the other keeps its figure.
    EXPECT_TRUE(waitUntil([&] { return showsNothing(*window, memoryBox(0)); }, 20s));
    EXPECT_TRUE(showsText(*window, memoryBox(1)));
}

TEST_F(WindowsProgram, TesterMaintenantTheNightlyRestartAndKrandelByHand) {
    // The Scheduler page active, no day ticked: only the button starts it.
    ASSERT_NO_FATAL_FAILURE(setTools({{0, "CheckSchedulerJour", "1"}, {0, "Launch", "1"}, {0, "Tempo", "0"}}));
    // Before 04:00 (so the restart is planned for today's 04:07), at twenty
    // times the speed: the first 30-second tick finds 04:07:30 or later.
    const pid_t first = start("Tolvane.exe", {}, "@2026-12-08 03:57:30 x20");
    const auto started = Clock::now();
    ASSERT_TRUE(waitForStarts("VX8_Library", 1, 30s));

    const auto window = mainWindowOn(BatchPage);
    ASSERT_TRUE(window);
    clickUntil(*window, TesterMaintenant, [&] { return !startsOf("VX8_Tools_Scheduler").empty(); });
    ASSERT_EQ(startsOf("VX8_Tools_Scheduler").size(), 1u) << "\"Tester maintenant\" started no Scheduler";
    const auto batch = startsOf("VX8_Tools_Scheduler").at(0);
    EXPECT_EQ(batch.arguments, Strings{DefaultBatch});
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
    ASSERT_TRUE(waitUntil([&] { return !(fresh = running("Tolvane.exe")).empty(); }, 20s));
    EXPECT_GE(Clock::now() - endedAt, 9s);
    EXPECT_EQ(commandLineOnce(fresh.front(), BaseCurrent), BaseCurrent);
    EXPECT_TRUE(waitUntil([&] { return running("Krandel.exe").empty(); }, 5s)) << "Krandel did not end";

    // Krandel started by hand once that Tolvane has ended: ten seconds on,
    // Tolvane "/Base=Current" again, and the tools run on untouched.
    ASSERT_TRUE(m_desk.waitForWindow(caption(), 30s));
    for (const pid_t pid : fresh) ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return running("Tolvane.exe").empty(); }, 10s));
    const auto library = running("VX8_Library.exe");
    ASSERT_EQ(library.size(), 1u);
    const auto byHand = Clock::now();
    const pid_t krandel = start("Krandel.exe", {AccentedNote});
    ASSERT_TRUE(waitUntil([&] { return !(fresh = running("Tolvane.exe")).empty(); }, 25s));
    EXPECT_GE(Clock::now() - byHand, 9s);
    EXPECT_LE(Clock::now() - byHand, 20s);
    EXPECT_EQ(commandLineOnce(fresh.front(), BaseCurrent), BaseCurrent);
    const auto krandelEnded = waitForExit(krandel, 10s);
    ASSERT_TRUE(krandelEnded) << "Krandel did not end";
    EXPECT_EQ(krandelEnded->status.value_or(-1), 0);
    // The new Tolvane finds the tool's window and starts nothing again.
    ASSERT_TRUE(m_desk.waitForWindow(caption(), 30s));
    EXPECT_FALSE(waitUntil([&] { return startsOf("VX8_Library").size() > 1; }, 3s));
    EXPECT_EQ(running("VX8_Library.exe"), library);
    EXPECT_EQ(running("VX8_Tools_Scheduler.exe").size(), 1u);

    // Both restarts in Krandel's own journal, the nightly one in Tolvane's.
    const auto krandelLines = s_wine->journalLines("Krandel");
    EXPECT_EQ(countContaining(krandelLines, " 3100 [-] "), 2) << krandelLines.size() << " lines";
    EXPECT_EQ(countContaining(krandelLines, "ligne de commande : " + AccentedNote + " |"), 1);
    EXPECT_EQ(countContaining(krandelLines,
                              " 3101 [-] Krandel a d\xC3\xA9marr\xC3\xA9 Tolvane | programme : C:\\\\Program Files"),
              2);
    EXPECT_EQ(countContaining(s_wine->journalLines("Tolvane"), " 1002 [-] "), 1);
}

TEST_F(WindowsProgram, AToolsEndIsSeenThroughItsHandleAndTheToolIsBackWithinSeconds) {
    // Both verified every "05 Min": back within seconds only through the
    // watch of their end. VX8_Player_B crashes by itself once the memory
    // pass's sweep has had time to watch it (twice over); VX8_Player_A is
    // then killed from outside.
    const Sidecar crashing = sidecar("VX8_Player_B.exe", "crash_after_ms=35000\n");
    std::vector<ToolSetting> settings;
    for (const int tool : {12, 13})
        for (const auto& [section, value] : {std::pair{"Launch", "1"}, {"Tempo", "0"}, {"Check", "1"}, {"Freq", "1"}})
            settings.push_back({tool, section, value});
    ASSERT_NO_FATAL_FAILURE(setTools(settings));
    // The metrics file too, in a folder with an accent and a blank.
    const std::string metrics = hostFile("mesures été");
    fs::remove_all(metrics);
    fs::create_directories(metrics);
    ASSERT_TRUE(s_wine->regSet(SettingsKey + "\\Metrics", "Folder", Folder + "\\mesures été"));
    const auto before = s_wine->journalLines("Tolvane").size();
    const auto linesOfThisRun = [before] { return journalAfter(before); };
    start("Tolvane.exe");
    ASSERT_TRUE(waitForStarts("VX8_Player_A", 1, 40s));
    ASSERT_TRUE(waitForStarts("VX8_Player_B", 1, 40s));

    // The crash: its exit code named in the journal, and a new start by the
    // verification two seconds after it.
    const std::string crashed =
        " 2030 [13 VX8_Player_B] Arr\xC3\xAAt\xC3\xA9 : son dernier processus s'est termin\xC3\xA9 | processus : ";
    ASSERT_TRUE(waitUntil([&] { return countContaining(linesOfThisRun(), crashed) == 1; }, 70s));
    EXPECT_EQ(countContaining(linesOfThisRun(), "code de sortie : 0xC0000005 (violation d'acc\xC3\xA8s)"), 1);
    ASSERT_TRUE(waitForStarts("VX8_Player_B", 2, 15s));
    EXPECT_EQ(countContaining(linesOfThisRun(), " 2004 [13 VX8_Player_B] "), 1);

    // The kill from outside: seen at once, back within seconds, one copy.
    const auto playerA = running("VX8_Player_A.exe");
    ASSERT_EQ(playerA.size(), 1u);
    const auto killedAt = std::chrono::steady_clock::now();
    ::kill(playerA[0], SIGKILL);
    ASSERT_TRUE(waitForStarts("VX8_Player_A", 2, 15s)) << "the killed tool was not back within seconds";
    std::printf("[ figures  ] killed tool's window back after %lld ms under wine (verification \"05 Min\")\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - killedAt)
                        .count()));
    EXPECT_EQ(countContaining(linesOfThisRun(), " 2030 [12 VX8_Player_A] "), 1);
    EXPECT_EQ(countContaining(linesOfThisRun(), " 2004 [12 VX8_Player_A] "), 1);
    EXPECT_FALSE(waitUntil([&] { return startsOf("VX8_Player_A").size() > 2; }, 5s));
    EXPECT_EQ(running("VX8_Player_A.exe").size(), 1u);
    EXPECT_EQ(countContaining(linesOfThisRun(), " 2003 "), 0);

    // The monitoring's file counts the killed one as restarted after its
    // end and sees its window, and Prometheus's own checker takes the file.
    const std::string prom = metrics + "/tolvane.prom";
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::string text = readFile(prom);
            return text.find("tolvane_tool_starts_total{index=\"12\",tool=\"VX8_Player_A\",cause=\"end\"} 1\n") !=
                       std::string::npos &&
                   text.find("tolvane_tool_up{index=\"12\",tool=\"VX8_Player_A\"} 1\n") != std::string::npos;
        },
        40s))
        << readFile(prom);
    EXPECT_EQ(std::system(("promtool check metrics < '" + prom + "'").c_str()), 0);
}

TEST_F(WindowsProgram, AFrozenToolIsSeenByTheSystemsOwnTestAndRestartedWhereChosen) {
    // Started here rather than by Tolvane (no grace after a start of its
    // own), it stops taking its messages five seconds in, for good; its
    // operator chose "1 min".
    const Sidecar freezing = sidecar("VX8_Player_C.exe", "freeze_after_ms=5000\n");
    ASSERT_NO_FATAL_FAILURE(clearSettings());
    ASSERT_NO_FATAL_FAILURE(setTools({{14, "Check", "1"}, {14, "Frozen", "1"}}));
    const auto before = s_wine->journalLines("Tolvane").size();
    const auto linesOfThisRun = [before] { return journalAfter(before); };
    start("VX8_Player_C.exe");
    ASSERT_TRUE(waitForStarts("VX8_Player_C", 1, 40s));
    // Its one process, once the process list shows it as the log does.
    ASSERT_TRUE(waitUntil([&] { return running("VX8_Player_C.exe").size() == 1; }, 10s))
        << running("VX8_Player_C.exe").size() << " copies";
    const auto first = running("VX8_Player_C.exe");
    start("Tolvane.exe");

    // IsHungAppWindow calls it hung five seconds into its silence; frozen
    // fifteen seconds after the first question it left unanswered.
    ASSERT_TRUE(waitUntil([&] { return countContaining(linesOfThisRun(), " 2050 [14 VX8_Player_C] ") == 1; }, 60s));
    EXPECT_EQ(countContaining(linesOfThisRun(), "relance : apr\xC3\xA8s 1 min"), 1);
    // A minute after that question: ended by its name, back through its end's verification, once.
    ASSERT_TRUE(waitUntil([&] { return countContaining(linesOfThisRun(), " 2052 [14 VX8_Player_C] ") == 1; }, 75s));
    ASSERT_TRUE(waitForStarts("VX8_Player_C", 2, 20s));
    EXPECT_EQ(countContaining(linesOfThisRun(), " 2004 [14 VX8_Player_C] "), 1);
    EXPECT_FALSE(waitUntil([&] { return startsOf("VX8_Player_C").size() > 2; }, 3s));
    const auto now = running("VX8_Player_C.exe");
    ASSERT_EQ(now.size(), 1u);
    EXPECT_NE(now[0], first[0]);
}

// Both programs carry their application manifest, as windres reads it back
// from the built files: the invoker's rights, Windows 10 and 11, long paths,
// and the DPI awareness Qt sets at run time (per-monitor v2).
// The administrator's values in HKLM, put there with "reg add" as Group
// Policy or the MSI would: the policy decides what starts and what is
// started again, whatever HKCU holds, and nothing of it reaches HKCU; a
// preset starts a tool for a user who never chose, and a preset changed
// later reaches a user who has run Tolvane before, as a policy removed
// gives the user's own value back.
TEST_F(WindowsProgram, PolicyInHklmDecidesWhatStartsAndAChangedPresetReachesAUserWhoRanBefore) {
    const std::string policyKey = "HKLM\\Software\\Policies\\Vantorix\\Tolvane";
    const std::string presetKey = "HKLM\\Software\\Vantorix\\Tolvane";
    struct CleanMachine {
        ~CleanMachine() {
            s_wine->run({"reg", "delete", "HKLM\\Software\\Policies\\Vantorix", "/f"});
            s_wine->run({"reg", "delete", "HKLM\\Software\\Vantorix", "/f"});
        }
    } clean;
    const auto set = [](const std::string& key, const std::string& name, const std::string& value) {
        ASSERT_TRUE(s_wine->regSet(key, name, value)) << key << "\\" << name;
    };
    // The user's own: VX8_Library launched at once; VX8_Player_A not.
    ASSERT_NO_FATAL_FAILURE(setTools({{0, "Launch", "1"}, {0, "Tempo", "0"}, {12, "Launch", "0"}}));
    // Enforced: VX8_Library not launched; VX8_Player_A launched and
    // verified "01 Min" (three seconds at twenty times the speed).
    ASSERT_NO_FATAL_FAILURE(set(policyKey + "\\Launch", "Idx_0", "0"));
    ASSERT_NO_FATAL_FAILURE(set(policyKey + "\\Launch", "Idx_12", "1"));
    ASSERT_NO_FATAL_FAILURE(set(policyKey + "\\Tempo", "Idx_12", "0"));
    // As a DWORD, as an ADMX template often writes it.
    ASSERT_EQ(
        s_wine->run({"reg", "add", policyKey + "\\Check", "/v", "Idx_12", "/t", "REG_DWORD", "/d", "1", "/f"}).status,
        0);
    ASSERT_NO_FATAL_FAILURE(set(policyKey + "\\Freq", "Idx_12", "0"));
    // Preset: VX8_Tools_Data launched at once; the MSI's own value beside.
    ASSERT_NO_FATAL_FAILURE(set(presetKey + "\\Launch", "Idx_6", "1"));
    ASSERT_NO_FATAL_FAILURE(set(presetKey + "\\Tempo", "Idx_6", "0"));
    ASSERT_NO_FATAL_FAILURE(set(presetKey, "InstallDir", "C:\\Program Files\\Vantorix"));
    const pid_t first = start("Tolvane.exe", {}, "@2026-12-08 10:00:00 x20");

    ASSERT_TRUE(waitForStarts("VX8_Player_A", 1, 40s)) << "the policy's \"Launch\" was not used";
    ASSERT_TRUE(waitForStarts("VX8_Tools_Data", 1, 20s)) << "the preset's \"Launch\" was not used";
    ASSERT_TRUE(waitUntil([&] { return s_wine->windowExists("VX8_Player_A"); }, 15s));
    for (const pid_t pid : running("VX8_Player_A.exe")) ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitForStarts("VX8_Player_A", 2, 20s)) << "the policy's verification did not start it again";
    EXPECT_TRUE(startsOf("VX8_Library").empty());

    // HKCU: the user's own values as they were, nothing of the policy or
    // the preset; what loading always wrote, still written.
    ASSERT_TRUE(
        waitUntil([&] { return s_wine->regValue(SettingsKey + "\\CheckPlannerNbJour", "Index").has_value(); }, 20s));
    EXPECT_EQ(s_wine->regValue(SettingsKey + "\\Launch", "Idx_0"), "1");
    EXPECT_EQ(s_wine->regValue(SettingsKey + "\\Launch", "Idx_12"), "0");
    EXPECT_FALSE(s_wine->regValue(SettingsKey + "\\Check", "Idx_12"));
    EXPECT_FALSE(s_wine->regValue(SettingsKey + "\\Tempo", "Idx_12"));
    EXPECT_FALSE(s_wine->regValue(SettingsKey + "\\Freq", "Idx_12"));
    EXPECT_FALSE(s_wine->regValue(SettingsKey + "\\Launch", "Idx_6"));
    EXPECT_FALSE(s_wine->regValue(SettingsKey + "\\Tempo", "Idx_6"));
    EXPECT_FALSE(s_wine->regValue(SettingsKey, "InstallDir"));
    EXPECT_EQ(s_wine->regValue(SettingsKey + "\\Freq", "Idx_3"), "1");
    ::kill(first, SIGKILL);
    ASSERT_TRUE(waitForExit(first, 10s));

    // Next start, for the same user: the policy removed, the preset changed.
    s_wine->run({"reg", "delete", "HKLM\\Software\\Policies\\Vantorix", "/f"});
    ASSERT_FALSE(s_wine->regValue(policyKey + "\\Launch", "Idx_0"));
    ASSERT_NO_FATAL_FAILURE(set(presetKey + "\\Launch", "Idx_6", "0"));
    ASSERT_NO_FATAL_FAILURE(set(presetKey + "\\Launch", "Idx_9", "1"));
    ASSERT_NO_FATAL_FAILURE(set(presetKey + "\\Tempo", "Idx_9", "0"));
    const std::size_t dataStarts = startsOf("VX8_Tools_Data").size();
    for (const pid_t pid : running("VX8_Tools_Data.exe")) ::kill(pid, SIGKILL);
    start("Tolvane.exe", {}, "@2026-12-08 11:00:00 x20");
    ASSERT_TRUE(waitForStarts("VX8_Library", 1, 40s)) << "the user's own \"Launch\" did not come back";
    ASSERT_TRUE(waitForStarts("VX8_Tools_Pool", 1, 20s)) << "the changed preset did not reach the user";
    EXPECT_FALSE(waitUntil([&] { return startsOf("VX8_Tools_Data").size() > dataStarts; }, 4s));
    EXPECT_FALSE(s_wine->regValue(SettingsKey + "\\Launch", "Idx_9"));
    // Reading the policy never creates its key (wine's user may write HKLM).
    EXPECT_NE(s_wine->run({"reg", "query", "HKLM\\Software\\Policies\\Vantorix"}).status, 0);
}

TEST(WindowsPrograms, BothCarryTheirApplicationManifest) {
    for (const std::string program : {"Tolvane.exe", "Krandel.exe"}) {
        SCOPED_TRACE(program);
        const auto read = runOnHost({"x86_64-w64-mingw32-windres", "-J", "coff", "-O", "rc", "-i",
                                     WineStation::windowsBuild() + "/deploy/" + program});
        ASSERT_EQ(read.status, 0) << read.output;
        // The resource "1 24" (RT_MANIFEST) is printed as quoted lines, with
        // quotes doubled and line ends as \n.
        const auto begin = read.output.find("1 24 /* RT_MANIFEST */");
        ASSERT_NE(begin, std::string::npos) << "no manifest resource";
        const auto end = read.output.find("\nEND", begin);
        std::string manifest;
        const std::regex quoted(R"re(^\s*"(.*)"\s*$)re");
        std::istringstream lines(read.output.substr(begin, end - begin));
        for (std::string line; std::getline(lines, line);) {
            std::smatch m;
            if (std::regex_match(line, m, quoted))
                manifest += std::regex_replace(std::regex_replace(m[1].str(), std::regex(R"("")"), "\""),
                                               std::regex(R"(\\n$)"), "\n");
        }
        for (const char* declared :
             {R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
              R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)", R"(>true</longPathAware>)",
              R"(>true/pm</dpiAware>)", R"(>PerMonitorV2, PerMonitor</dpiAwareness>)"})
            EXPECT_NE(manifest.find(declared), std::string::npos) << declared << " not in:\n" << manifest;
        EXPECT_NE(manifest.find(std::string("name=\"Vantorix.") + program.substr(0, program.size() - 4) + "\""),
                  std::string::npos);
    }
}
