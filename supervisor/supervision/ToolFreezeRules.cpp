#include "supervisor/supervision/ToolFreezeRules.h"

namespace tolvane {

bool freezeQuestionDue(const ToolFreezeState& state, std::int64_t now) {
    return !state.askedAt || now - *state.askedAt >= FreezeQuestionMs;
}

FreezeStep freezeAnswered(ToolFreezeState& state, platform::WindowResponse answer, std::int64_t now,
                          std::optional<std::int64_t> startedAt, int restartMinutes) {
    const std::optional<std::int64_t> asked = state.askedAt;
    state.askedAt = now;
    switch (answer) {
        case platform::WindowResponse::Unknown:
            // Nothing counted, nothing forgotten: a silence goes on being
            // counted from its first question once the window can be asked.
            return {};
        case platform::WindowResponse::Answers: {
            FreezeStep step;
            if (state.frozen) step = {FreezeChange::AnswersAgain, now - *state.unansweredSince};
            state.unansweredSince.reset();
            state.frozen = false;
            state.restartDone = false;
            return step;
        }
        case platform::WindowResponse::NotAnswering: break;
    }
    // The question left unanswered is the previous one; one Tolvane never
    // asked (a backend's own state) counts from now.
    const std::int64_t question = asked.value_or(now);
    if (!state.unansweredSince) {
        // A silence that begins within the grace after a start does not count.
        if (startedAt && question - *startedAt < FreezeGraceMs) return {};
        state.unansweredSince = question;
    }
    const std::int64_t silent = now - *state.unansweredSince;
    if (!state.frozen) {
        if (silent < FrozenAfterMs) return {};
        state.frozen = true;
        // The restart, if one is due already, comes at the next question:
        // the freeze's own line goes first.
        return {FreezeChange::Froze, silent};
    }
    if (restartMinutes <= 0 || state.restartDone || silent < std::int64_t{restartMinutes} * 60'000) return {};
    state.restartDone = true;
    return {FreezeChange::Restart, silent};
}

void freezeForgotten(ToolFreezeState& state) { state = {}; }

}  // namespace tolvane
