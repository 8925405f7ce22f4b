#pragma once
// Pure rules for a tool whose window no longer answers: how often its window
// is asked, when it counts as frozen, when it answers again, and when the
// restart the operator chose for it is due. All instants are monotonic ticks
// in milliseconds; the wall clock only stamps the journal and the tooltip.
//
// A freeze is counted from the first question left unanswered, and only an
// answer "not answering" counts: a window that does not take part in the
// question, or a system that could not ask it, is unknown and changes
// nothing, so nothing is ever killed on a question nobody could answer.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "supervisor/core/ToolTable.h"

namespace tolvane {

// The windows are asked at most this often.
inline constexpr std::int64_t FreezeQuestionMs = 5'000;
// Unanswered this long in a row: frozen.
inline constexpr std::int64_t FrozenAfterMs = 15'000;
// A tool Tolvane started is not asked this soon after its start: a program
// loading its data may leave its window alone for a while.
inline constexpr std::int64_t FreezeGraceMs = 60'000;

struct ToolFreezeState {
    std::optional<std::int64_t> askedAt;          // the last question, whatever it got
    std::optional<std::int64_t> unansweredSince;  // the first question of the current silence
    bool frozen = false;
    bool restartDone = false;  // the chosen restart fired for this freeze
};

enum class FreezeChange {
    None,
    Froze,         // frozen from now on: journaled and shown
    AnswersAgain,  // a frozen window answers again
    Restart,       // frozen for the minutes chosen: end it, it comes back as after any end
};

struct FreezeStep {
    FreezeChange change = FreezeChange::None;
    // Froze, AnswersAgain, Restart: how long the window has not answered
    // (AnswersAgain: how long it did not).
    std::int64_t silentMs = 0;
};

// Is a new question to the tool's window due at `now`?
bool freezeQuestionDue(const ToolFreezeState& state, std::int64_t now);

// The answer to the question asked at state.askedAt, read at `now`, when a
// new question is asked. `startedAt` is Tolvane's last start of the tool (a
// question asked within the grace after it does not count), and
// `restartMinutes` the operator's choice (0: never).
FreezeStep freezeAnswered(ToolFreezeState& state, platform::WindowResponse answer, std::int64_t now,
                          std::optional<std::int64_t> startedAt, int restartMinutes);

// The tool's processes have ended, or it is no longer asked (its
// "Vérifier" unticked): what was counted is forgotten.
void freezeForgotten(ToolFreezeState& state);

}  // namespace tolvane
