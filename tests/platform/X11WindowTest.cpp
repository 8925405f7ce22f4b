// The Linux backend's "is this tool running" test against a real X server,
// with and without a reparenting window manager, on windows of real
// stand-ins and on windows this test makes itself.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "platform/platform.h"
#include "standin/StandinLog.h"
#include "tests/support/posix/Processes.h"
#include "tests/support/posix/TempFolder.h"
#include "tests/support/posix/XServer.h"

namespace {

using namespace tolvane::testsupport;
using tolvane::platform::Platform;
using tolvane::platform::ShowState;
using tolvane::standin::StandinLogLine;

const std::string kStandin = TOLVANE_STANDIN_PATH;

// One bare X server and one with openbox, shared by the tests of this binary
// and started on first use.
class WindowTestEnvironment : public testing::Environment {
public:
    void SetUp() override { adoptOrphans(); }
    void TearDown() override {
        servers().clear();
        reapExitedChildren();
    }
    static XServer& server(bool withWindowManager) {
        auto& s = servers()[withWindowManager];
        if (!s) s = std::make_unique<XServer>(withWindowManager);
        return *s;
    }

private:
    static std::map<bool, std::unique_ptr<XServer>>& servers() {
        static std::map<bool, std::unique_ptr<XServer>> all;
        return all;
    }
};
testing::Environment* const windowEnvironment = testing::AddGlobalTestEnvironment(new WindowTestEnvironment);

// Stand-ins in a folder of their own, stopped at the end.
class StandinFolder {
public:
    ~StandinFolder() { stopProgramsRunningFrom(m_folder.path()); }

    std::string tool(const std::string& name, const std::string& switches = {}) {
        makeCopies(kStandin, m_folder.path(), {name});
        if (!switches.empty()) writeFile(m_folder.file(name + ".standin"), switches);
        return m_folder.file(name);
    }
    std::vector<StandinLogLine> log() const { return tolvane::standin::readLogFile(m_folder.file("standin.log")); }

    // Starts one program and gives the line it logged once its window exists.
    std::optional<StandinLogLine> startAndWait(Platform& platform, const std::string& path,
                                               const std::string& arguments, ShowState show) {
        const std::size_t before = log().size();
        if (!platform.startProgram(path, arguments, show)) return std::nullopt;
        std::vector<StandinLogLine> lines;
        if (!waitUntil(
                [&] {
                    lines = log();
                    return lines.size() > before;
                },
                10s))
            return std::nullopt;
        return lines.back();
    }

private:
    TempFolder m_folder;
};

class X11Windows : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        server().makeCurrent();
        m_platform = tolvane::platform::createSystemPlatform();
        m_probe = std::make_unique<XProbe>(server().display());
        ASSERT_TRUE(m_probe->connected());
    }

    XServer& server() { return WindowTestEnvironment::server(managed()); }
    bool managed() const { return GetParam(); }
    bool found(const std::string& title) { return m_platform->topLevelWindowExists(title); }

    std::optional<StandinLogLine> start(const std::string& name, const std::string& arguments, ShowState show,
                                        const std::string& switches = {}) {
        return m_tools.startAndWait(*m_platform, m_tools.tool(name, switches), arguments, show);
    }

    std::uint32_t clientWindowOf(const StandinLogLine& line) {
        std::optional<std::uint32_t> w;
        waitUntil(
            [&] {
                w = m_probe->windowOfProcess(static_cast<pid_t>(line.pid));
                return w.has_value();
            },
            5s);
        return w.value_or(0);
    }

    // With openbox, waits until the client sits inside a frame: only then does
    // the test exercise the reparented case.
    void expectReparentedWhenManaged(std::uint32_t client) {
        if (managed()) {
            EXPECT_TRUE(waitUntil([&] { return m_probe->parentOf(client) != m_probe->root(); }, 5s))
                << "openbox did not reparent the window";
        } else {
            EXPECT_EQ(m_probe->parentOf(client), m_probe->root());
        }
    }

    std::unique_ptr<Platform> m_platform;
    std::unique_ptr<XProbe> m_probe;
    StandinFolder m_tools;
};

