// A long run of the whole station: thirty tools verified every (faked)
// minute, one of them killed from outside every two seconds. Every killed
// tool must come back within its period plus a margin, no tool may ever run
// twice, and Tolvane itself must not grow (descriptors, threads, memory) nor
// leave zombies. Three minutes here; bench/soak.sh runs the same for an hour
// (TOLVANE_SOAK_MINUTES) and prints a line a minute.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/e2e/Holdings.h"
#include "tests/support/e2e/Station.h"

using namespace tolvane::testsupport;
using namespace tolvane::testsupport;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::set<pid_t> zombieChildren(pid_t pid) {
    std::set<pid_t> zombies;
    for (const auto& child : childrenOf(pid))
        if (child.state == 'Z') zombies.insert(child.pid);
    return zombies;
}

// Zombies of `now` that were zombies at the previous look already. Every
// start leaves a helper child that ends at once and that Tolvane reaps
// straight away; on a loaded machine a look at /proc can fall between the
// two. A child that is never reaped is still there 100 ms later.
std::size_t lingering(const std::set<pid_t>& before, const std::set<pid_t>& now) {
    std::size_t n = 0;
    for (const pid_t pid : now) n += before.count(pid);
    return n;
}

// One look at /proc: the live processes of each program of the folder.
std::map<std::string, std::vector<pid_t>> runningByName(const std::string& folder) {
    std::map<std::string, std::vector<pid_t>> byName;
    for (const pid_t pid : processesRunningFrom(folder)) {
        const auto exe = executablePath(pid);
        const auto state = processState(pid);
        if (!exe || !state || state->state == 'Z') continue;
        byName[fs::path(*exe).filename().string()].push_back(pid);
    }
    return byName;
}

int soakMinutes() {
    const char* text = std::getenv("TOLVANE_SOAK_MINUTES");
    const int minutes = text ? std::atoi(text) : 3;
    // Past 70 real minutes the faked clock reaches the next daily restart.
    return minutes > 0 ? std::min(minutes, 70) : 3;
}

struct Pending {
    std::string name;
    pid_t killed;
    Clock::time_point at;
};

}  // namespace

