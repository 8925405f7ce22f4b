// Tolvane when things go wrong around it: tools that are missing, cannot be
// run, crash, never show a window or shrug off SIGTERM; the X server going
// away; and the wall clock jumping (set by hand, or across a change of
// daylight-saving time). Tolvane must keep verifying on time, leave the
// healthy tools alone, not leak, and never hang.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "tests/support/e2e/Holdings.h"
#include "tests/support/e2e/Station.h"

using namespace tolvane::testsupport;
using namespace tolvane::testsupport;

namespace {

namespace fs = std::filesystem;

std::string describe(const Holdings& h) {
    return "fds=" + std::to_string(h.descriptors) + " threads=" + std::to_string(h.threads) +
           " rss=" + std::to_string(h.rssKb) + "kB";
}

void expectFlat(const Holdings& early, const Holdings& late) {
    std::printf("[ holdings ] early %s, late %s\n", describe(early).c_str(), describe(late).c_str());
    ASSERT_GT(early.descriptors, 0);
    ASSERT_GT(late.descriptors, 0);
    EXPECT_LE(std::abs(late.descriptors - early.descriptors), 2) << describe(early) << " -> " << describe(late);
    EXPECT_EQ(late.threads, early.threads) << describe(early) << " -> " << describe(late);
    EXPECT_LE(late.rssKb - early.rssKb, 5 * 1024) << describe(early) << " -> " << describe(late);
}

// Environment for the next program started from this process, removed again
// when the scope ends so later starts do not inherit it.
class ScopedEnvironment {
public:
    void set(const char* name, const std::string& value) {
        ::setenv(name, value.c_str(), 1);
        m_names.push_back(name);
    }
    ~ScopedEnvironment() {
        for (const char* name : m_names) ::unsetenv(name);
    }

private:
    std::vector<const char*> m_names;
};

// A wall clock the test can set while Tolvane runs: libfaketime re-reads the
// file at every call (no cache), and a new "@..." line restarts the faked
// clock at that instant. Replaced by rename so a reader never sees half a line.
class SettableClock {
public:
    explicit SettableClock(std::string path) : m_path(std::move(path)) {}
    void set(const std::string& faketime) {
        const std::string temporary = m_path + ".new";
        {
            std::ofstream out(temporary, std::ios::trunc);
            out << faketime << "\n";
        }
        fs::rename(temporary, m_path);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

pid_t startWithSettableClock(Station& s, SettableClock& clock, const std::string& initial) {
    clock.set(initial);
    ScopedEnvironment env;
    env.set("LD_PRELOAD", libfaketimePath());
    env.set("FAKETIME_TIMESTAMP_FILE", clock.path());
    env.set("FAKETIME_NO_CACHE", "1");
    env.set("FAKETIME_DONT_FAKE_MONOTONIC", "1");
    return s.startTolvane();
}

void launchAndVerify(Station& s, int tool, int periodIndex) {
    s.setTool(tool, "Launch", "1");
    s.setTool(tool, "Tempo", "0");
    s.setTool(tool, "Check", "1");
    s.setTool(tool, "Freq", std::to_string(periodIndex));
}

void killAll(Station& s, const std::string& name) {
    for (const pid_t pid : s.running(name)) ::kill(pid, SIGKILL);
}

// libfaketime's offset ("+N x20") that puts the faked clock at `utc` now.
std::string offsetTo(const char* utcText, const char* speed) {
    std::tm tm{};
    ::strptime(utcText, "%Y-%m-%d %H:%M:%S", &tm);
    const long target = static_cast<long>(::timegm(&tm));
    return "+" + std::to_string(target - static_cast<long>(std::time(nullptr))) + " " + speed;
}

constexpr int OneMinute = 0;     // "01 Min": three real seconds at x20
constexpr int SixtyMinutes = 6;  // "60 Min"

// Tool 6 (VX8_Tools_Data) launched and verified at the period, Tolvane
// started on a clock the test sets; returns once the tool's window is there.
void startDataToolOnSettableClock(Station& s, SettableClock& clock, int periodIndex, const std::string& initial) {
    launchAndVerify(s, 6, periodIndex);
    startWithSettableClock(s, clock, initial);
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 1, 10s));
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Tools_Data"); }, 5s));
}

}  // namespace