INSTANTIATE_TEST_SUITE_P(WindowManager, X11Windows, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "openbox" : "bare"; });

TEST_P(X11Windows, MappedWindowIsFoundByItsExactTitleInAnyCase) {
    const auto line = start("WinTest_Player_A", "/NoBase=0", ShowState::Normal);
    ASSERT_TRUE(line);
    const auto client = clientWindowOf(*line);
    ASSERT_NE(client, 0u);
    expectReparentedWhenManaged(client);

    EXPECT_TRUE(found("WinTest_Player_A"));
    EXPECT_TRUE(found("wintest_player_a"));
    EXPECT_TRUE(found("WINTEST_PLAYER_A"));
    EXPECT_FALSE(found("WinTest_Player"));  // a prefix is another tool
    EXPECT_FALSE(found("WinTest_Player_AB"));
    EXPECT_FALSE(found("WinTest_Player_A "));
    EXPECT_FALSE(found(""));
}

TEST_P(X11Windows, StandbyWindowIsFoundThoughNeverMapped) {
    const auto line = start("WinTest_Library", "/NoBase=0 /veille=TRUE", ShowState::Minimised);
    ASSERT_TRUE(line);
    const auto client = clientWindowOf(*line);
    ASSERT_NE(client, 0u);
    EXPECT_EQ(m_probe->mapState(client), XProbe::MapState::Unmapped);
    EXPECT_EQ(m_probe->parentOf(client), m_probe->root());  // never managed, never framed

    EXPECT_TRUE(found("WinTest_Library"));
}

TEST_P(X11Windows, HiddenStartLeavesTheWindowUnmappedAndStillFound) {
    const auto line = start("WinTest_Production", "", ShowState::Hidden);
    ASSERT_TRUE(line);
    const auto client = clientWindowOf(*line);
    ASSERT_NE(client, 0u);
    EXPECT_EQ(m_probe->mapState(client), XProbe::MapState::Unmapped);
    EXPECT_TRUE(found("WinTest_Production"));
}

TEST_P(X11Windows, MinimisedStartIsIconicAndNormalStartIsNot) {
    const auto iconic = start("WinTest_Player_C", "", ShowState::Minimised);
    const auto normal = start("WinTest_Player_D", "", ShowState::Normal);
    ASSERT_TRUE(iconic);
    ASSERT_TRUE(normal);
    const auto iconicWindow = clientWindowOf(*iconic);
    const auto normalWindow = clientWindowOf(*normal);
    ASSERT_NE(iconicWindow, 0u);
    ASSERT_NE(normalWindow, 0u);

    // WM_HINTS initial_state: 3 = IconicState, 1 = NormalState.
    EXPECT_EQ(m_probe->cardinalProperty(iconicWindow, "WM_HINTS", 2), 3u);
    EXPECT_EQ(m_probe->cardinalProperty(normalWindow, "WM_HINTS", 2), 1u);
    if (managed()) {
        // The window manager honours the hint: WM_STATE says so.
        EXPECT_TRUE(waitUntil([&] { return m_probe->cardinalProperty(iconicWindow, "WM_STATE") == 3u; }, 5s));
        EXPECT_TRUE(waitUntil([&] { return m_probe->cardinalProperty(normalWindow, "WM_STATE") == 1u; }, 5s));
        EXPECT_NE(m_probe->mapState(iconicWindow), XProbe::MapState::Viewable);
        EXPECT_TRUE(waitUntil([&] { return m_probe->mapState(normalWindow) == XProbe::MapState::Viewable; }, 5s));
    }
    EXPECT_TRUE(found("WinTest_Player_C"));
    EXPECT_TRUE(found("WinTest_Player_D"));
}

TEST_P(X11Windows, ProgramTitledOtherwiseDoesNotCountAsRunning) {
    const auto line = start("WinTest_Player_E", "", ShowState::Normal, "title=Something Else\n");
    ASSERT_TRUE(line);
    ASSERT_NE(clientWindowOf(*line), 0u);
    EXPECT_TRUE(found("Something Else"));
    EXPECT_FALSE(found("WinTest_Player_E"));
}

