// A looping tool, decided from instants alone: when restarts make a loop,
// which restart and end lines are folded, the hour's line, the end of a loop
// that held or was only not started again, and what the tooltip says.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "supervisor/supervision/ToolLoopRules.h"

namespace tolvane {
namespace {

std::string describe(const std::optional<LoopLine>& line) {
    if (!line) return "";
    const auto n = [](int v) { return std::to_string(v); };
    if (line->kind == LoopLine::Kind::Began) return " began " + n(line->restartsInWindow);
    return std::string(line->kind == LoopLine::Kind::Lasts ? " lasts "
                       : line->held                        ? " held "
                                                           : " quiet ") +
           n(line->restartsSinceLine) + "/" + n(line->endsSinceLine) + " of " + n(line->restartsInLoop) + " after " +
           loopDurationText(line->lastedMs);
}

TEST(ToolLoopRules, RestartsEndsAndTicksOfALoop) {
    enum Do { Restart, End, Seen, Tick, Tip };
    struct Row {
        char tool;  // a new letter, a fresh tool
        Do what;
        std::int64_t at;  // seconds
        const char* expected;
        int times = 1;  // repeated every `every` seconds; the last answer
        std::int64_t every = 0;
    };
    const std::vector<Row> rows{
        {'a', Restart, 0, "write"},
        {'a', Restart, 300, "write"},
        {'a', Tip, 300, "-"},
        {'a', Restart, 599, "fold began 3"},
        {'a', Tip, 599, "Redémarre en boucle : 3 fois en 10 min"},
        {'a', Tip, 600, "Redémarre en boucle : 2 fois en 10 min"},  // the first has left the ten minutes
        {'a', End, 610, "fold"},
        {'a', Restart, 620, "fold"},
        // Three restarts over ten minutes make no loop.
        {'b', Restart, 0, "write", 3, 300},
        {'b', End, 601, "write"},
        // An hour long, then seen running for ten minutes.
        {'c', Restart, 0, "fold began 3", 3, 60},
        {'c', End, 125, "fold"},
        {'c', Restart, 420, "fold", 11, 300},  // to 3420 s
        {'c', Tick, 3719, "-"},
        {'c', Tick, 3720, "- lasts 11/1 of 14 after 1 h 00 min"},
        {'c', Restart, 3900, "fold"},
        {'c', Seen, 3910, ""},
        {'c', Tick, 4499, "-"},
        {'c', Tip, 4499, "Redémarre en boucle : 1 fois en 10 min"},
        {'c', Tip, 4500, "-"},
        {'c', Tick, 4500, "- held 1/0 of 15 after 1 h 13 min"},
        {'c', End, 4600, "write"},
        // Seen, then ended, and not started again: over, not held.
        {'d', Restart, 0, "fold began 3", 3, 60},
        {'d', Seen, 125, ""},
        {'d', End, 130, "fold"},
        {'d', Tick, 720, "- quiet 0/1 of 3 after 10 min"},
        // Before the tick: a restart closes the quiet loop first.
        {'e', Restart, 0, "fold began 3", 3, 60},
        {'e', Seen, 130, ""},
        {'e', Restart, 725, "write held 0/0 of 3 after 10 min"},
        {'e', Restart, 735, "fold began 3", 2, 5},
    };
    char tool = 0;
    ToolLoop loop;
    for (const Row& r : rows) {
        if (r.tool != tool) tool = r.tool, loop = ToolLoop{};
        std::string got;
        for (int k = 0; k < r.times; ++k) {
            const std::int64_t now = 5'000'000 + (r.at + k * r.every) * 1000;
            const auto step = [](const ToolLoop::Step& s) { return (s.fold ? "fold" : "write") + describe(s.line); };
            if (r.what == Restart) got = step(loop.restarted(now));
            if (r.what == End) got = step(loop.ended(now));
            if (r.what == Seen) loop.seenRunning();
            if (r.what == Tick) got = "-" + describe(loop.tick(now));
            if (r.what == Tip) got = loop.tooltip(now).value_or("-");
        }
        EXPECT_EQ(got, r.expected) << tool << " at " << r.at << " s";
    }
}

}  // namespace
}  // namespace tolvane
