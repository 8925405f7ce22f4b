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

constexpr std::int64_t S = 1000;
constexpr std::int64_t T0 = 5'000'000;  // any tick: only differences count

std::string describe(const std::optional<LoopLine>& line) {
    if (!line) return "";
    const auto n = [](int v) { return std::to_string(v); };
    const std::string counts = n(line->restartsSinceLine) + "/" + n(line->endsSinceLine) + " of " +
                               n(line->restartsInLoop) + " after " + loopDurationText(line->lastedMs);
    switch (line->kind) {
        case LoopLine::Kind::Began: return " began " + n(line->restartsInWindow);
        case LoopLine::Kind::Lasts: return " lasts " + counts;
        case LoopLine::Kind::Over: return std::string(line->held ? " over held " : " over quiet ") + counts;
    }
    return " ?";
}

std::string describe(const ToolLoop::Step& step) { return (step.fold ? "fold" : "write") + describe(step.line); }

TEST(ToolLoopRules, RestartsEndsAndTicksOfALoop) {
    enum class Do { Restart, End, Seen, Tick, Tooltip };
    struct Row {
        const char* scenario;  // a new one starts with a fresh tool
        Do what;
        std::int64_t at;  // ms after T0
        const char* expected;
        int times = 1;  // the same, `every` ms apart; the last one's answer
        std::int64_t every = 0;
    };
    const std::vector<Row> rows{
        {"the third restart within ten minutes", Do::Restart, 0, "write"},
        {"the third restart within ten minutes", Do::Restart, 300 * S, "write"},
        {"the third restart within ten minutes", Do::Tooltip, 300 * S, "-"},
        {"the third restart within ten minutes", Do::Restart, 600 * S - 1, "fold began 3"},
        {"the third restart within ten minutes", Do::Tooltip, 600 * S - 1, "Redémarre en boucle : 3 fois en 10 min"},
        // The first restart has left the ten minutes.
        {"the third restart within ten minutes", Do::Tooltip, 600 * S, "Redémarre en boucle : 2 fois en 10 min"},
        {"the third restart within ten minutes", Do::End, 610 * S, "fold"},
        {"the third restart within ten minutes", Do::Restart, 620 * S, "fold"},
        {"the third restart within ten minutes", Do::Tooltip, 620 * S, "Redémarre en boucle : 3 fois en 10 min"},

        {"three restarts over ten minutes", Do::Restart, 0, "write"},
        {"three restarts over ten minutes", Do::Restart, 300 * S, "write"},
        {"three restarts over ten minutes", Do::Restart, 600 * S, "write"},
        {"three restarts over ten minutes", Do::End, 601 * S, "write"},

        {"a loop an hour long that then holds", Do::Restart, 0, "fold began 3", 3, 60 * S},
        {"a loop an hour long that then holds", Do::End, 125 * S, "fold"},
        {"a loop an hour long that then holds", Do::Restart, 420 * S, "fold", 11, 300 * S},  // to 3420 s
        {"a loop an hour long that then holds", Do::Tick, 3719 * S, "-"},
        {"a loop an hour long that then holds", Do::Tick, 3720 * S, "- lasts 11/1 of 14 after 1 h 00 min"},
        {"a loop an hour long that then holds", Do::Tick, 3721 * S, "-"},
        {"a loop an hour long that then holds", Do::Restart, 3900 * S, "fold"},
        {"a loop an hour long that then holds", Do::Seen, 3910 * S, ""},
        {"a loop an hour long that then holds", Do::Tick, 4499 * S, "-"},
        {"a loop an hour long that then holds", Do::Tooltip, 4499 * S, "Redémarre en boucle : 1 fois en 10 min"},
        {"a loop an hour long that then holds", Do::Tooltip, 4500 * S, "-"},
        {"a loop an hour long that then holds", Do::Tick, 4500 * S, "- over held 1/0 of 15 after 1 h 13 min"},
        {"a loop an hour long that then holds", Do::Tick, 4501 * S, "-"},
        // Over: an end is written again, and one restart makes no loop.
        {"a loop an hour long that then holds", Do::End, 4600 * S, "write"},
        {"a loop an hour long that then holds", Do::Restart, 4610 * S, "write"},

        // Seen, then ended: not held. Nothing started it again (its
        // "Vérifier" unticked): over all the same.
        {"a loop not started again", Do::Restart, 0, "fold began 3", 3, 60 * S},
        {"a loop not started again", Do::Seen, 125 * S, ""},
        {"a loop not started again", Do::End, 130 * S, "fold"},
        {"a loop not started again", Do::Tick, 720 * S, "- over quiet 0/1 of 3 after 10 min"},

        // The memory pass's tick had not come yet: the restart closes the
        // quiet loop first, and is written.
        {"a restart after a quiet loop", Do::Restart, 0, "fold began 3", 3, 60 * S},
        {"a restart after a quiet loop", Do::Seen, 130 * S, ""},
        {"a restart after a quiet loop", Do::Restart, 725 * S, "write over held 0/0 of 3 after 10 min"},
        {"a restart after a quiet loop", Do::Restart, 730 * S, "write"},
        {"a restart after a quiet loop", Do::Restart, 735 * S, "fold began 3"},
    };
    std::string scenario;
    ToolLoop loop;
    for (const Row& r : rows) {
        if (r.scenario != scenario) {
            scenario = r.scenario;
            loop = ToolLoop{};
        }
        std::string got;
        for (int k = 0; k < r.times; ++k) {
            const std::int64_t now = T0 + r.at + k * r.every;
            switch (r.what) {
                case Do::Restart: got = describe(loop.restarted(now)); break;
                case Do::End: got = describe(loop.ended(now)); break;
                case Do::Seen: loop.seenRunning(); break;
                case Do::Tick: got = "-" + describe(loop.tick(now)); break;
                case Do::Tooltip: got = loop.tooltip(now).value_or("-"); break;
            }
        }
        EXPECT_EQ(got, r.expected) << scenario << ", at " << r.at / S << " s";
    }
    EXPECT_EQ(loopDurationText(59'999), "59 s");
    EXPECT_EQ(loopDurationText(3'599'999), "59 min");
    EXPECT_EQ(loopDurationText(7'500'000), "2 h 05 min");
}

}  // namespace
}  // namespace tolvane