TEST_P(X11Windows, WindowIsGoneOnceTheProgramIsKilled) {
    // A name of this test's own: a kill reaches every process by that name,
    // also those of other tests running at the same time.
    const auto line = start("WindowTest_Killed", "", ShowState::Minimised);
    ASSERT_TRUE(line);
    ASSERT_TRUE(found("WindowTest_Killed"));
    m_platform->killProcessesNamed("WindowTest_Killed");
    EXPECT_TRUE(waitUntil([&] { return !found("WindowTest_Killed"); }, 5s));
}

TEST_P(X11Windows, TitlesFromEitherPropertyAndFromInsideAFrame) {
    // WM_NAME alone, Latin-1 as ICCCM has it: compared as the UTF-8 "Café".
    m_probe->createWindow(0, std::pair<std::string, std::string>{"STRING", "Caf\xE9 Latin"}, std::nullopt);
    // WM_NAME alone but in UTF-8, as many toolkits write it.
    m_probe->createWindow(0, std::pair<std::string, std::string>{"UTF8_STRING", "Wm Utf8 Été"}, std::nullopt);
    // _NET_WM_NAME alone.
    m_probe->createWindow(0, std::nullopt, "Net Only Été");
    // A frame without a name holding the named client, as a window manager
    // without _NET_CLIENT_LIST would leave it.
    const auto frame = m_probe->createWindow(0, std::nullopt, std::nullopt);
    m_probe->createWindow(frame, std::pair<std::string, std::string>{"STRING", "Inside A Frame"}, std::nullopt);
    // Deeper windows are parts of a program's window, not top-level ones.
    const auto outer = m_probe->createWindow(0, std::nullopt, std::nullopt);
    const auto middle = m_probe->createWindow(outer, std::nullopt, std::nullopt);
    const auto deep = m_probe->createWindow(middle, std::nullopt, "Two Levels Down");
    const std::string longTitle(300, 'L');
    m_probe->createWindow(0, std::nullopt, longTitle);

    EXPECT_TRUE(found("Café Latin"));
    EXPECT_TRUE(found("CAFé latin"));   // ASCII letters in any case...
    EXPECT_FALSE(found("CAFÉ Latin"));  // ...other letters as they are
    EXPECT_TRUE(found("wm utf8 Été"));
    EXPECT_TRUE(found("NET ONLY Été"));
    EXPECT_TRUE(found("inside a frame"));
    EXPECT_FALSE(found("Two Levels Down"));
    EXPECT_TRUE(found(longTitle));
    EXPECT_FALSE(found(longTitle.substr(1)));

    if (!managed()) {
        // The window manager's client list counts wherever the client sits.
        // (With openbox running the list is openbox's own to write.)
        m_probe->setClientList({deep});
        EXPECT_TRUE(found("Two Levels Down"));
    }
}

