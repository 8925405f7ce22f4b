// A window that no longer answers, decided from instants and answers alone:
// when a silence makes a freeze, what unknown answers change (nothing), the
// grace after a start, the chosen restart (once per freeze), and what the
// stored choice means.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "supervisor/supervision/ToolFreezeRules.h"

namespace tolvane {
namespace {

using platform::WindowResponse;

TEST(ToolFreezeRules, AnswersOfAToolOverTime) {
    constexpr auto A = WindowResponse::Answers;
    constexpr auto N = WindowResponse::NotAnswering;
    constexpr auto U = WindowResponse::Unknown;
    struct Row {
        char tool;        // a new letter, a fresh tool
        std::int64_t at;  // seconds: the instant of the answer (and of the next question)
        WindowResponse answer;
        const char* expected;  // the change and how long it has been silent
        std::optional<std::int64_t> startedAt = std::nullopt;
        int restartMinutes = 0;
    };
    const std::vector<Row> rows{
        // Counted from the question first left unanswered (at 5): frozen at 20.
        {'a', 0, U, "-"},
        {'a', 5, A, "-"},
        {'a', 10, N, "-"},
        {'a', 15, N, "-"},
        {'a', 19, N, "-"},
        {'a', 20, N, "froze 15"},
        {'a', 25, N, "-"},
        {'a', 30, U, "-"},  // unknown forgets nothing
        {'a', 35, A, "answers 30"},
        {'a', 40, N, "-"},  // a new silence counts afresh
        {'a', 50, N, "froze 15"},
        // Unknown answers in the middle of a silence neither end nor extend it.
        {'b', 0, U, "-"},
        {'b', 5, N, "-"},
        {'b', 10, U, "-"},
        {'b', 15, U, "-"},
        {'b', 20, N, "froze 20"},
        // A window that never takes part is never frozen.
        {'c', 0, U, "-"},
        {'c', 100, U, "-"},
        {'c', 1000, U, "-"},
        // The grace: a silence that begins within 60 s of the start does not
        // count; the first question after it does.
        {'d', 10, U, "-", 0},
        {'d', 55, N, "-", 0},
        {'d', 60, N, "-", 0},  // the question of 55 was within the grace
        {'d', 65, N, "-", 0},  // counted from 60
        {'d', 75, N, "froze 15", 0},
        // A tool Tolvane did not start has no grace.
        {'e', 0, U, "-"},
        {'e', 5, N, "-"},
        {'e', 15, N, "froze 15"},
        // The chosen restart: from the first question left unanswered, once.
        {'f', 0, U, "-", std::nullopt, 1},
        {'f', 5, N, "-", std::nullopt, 1},
        {'f', 15, N, "froze 15", std::nullopt, 1},
        {'f', 55, N, "-", std::nullopt, 1},
        {'f', 60, N, "restart 60", std::nullopt, 1},
        {'f', 65, N, "-", std::nullopt, 1},
        {'f', 600, N, "-", std::nullopt, 1},
        // A long unknown stretch inside a silence: the freeze's line first,
        // the restart at the next question.
        {'g', 0, U, "-", std::nullopt, 2},
        {'g', 5, N, "-", std::nullopt, 2},
        {'g', 200, U, "-", std::nullopt, 2},
        {'g', 205, N, "froze 205", std::nullopt, 2},
        {'g', 210, N, "restart 210", std::nullopt, 2},
        // Answered again, then frozen again: a new restart is due.
        {'g', 215, A, "answers 215", std::nullopt, 2},
        {'g', 220, N, "-", std::nullopt, 2},
        {'g', 235, N, "froze 20", std::nullopt, 2},
        {'g', 335, N, "restart 120", std::nullopt, 2},
        // "Never" never restarts.
        {'h', 0, U, "-"},
        {'h', 5, N, "-"},
        {'h', 20, N, "froze 20"},
        {'h', 3600, N, "-"},
    };
    char tool = 0;
    ToolFreezeState state;
    bool frozen = false;
    for (const auto& row : rows) {
        if (row.tool != tool) state = {}, tool = row.tool, frozen = false;
        const auto ms = [](std::optional<std::int64_t> s) {
            return s ? std::optional<std::int64_t>(*s * 1000) : std::nullopt;
        };
        const FreezeStep step = freezeAnswered(state, row.answer, row.at * 1000, ms(row.startedAt), row.restartMinutes);
        std::string got = "-";
        const auto silent = std::to_string(step.silentMs / 1000);
        switch (step.change) {
            case FreezeChange::None: break;
            case FreezeChange::Froze: got = "froze " + silent; break;
            case FreezeChange::AnswersAgain: got = "answers " + silent; break;
            case FreezeChange::Restart: got = "restart " + silent; break;
        }
        EXPECT_EQ(got, row.expected) << row.tool << " at " << row.at;
        // Frozen from its line to the answer that ends it, restart or not.
        if (step.change == FreezeChange::Froze) frozen = true;
        if (step.change == FreezeChange::AnswersAgain) frozen = false;
        EXPECT_EQ(state.frozen, frozen) << row.tool << " at " << row.at;
    }
}

TEST(ToolFreezeRules, QuestionsFiveSecondsApartAndForgetting) {
    ToolFreezeState state;
    EXPECT_TRUE(freezeQuestionDue(state, 0));
    freezeAnswered(state, WindowResponse::Unknown, 1'000, std::nullopt, 0);
    EXPECT_FALSE(freezeQuestionDue(state, 5'999));
    EXPECT_TRUE(freezeQuestionDue(state, 6'000));
    freezeAnswered(state, WindowResponse::NotAnswering, 6'000, std::nullopt, 0);
    freezeAnswered(state, WindowResponse::NotAnswering, 16'000, std::nullopt, 0);
    ASSERT_TRUE(state.frozen);
    // Its end, a new start or "Vérifier" unticked: nothing of the silence is kept.
    freezeForgotten(state);
    EXPECT_FALSE(state.frozen);
    EXPECT_FALSE(state.unansweredSince);
    EXPECT_TRUE(freezeQuestionDue(state, 16'001));
}

TEST(ToolFreezeRules, StoredChoiceOfRestart) {
    const struct {
        const char* stored;
        FreezeRestartSetting expected;
        const char* shown;
    } rows[] = {
        {"", {0, true}, "jamais"},     {"0", {0, true}, "jamais"},   {"1", {1, true}, "1 min"},
        {"2", {2, true}, "2 min"},     {"5", {5, true}, "5 min"},    {"10", {10, true}, "10 min"},
        {"3", {0, false}, "jamais"},   {"01", {0, false}, "jamais"}, {" 5", {0, false}, "jamais"},
        {"5 ", {0, false}, "jamais"},  {"-1", {0, false}, "jamais"}, {"jamais", {0, false}, "jamais"},
        {"10x", {0, false}, "jamais"}, {"60", {0, false}, "jamais"},
    };
    for (const auto& row : rows) {
        const auto setting = freezeRestartSetting(row.stored);
        EXPECT_EQ(setting, row.expected) << '"' << row.stored << '"';
        EXPECT_EQ(freezeRestartText(setting.minutes), row.shown) << '"' << row.stored << '"';
    }
}

}  // namespace
}  // namespace tolvane