TEST(Robustness, FaultyToolsNeitherStallVerificationNorDisturbTheOthers) {
    Station s;
    const std::string folder = s.folder();
    // Missing: moved away (the copies share one file, so nothing is deleted
    // or chmod-ed in place).
    fs::rename(folder + "/VX8_Tools_FTP", folder + "/VX8_Tools_FTP.away");
    // Not executable: a copy of its own, without the execute bits.
    fs::copy_file(folder + "/VX8_Tools_Pool", folder + "/Pool.tmp");
    fs::remove(folder + "/VX8_Tools_Pool");
    fs::rename(folder + "/Pool.tmp", folder + "/VX8_Tools_Pool");
    ::chmod((folder + "/VX8_Tools_Pool").c_str(), 0644);
    s.standinOptions("VX8_Broadcasters", "crash_after_ms=100\n");
    s.standinOptions("VX8_Player", "nowindow=1\n");
    s.standinOptions("VX8_Tools_Data", "ignore_sigterm=1\n");
    for (const int tool : {4, 5, 6, 8, 9, 10, 11, 12}) launchAndVerify(s, tool, OneMinute);

    const pid_t tolvane = s.startTolvane({}, "@2026-12-08 10:00:00 x20");
    const std::vector<std::string> healthy{"VX8_Tools_Data", "VX8_Cartwall", "VX8_Board", "VX8_Player_A"};
    ASSERT_TRUE(waitUntil([&] { return s.windowsExist(healthy); }, 10s));
    // Warm-up: the faulty ones have been through one verification.
    ASSERT_TRUE(waitUntil([&] { return s.startsOf("VX8_Broadcasters").size() >= 2; }, 10s));
    ASSERT_TRUE(waitUntil([&] { return s.startsOf("VX8_Player").size() >= 2; }, 5s));
    const Holdings early = holdingsOf(tolvane);

    // Three more starts of each, one per three-second period: not stalled
    // (within 15 s) and not spinning (not before two periods have passed).
    const auto crashed0 = s.startsOf("VX8_Broadcasters").size();
    const auto windowless0 = s.startsOf("VX8_Player").size();
    const auto from = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitUntil(
        [&] {
            return s.startsOf("VX8_Broadcasters").size() >= crashed0 + 3 &&
                   s.startsOf("VX8_Player").size() >= windowless0 + 3;
        },
        15s))
        << "crashing: " << s.startsOf("VX8_Broadcasters").size() - crashed0
        << ", windowless: " << s.startsOf("VX8_Player").size() - windowless0;
    const auto took = std::chrono::steady_clock::now() - from;
    EXPECT_GE(took, 5s);
    EXPECT_LE(s.startsOf("VX8_Broadcasters").size(), crashed0 + 5);
    EXPECT_LE(s.startsOf("VX8_Player").size(), windowless0 + 5);
    // A windowless tool is started again although it still runs: each
    // verification adds one, and they stay.
    EXPECT_GE(s.running("VX8_Player").size(), 4u);

    for (const auto& name : healthy) {
        EXPECT_EQ(s.startsOf(name).size(), 1u) << name;
        EXPECT_EQ(s.running(name).size(), 1u) << name;
    }
    EXPECT_TRUE(s.startsOf("VX8_Tools_FTP").empty());
    EXPECT_TRUE(s.startsOf("VX8_Tools_Pool").empty());

    // Put right, both are started at their next verification.
    fs::rename(folder + "/VX8_Tools_FTP.away", folder + "/VX8_Tools_FTP");
    ::chmod((folder + "/VX8_Tools_Pool").c_str(), 0755);
    EXPECT_TRUE(s.waitForStarts("VX8_Tools_FTP", 1, 8s));
    EXPECT_TRUE(s.waitForStarts("VX8_Tools_Pool", 1, 8s));
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Tools_FTP") && s.windowExists("VX8_Tools_Pool"); }, 5s));
    // One more period: both are found and left alone.
    EXPECT_FALSE(waitUntil(
        [&] { return s.startsOf("VX8_Tools_FTP").size() > 1 || s.startsOf("VX8_Tools_Pool").size() > 1; }, 4s));

    const Holdings late = holdingsOf(tolvane);
    expectFlat(early, late);
    EXPECT_TRUE(childrenOf(tolvane).empty()) << "Tolvane keeps " << childrenOf(tolvane).size() << " children";

    // Asked to end, Tolvane ends at once and leaves every tool running, the
    // one that ignores SIGTERM included.
    ::kill(tolvane, SIGTERM);
    const auto exit = waitForExit(tolvane, 5s);
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->status, 0);
    for (const auto& name : healthy) EXPECT_EQ(s.running(name).size(), 1u) << name;
}

TEST(Robustness, TolvaneEndsWhenTheXServerGoesAwayAndLeavesTheToolsRunning) {
    Station s;
    s.standinOptions("VX8_Player", "nowindow=1\n");
    for (const int tool : {5, 10}) {
        s.setTool(tool, "Launch", "1");
        s.setTool(tool, "Tempo", "0");
    }
    const pid_t tolvane = s.startTolvane();
    ASSERT_TRUE(s.waitForStarts("VX8_Player", 1, 10s));
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Cartwall"); }, 10s));
    ASSERT_EQ(s.running("VX8_Player").size(), 1u);

    s.x().stop();
    // With its display gone a Qt application cannot go on: it must end,
    // not hang nor spin.
    const auto exit = waitForExit(tolvane, 10s);
    ASSERT_TRUE(exit) << "Tolvane did not end after losing its X server";
    ASSERT_TRUE(exit->status);
    std::printf("[ x gone   ] Tolvane's wait status: %#x\n", *exit->status);
    // Qt reports the broken connection and exits with status 1; no signal,
    // no core.
    EXPECT_TRUE(WIFEXITED(*exit->status));
    EXPECT_EQ(WEXITSTATUS(*exit->status), 1);
    // The tool that needs no display outlives it: Tolvane kills nothing on
    // its way out.
    EXPECT_TRUE(staysAlive(s.running("VX8_Player").at(0), 500ms));
}