// Thirty tools, as Tolvane verifies them: one sweep answers all of them and
// costs a couple of round trips, not one per window.
TEST_P(X11Windows, ThirtyToolsAreAnsweredInOneSweep) {
    std::vector<std::string> titles = {
        "WinTest_Library",  "WinTest_Production", "WinTest_Scheduler", "WinTest_Planner",           "WinTest_Player",
        "WinTest_Player_A", "WinTest_Player_B",   "WinTest_Player_C",  "WinTest_Player_D",          "WinTest_Player_E",
        "WinTest_Player_F", "WinTest_Player_G",   "WinTest_Player_H",  "WinTest_Tools_Voice_Server"};
    for (int i = static_cast<int>(titles.size()); i < 30; ++i) titles.push_back("WinTest_Tool_" + std::to_string(i));
    for (std::size_t i = 0; i < titles.size(); ++i) {
        // Half of them in standby (unmapped), the others minimised.
        ASSERT_TRUE(m_platform->startProgram(m_tools.tool(titles[i]), i % 2 ? "/Veille=True" : "/NoBase=0",
                                             ShowState::Minimised));
    }
    ASSERT_TRUE(waitUntil([&] { return m_tools.log().size() == titles.size(); }, 15s));

    std::vector<std::string> asked = titles;
    asked.insert(asked.begin() + 7, "WinTest_Not_Running");
    asked.push_back("wintest_tool_29");  // the same tool asked in another case
    std::vector<bool> expected(asked.size(), true);
    expected[7] = false;
    EXPECT_EQ(m_platform->topLevelWindowsExist(asked), expected);

    const auto medianMicros = [&](const std::vector<std::string>& ask, std::size_t expectedFound) {
        std::vector<double> micros;
        for (int round = 0; round < 100; ++round) {
            const auto t0 = std::chrono::steady_clock::now();
            const auto answer = m_platform->topLevelWindowsExist(ask);
            micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
            EXPECT_EQ(static_cast<std::size_t>(std::count(answer.begin(), answer.end(), true)), expectedFound);
        }
        std::sort(micros.begin(), micros.end());
        return micros[micros.size() / 2];
    };
    const double allRunning = medianMicros(titles, 30);
    std::vector<std::string> oneMissing = titles;
    oneMissing.push_back("WinTest_Not_Running");
    const double withOneMissing = medianMicros(oneMissing, 30);
    std::cout << "[ figures  ] one sweep over 30 tools (" << (managed() ? "openbox" : "no window manager")
              << "): median " << allRunning << " us with all running, " << withOneMissing
              << " us with one more not running\n";
    // A window-by-window version (a round trip per property) costs about a
    // hundred round trips; the sweep costs two plus the server's work, about
    // 0.4 ms here. The bound leaves room for tests running side by side.
    EXPECT_LT(allRunning, 5000.0);
    // A missing title also looks inside every frame (dozens of decoration
    // windows each under openbox): dearer, still bounded.
    EXPECT_LT(withOneMissing, 30000.0);
}

// Does a window still answer (_NET_WM_PING) -------------------------------------

using tolvane::platform::WindowResponse;
using Responses = std::vector<WindowResponse>;

// Questions asked `spacing` apart, as Tolvane spaces them (closer, so that
// the test stays short), the first one `spacing` after the question asked
// before, until `until` holds for an answer or `timeout` has passed. Every
// answer is kept.
struct Questions {
    std::vector<Responses> answers;
    bool reached = false;
};
Questions askEvery(Platform& platform, const std::vector<std::string>& titles, std::chrono::milliseconds spacing,
                   std::chrono::milliseconds timeout, const std::function<bool(const Responses&)>& until) {
    Questions questions;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() + spacing <= deadline) {
        // A question's pings are answered by the next one: asked at once,
        // it would find even a live window's reply still on its way.
        std::this_thread::sleep_for(spacing);
        questions.answers.push_back(platform.windowsResponse(titles));
        if (until(questions.answers.back())) {
            questions.reached = true;
            break;
        }
    }
    return questions;
}

std::string describe(const Responses& answers) {
    std::string text;
    for (const auto a : answers) {
        text += a == WindowResponse::Answers        ? "Answers "
                : a == WindowResponse::NotAnswering ? "NotAnswering "
                                                    : "Unknown ";
    }
    return text;
}