TEST(Soak, EveryKilledToolComesBackOnceAndTolvaneStaysFlat) {
    const auto minutes = soakMinutes();
    const auto soakLength = std::chrono::minutes(minutes);
    // One verification period (three real seconds at x20), the 250 ms tick
    // and a start on a loaded machine.
    const auto allowed = 3s + 4s;

    Station s;
    for (int tool = 0; tool < 30; ++tool) s.launchAndVerifyEveryMinute(tool);
    // Just after the daily restart at 04:07: a whole faked day (72 real
    // minutes at x20) passes before Tolvane would hand over to Krandel, so
    // an hour's soak watches one and the same Tolvane.
    const pid_t tolvane = s.startTolvane({}, "@2026-12-08 04:10:00 x20");
    const auto& names = toolNames();
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto running = runningByName(s.folder());
            for (const auto& name : names)
                if (!running.count(name)) return false;
            return true;
        },
        30s));
    ASSERT_TRUE(waitUntil([&] { return s.windowsExist(names); }, 15s));

    const unsigned seed = static_cast<unsigned>(std::random_device{}());
    std::printf("[ soak     ] %d min, seed %u\n", minutes, seed);
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> pick(0, names.size() - 1);

    std::vector<Pending> pending;
    std::size_t kills = 0, missed = 0, doubled = 0;
    std::map<std::string, bool> wasDoubled;
    Clock::duration slowest{};
    std::optional<Holdings> warm;
    std::size_t zombiesSeen = 0;  // the most zombies seen on two looks in a row
    std::set<pid_t> lastZombies;

    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    const auto start = Clock::now();
    auto nextKill = start;
    auto nextReport = start + 1min;
    Holdings lastReport = holdingsOf(tolvane);
    auto lastReportAt = start;

    const auto check = [&](const std::map<std::string, std::vector<pid_t>>& running, Clock::time_point now) {
        for (const auto& name : names) {
            const auto it = running.find(name);
            const bool two = it != running.end() && it->second.size() > 1;
            if (two && !wasDoubled[name]) {
                ++doubled;
                std::printf("[ soak     ] %s runs twice\n", name.c_str());
            }
            wasDoubled[name] = two;
        }
        for (auto p = pending.begin(); p != pending.end();) {
            const auto it = running.find(p->name);
            bool back = false;
            if (it != running.end())
                for (const pid_t pid : it->second) back = back || pid != p->killed;
            if (back) {
                slowest = std::max(slowest, now - p->at);
                p = pending.erase(p);
            } else if (now - p->at > allowed) {
                ++missed;
                std::printf("[ soak     ] %s not back %.1f s after its kill\n", p->name.c_str(),
                            std::chrono::duration<double>(now - p->at).count());
                p = pending.erase(p);
            } else {
                ++p;
            }
        }
    };

    const auto report = [&](Clock::time_point now) {
        const Holdings h = holdingsOf(tolvane);
        const double seconds = std::chrono::duration<double>(now - lastReportAt).count();
        const double cpu = 100.0 * static_cast<double>(h.cpuTicks - lastReport.cpuTicks) /
                           static_cast<double>(ticksPerSecond) / seconds;
        std::printf(
            "[ soak     ] min %3lld fds=%ld threads=%ld zombies=%zu rss=%ldkB cpu=%.1f%% kills=%zu "
            "missed=%zu doubled=%zu\n",
            static_cast<long long>(std::chrono::round<std::chrono::minutes>(now - start).count()), h.descriptors,
            h.threads, zombieChildren(tolvane).size(), h.rssKb, cpu, kills, missed, doubled);
        std::fflush(stdout);
        lastReport = h;
        lastReportAt = now;
        nextReport += 1min;
    };

    while (Clock::now() - start < soakLength) {
        const auto now = Clock::now();
        auto running = runningByName(s.folder());
        ASSERT_TRUE(running.count("Tolvane")) << "Tolvane ended during the soak";
        check(running, now);

        if (now >= nextKill) {
            nextKill += 2s;
            // A tool that is up and not already on its way back.
            for (int attempt = 0; attempt < 30; ++attempt) {
                const auto& name = names[pick(random)];
                bool isPending = false;
                for (const auto& p : pending) isPending = isPending || p.name == name;
                const auto it = running.find(name);
                if (isPending || it == running.end() || it->second.size() != 1) continue;
                ::kill(it->second[0], SIGKILL);
                pending.push_back({name, it->second[0], now});
                ++kills;
                break;
            }
        }
        // The test process adopts the tools' orphans: reap the killed ones.
        reapExitedChildren();
        auto zombies = zombieChildren(tolvane);
        zombiesSeen = std::max(zombiesSeen, lingering(lastZombies, zombies));
        lastZombies = std::move(zombies);

        if (!warm && now - start >= 30s) warm = holdingsOf(tolvane);
        if (now >= nextReport) report(now);
        std::this_thread::sleep_for(100ms);
    }

    // The last minute's line, which the loop ends just short of.
    if (Clock::now() >= nextReport - 1s) report(Clock::now());

    // The last kills get their period too.
    waitUntil(
        [&] {
            check(runningByName(s.folder()), Clock::now());
            return pending.empty();
        },
        allowed + 1s);
    // Once everything is back, settled: exactly one of each.
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto running = runningByName(s.folder());
            for (const auto& name : names) {
                const auto it = running.find(name);
                if (it == running.end() || it->second.size() != 1) return false;
            }
            return true;
        },
        allowed));
    const Holdings late = holdingsOf(tolvane);
    std::printf("[ soak     ] kills=%zu missed=%zu doubled=%zu slowest return %.1f s\n", kills, missed, doubled,
                std::chrono::duration<double>(slowest).count());
    ASSERT_TRUE(warm);
    std::printf("[ soak     ] after warm-up fds=%ld threads=%ld rss=%ldkB; at the end fds=%ld threads=%ld rss=%ldkB\n",
                warm->descriptors, warm->threads, warm->rssKb, late.descriptors, late.threads, late.rssKb);

    EXPECT_GE(kills, static_cast<std::size_t>(minutes) * 25);
    EXPECT_EQ(missed, 0u);
    EXPECT_EQ(doubled, 0u);
    EXPECT_TRUE(pending.empty());
    EXPECT_LE(std::abs(late.descriptors - warm->descriptors), 2);
    // One process descriptor per running tool at most: a watch let go when
    // its process ended is closed.
    EXPECT_LE(late.processWatches, 30);
    EXPECT_EQ(late.threads, warm->threads);
    EXPECT_LE(late.rssKb - warm->rssKb, 5 * 1024);
    EXPECT_EQ(zombiesSeen, 0u);
    EXPECT_TRUE(waitUntil([&] { return zombieChildren(tolvane).empty(); }, 1s)) << "a child of Tolvane stays a zombie";
}