TEST(Robustness, ClockSetForwardMakesThePassedVerificationsDueAtOnce) {
    Station s;
    SettableClock clock(s.folder() + "/clock.rc");
    ASSERT_NO_FATAL_FAILURE(startDataToolOnSettableClock(s, clock, SixtyMinutes, "@2026-12-08 10:00:00"));

    killAll(s, "VX8_Tools_Data");
    // Its verification is an hour away: nothing happens.
    EXPECT_FALSE(s.waitForStarts("VX8_Tools_Data", 2, 2s));

    // Two hours later, its verification is overdue: it comes at the next tick.
    clock.set("@2026-12-08 12:00:00");
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 2, 3s));
    EXPECT_EQ(s.startsOf("VX8_Tools_Data").at(1).time.substr(0, 15), "2026-12-08 12:0")
        << "the restart did not happen on the moved clock";

    // And the next one is a period after that, not at every tick.
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Tools_Data"); }, 5s));
    killAll(s, "VX8_Tools_Data");
    EXPECT_FALSE(s.waitForStarts("VX8_Tools_Data", 3, 2s));
}

TEST(Robustness, ClockSetBackDelaysAVerificationByNoMoreThanItsPeriod) {
    Station s;
    SettableClock clock(s.folder() + "/clock.rc");
    ASSERT_NO_FATAL_FAILURE(startDataToolOnSettableClock(s, clock, OneMinute, "@2026-12-08 10:00:00 x20"));

    // Its verification was due at 10:01; the clock now reads 08:00. It comes
    // back within one period (three seconds), not two hours later.
    killAll(s, "VX8_Tools_Data");
    clock.set("@2026-12-08 08:00:00 x20");
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 2, 3s + 4s));
    EXPECT_EQ(s.startsOf("VX8_Tools_Data").at(1).time.substr(0, 15), "2026-12-08 08:0")
        << "the restart did not happen on the moved clock";

    // And verification goes on once per period on the new clock.
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Tools_Data"); }, 5s));
    killAll(s, "VX8_Tools_Data");
    EXPECT_TRUE(s.waitForStarts("VX8_Tools_Data", 3, 3s + 4s));
}

namespace {

// Tolvane started 40 faked seconds (two real ones) before a change of
// daylight-saving time in Paris, at twenty times the speed, with a tool that
// never shows a window: each verification starts it once more.
void verificationKeepsItsPaceAcross(const char* utcBeforeChange) {
    Station s;
    s.standinOptions("VX8_Player", "nowindow=1\n");
    launchAndVerify(s, 5, OneMinute);
    pid_t tolvane;
    {
        ScopedEnvironment env;
        env.set("TZ", "Europe/Paris");
        tolvane = s.startTolvane({}, offsetTo(utcBeforeChange, "x20"));
    }
    ASSERT_TRUE(s.waitForStarts("VX8_Player", 1, 10s));
    // Past the change (a few real seconds) and then three periods: three
    // more starts, neither held back by an hour nor in a burst.
    ASSERT_TRUE(waitUntil([&] { return s.startsOf("VX8_Player").size() >= 2; }, 3s + 4s));
    const auto before = s.startsOf("VX8_Player").size();
    const auto from = std::chrono::steady_clock::now();
    EXPECT_TRUE(s.waitForStarts("VX8_Player", before + 3, 3 * 3s + 4s))
        << "only " << s.startsOf("VX8_Player").size() - before << " verifications";
    EXPECT_GE(std::chrono::steady_clock::now() - from, 5s);
    const auto lines = s.startsOf("VX8_Player");
    std::printf("[ dst      ] starts at (faked local time):");
    for (const auto& l : lines) std::printf(" %s", l.time.substr(11, 8).c_str());
    std::printf("\n");
    EXPECT_TRUE(staysAlive(tolvane, 10ms));
}

}  // namespace

TEST(Robustness, VerificationKeepsItsPaceWhenSummerTimeBegins) {
    // 2027-03-28 01:59:20 CET; at 02:00 CET the clocks read 03:00 CEST.
    verificationKeepsItsPaceAcross("2027-03-28 00:59:20");
}

TEST(Robustness, VerificationKeepsItsPaceWhenSummerTimeEnds) {
    // 2027-10-31 02:59:20 CEST; at 03:00 CEST the clocks read 02:00 CET again.
    verificationKeepsItsPaceAcross("2027-10-31 00:59:20");
}