// A live stand-in answers from the second question on; one that stops reading
// its X events is "not answering" at the first question after that, and
// answers again once it reads them again. A window that does not take part,
// a title no window carries and a window that has gone are unknown, never
// "not answering".
TEST_P(X11Windows, PingsTellALiveWindowFromAFrozenOne) {
    // Names no other test uses: stand-ins of one name cross-talk.
    const auto live = start("freeze_probe_live", "", ShowState::Normal);
    const auto frozen =
        start("freeze_probe_frozen", "", ShowState::Normal, "freeze_after_ms=4000\nfreeze_for_ms=3000\n");
    ASSERT_TRUE(live && frozen);
    ASSERT_NE(clientWindowOf(*live), 0u);
    ASSERT_NE(clientWindowOf(*frozen), 0u);
    // A named window that lists no WM_PROTOCOLS at all.
    m_probe->createWindow(0, std::pair<std::string, std::string>{"STRING", "freeze_probe_no_ping"}, std::nullopt);
    const std::vector<std::string> titles = {"freeze_probe_live", "FREEZE_PROBE_FROZEN", "freeze_probe_no_ping",
                                             "freeze_probe_absent"};
    enum { kLive, kFrozen, kNoPing, kAbsent };
    constexpr auto kSpacing = 500ms;

    // The first question about a window has nothing to tell yet.
    EXPECT_EQ(m_platform->windowsResponse(titles), Responses(4, WindowResponse::Unknown));

    // Up to the freeze: the live one answers every question, the one about
    // to freeze answers until it does.
    const auto untilFrozen = askEvery(*m_platform, titles, kSpacing, 15s,
                                      [](const Responses& r) { return r[kFrozen] == WindowResponse::NotAnswering; });
    ASSERT_TRUE(untilFrozen.reached) << (untilFrozen.answers.empty() ? "" : describe(untilFrozen.answers.back()));
    ASSERT_GE(untilFrozen.answers.size(), 2u) << "froze before it was asked twice";
    for (std::size_t q = 0; q < untilFrozen.answers.size(); ++q) {
        const auto& r = untilFrozen.answers[q];
        EXPECT_EQ(r[kLive], WindowResponse::Answers) << "question " << q << ": " << describe(r);
        EXPECT_EQ(r[kNoPing], WindowResponse::Unknown) << "question " << q << ": " << describe(r);
        EXPECT_EQ(r[kAbsent], WindowResponse::Unknown) << "question " << q << ": " << describe(r);
        if (q + 1 < untilFrozen.answers.size()) {
            EXPECT_EQ(r[kFrozen], WindowResponse::Answers) << "question " << q << ": " << describe(r);
        }
    }

    // Frozen until it reads its events again, then answering at once.
    const auto untilBack = askEvery(*m_platform, titles, kSpacing, 15s,
                                    [](const Responses& r) { return r[kFrozen] == WindowResponse::Answers; });
    ASSERT_TRUE(untilBack.reached) << (untilBack.answers.empty() ? "" : describe(untilBack.answers.back()));
    for (std::size_t q = 0; q < untilBack.answers.size(); ++q) {
        const auto& r = untilBack.answers[q];
        EXPECT_EQ(r[kLive], WindowResponse::Answers) << "question " << q << ": " << describe(r);
        if (q + 1 < untilBack.answers.size()) {
            EXPECT_EQ(r[kFrozen], WindowResponse::NotAnswering) << "question " << q << ": " << describe(r);
        }
    }

    // Its window gone with it: never "not answering", whether or not it
    // answered the last ping before the kill (on a loaded machine it may
    // have), and unknown from the question after.
    ASSERT_EQ(::kill(static_cast<pid_t>(frozen->pid), SIGKILL), 0);
    ASSERT_TRUE(waitUntil([&] { return !found("freeze_probe_frozen"); }, 5s));
    std::this_thread::sleep_for(kSpacing);  // the live one's reply on its way, as above
    const auto afterKill = m_platform->windowsResponse(titles);
    EXPECT_NE(afterKill[kFrozen], WindowResponse::NotAnswering) << describe(afterKill);
    std::this_thread::sleep_for(kSpacing);
    const auto later = m_platform->windowsResponse(titles);
    EXPECT_EQ(later, (Responses{WindowResponse::Answers, WindowResponse::Unknown, WindowResponse::Unknown,
                                WindowResponse::Unknown}))
        << describe(later);

    // A window left out of a question is forgotten: asked again, it starts
    // over.
    EXPECT_EQ(m_platform->windowsResponse({"freeze_probe_absent"}), Responses{WindowResponse::Unknown});
    EXPECT_EQ(m_platform->windowsResponse({"freeze_probe_live"}), Responses{WindowResponse::Unknown});
    EXPECT_TRUE(m_platform->windowsResponse({}).empty());
}

// Without a display ---------------------------------------------------------------

class DisplayVariable {
public:
    DisplayVariable() {
        if (const char* d = ::getenv("DISPLAY")) m_saved = d;
    }
    ~DisplayVariable() {
        if (m_saved)
            ::setenv("DISPLAY", m_saved->c_str(), 1);
        else
            ::unsetenv("DISPLAY");
    }

private:
    std::optional<std::string> m_saved;
};

using tolvane::platform::WindowPresence;
using Answers = std::vector<WindowPresence>;

// A display that cannot be reached is a question without an answer, never a
// display without windows.
TEST(X11WindowsWithoutServer, NoDisplayIsUnknownNeverAbsent) {
    const DisplayVariable restore;
    ::unsetenv("DISPLAY");
    EXPECT_EQ(tolvane::platform::createSystemPlatform()->topLevelWindowPresence("WinTest_Library"),
              WindowPresence::Unknown);
    ::setenv("DISPLAY", ":4321", 1);  // no server there
    const auto platform = tolvane::platform::createSystemPlatform();
    EXPECT_EQ(platform->topLevelWindowsPresence({"WinTest_Library", "WinTest_Player"}),
              (Answers{WindowPresence::Unknown, WindowPresence::Unknown}));
    EXPECT_TRUE(platform->topLevelWindowsPresence({}).empty());
    EXPECT_EQ(platform->windowsResponse({"WinTest_Library", "WinTest_Player"}),
              (std::vector<tolvane::platform::WindowResponse>(2, tolvane::platform::WindowResponse::Unknown)));
}

TEST(X11WindowsWithoutServer, ServerThatWentAwayIsUnknownAndTheNextOneIsUsed) {
    const DisplayVariable restore;
    StandinFolder tools;
    const auto platform = tolvane::platform::createSystemPlatform();

    auto first = std::make_unique<XServer>(false);
    first->makeCurrent();
    const auto line = tools.startAndWait(*platform, tools.tool("WinTest_Player_G"), "", ShowState::Normal);
    ASSERT_TRUE(line);
    ASSERT_EQ(platform->topLevelWindowPresence("WinTest_Player_G"), WindowPresence::Found);

    first->stop();
    // The stand-in sees its connection go and ends on its own, cleanly.
    const auto exit = waitForExit(static_cast<pid_t>(line->pid), 5s);
    ASSERT_TRUE(exit);
    ASSERT_TRUE(exit->status);
    EXPECT_TRUE(WIFEXITED(*exit->status) && WEXITSTATUS(*exit->status) == 0);

    // Writing to a server that has gone must neither kill us (SIGPIPE) nor
    // hang, and its windows are not reported absent.
    EXPECT_EQ(platform->topLevelWindowPresence("WinTest_Player_G"), WindowPresence::Unknown);
    EXPECT_EQ(platform->topLevelWindowPresence("WinTest_Player_G"), WindowPresence::Unknown);

    const XServer second(false);
    second.makeCurrent();
    ASSERT_TRUE(tools.startAndWait(*platform, tools.tool("WinTest_Player_H"), "", ShowState::Normal));
    // Asked again once the quiet time after an unanswered question is over.
    EXPECT_TRUE(
        waitUntil([&] { return platform->topLevelWindowPresence("WinTest_Player_H") == WindowPresence::Found; }, 15s));
    EXPECT_EQ(platform->topLevelWindowPresence("WinTest_Player_G"), WindowPresence::Absent);
}

// Questions asked at the verification tick's pace (every 250 ms) of a
// display that does not answer: `seconds` of ticks, the answers of each and
// how long the ticks waited in all.
struct Ticks {
    std::vector<Answers> answers;
    std::chrono::milliseconds waited{0};
};
Ticks askAtTickPace(Platform& platform, const std::vector<std::string>& titles, std::chrono::milliseconds length) {
    Ticks ticks;
    const auto end = std::chrono::steady_clock::now() + length;
    while (std::chrono::steady_clock::now() < end) {
        const auto t0 = std::chrono::steady_clock::now();
        ticks.answers.push_back(platform.topLevelWindowsPresence(titles));
        const auto took = std::chrono::steady_clock::now() - t0;
        ticks.waited += std::chrono::duration_cast<std::chrono::milliseconds>(took);
        if (took < 250ms) std::this_thread::sleep_for(250ms - took);
    }
    return ticks;
}

// A server that accepts but never answers (stopped): the first tick waits its
// second and answers unknown; the ticks of the next five seconds answer
// unknown without waiting, so the window's clock never freezes.
TEST(X11WindowsWithoutServer, ServerThatDoesNotAnswerIsUnknownAndWaitedForOnceInFiveSeconds) {
    const DisplayVariable restore;
    StandinFolder tools;
    const auto platform = tolvane::platform::createSystemPlatform();
    XServer server(false);
    server.makeCurrent();
    ASSERT_TRUE(tools.startAndWait(*platform, tools.tool("WinTest_Frozen"), "", ShowState::Normal));
    ASSERT_EQ(platform->topLevelWindowPresence("WinTest_Frozen"), WindowPresence::Found);

    server.freeze();
    const auto ticks = askAtTickPace(*platform, {"WinTest_Frozen", "WinTest_Never"}, 4500ms);
    for (const auto& answers : ticks.answers)
        EXPECT_EQ(answers, (Answers{WindowPresence::Unknown, WindowPresence::Unknown}));
    // About a second for the first tick, nothing worth counting for the rest
    // (eighteen ticks would have waited eighteen seconds).
    EXPECT_GE(ticks.answers.size(), 10u);
    EXPECT_LT(ticks.waited, 2s) << ticks.answers.size() << " ticks";

    server.thaw();
    EXPECT_TRUE(
        waitUntil([&] { return platform->topLevelWindowPresence("WinTest_Frozen") == WindowPresence::Found; }, 15s));
}

// Another client holding the server (a window manager's or screen grabber's
// grab) for three and a half seconds: the tool's window is never reported
// absent meanwhile, nor "not answering" though a ping to it was out when the
// grab began, and both questions are answered again once the grab ends.
TEST(X11WindowsWithoutServer, GrabbedServerIsUnknownNeverAbsent) {
    const DisplayVariable restore;
    StandinFolder tools;
    const auto platform = tolvane::platform::createSystemPlatform();
    XServer server(true);
    server.makeCurrent();
    ASSERT_TRUE(tools.startAndWait(*platform, tools.tool("WinTest_Grabbed"), "", ShowState::Normal));
    ASSERT_EQ(platform->topLevelWindowPresence("WinTest_Grabbed"), WindowPresence::Found);
    const std::vector<std::string> title = {"WinTest_Grabbed"};
    const auto answering = [](const Responses& r) { return r == Responses{WindowResponse::Answers}; };
    ASSERT_EQ(platform->windowsResponse(title), Responses{WindowResponse::Unknown});
    ASSERT_TRUE(askEvery(*platform, title, 500ms, 10s, answering).reached);

    XProbe grabber(server.display());
    grabber.grabServer();
    // A ping sent now cannot reach the tool, and the question waits for the
    // server, not for ever.
    const auto t0 = std::chrono::steady_clock::now();
    const auto response = platform->windowsResponse(title);
    const auto waited = std::chrono::steady_clock::now() - t0;
    const auto ticks = askAtTickPace(*platform, title, 3500ms);
    grabber.ungrabServer();
    // Its answer to the ping sent before the grab may still be told; "not
    // answering" never.
    EXPECT_NE(response, Responses{WindowResponse::NotAnswering});
    EXPECT_LT(waited, 3s);
    ASSERT_FALSE(ticks.answers.empty());
    for (const auto& answers : ticks.answers) EXPECT_EQ(answers, Answers{WindowPresence::Unknown});
    EXPECT_TRUE(
        waitUntil([&] { return platform->topLevelWindowPresence("WinTest_Grabbed") == WindowPresence::Found; }, 15s));
    // The connection was opened anew: a first question again, then answers.
    EXPECT_EQ(platform->windowsResponse(title), Responses{WindowResponse::Unknown});
    EXPECT_TRUE(askEvery(*platform, title, 500ms, 10s, answering).reached);
}

}  // namespace
