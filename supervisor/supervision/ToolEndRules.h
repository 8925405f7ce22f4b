#pragma once
// Pure rules for what follows a tool's end: when its processes are watched,
// what an end leads to (a verification after a short settle, or nothing), how
// the settle grows for a tool that keeps dying soon after its start, and
// what the verification after the settle does with what it finds. All times
// are monotonic ticks in milliseconds; the wall clock only stamps the
// journal.
//
// Two rules hold throughout: only a window seen arms a watch, so a program
// that hands over to a helper of another name is never taken for a crash;
// and an answer the system could not give never starts anything.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace tolvane {

// The settle after an end before the tool is verified: a program that
// restarts itself, or an update replacing it, has its new process running by
// then.
inline constexpr std::int64_t EndSettleMs = 2'000;
// An end this soon after the tool's start counts towards the back-off.
inline constexpr std::int64_t QuickEndMs = 60'000;
// A tool that ran this long is settled again after the shortest wait.
inline constexpr std::int64_t SteadyRunMs = 600'000;
// An end this soon after the "Kill" button was pressed is the button's.
inline constexpr std::int64_t KillButtonEndMs = 5'000;

// What is kept per tool between its start, its ends and its verifications.
struct ToolEndState {
    std::optional<std::int64_t> startedAt;      // Tolvane's last start of it
    std::optional<std::int64_t> killClickedAt;  // the last press of its "Kill" button
    int quickEnds = 0;                          // ends in a row within QuickEndMs of the start
    std::optional<std::int64_t> verifyAt;       // a verification due after an end
};

// Does a verification's answer arm the watch of the tool's processes? Only a
// window found, and only when they are not watched already.
bool armsWatch(platform::WindowPresence presence, bool watched);

// What the tool's row says when its last watched process ends.
struct EndContext {
    std::int64_t now = 0;
    bool verified = false;        // its "Vérifier" box is ticked
    bool launchFinished = false;  // the launch sequence has ended
    std::optional<int> periodSeconds;
};

enum class EndFollowUp {
    VerifyAfterSettle,    // verified once the settle is over
    NotVerified,          // "Vérifier" is not ticked: journaled only
    AfterLaunchSequence,  // verification waits for the launch sequence, as ever
    NextVerification,     // the "Kill" button's end: back at its next periodic verification
};

struct EndOutcome {
    bool byKillButton = false;
    EndFollowUp followUp = EndFollowUp::NotVerified;
    std::int64_t settleMs = 0;          // for VerifyAfterSettle
    std::optional<std::int64_t> ranMs;  // since Tolvane started it, when it did
};

// The settle after the n-th end in a row within QuickEndMs of the start
// (n = 0 or 1: the shortest), doubled at each, never beyond the period.
std::int64_t settleAfterQuickEnds(int quickEnds, std::optional<int> periodSeconds);

// The last watched process of the tool has ended: updates the back-off and
// the pending verification, and says what follows.
EndOutcome lastProcessEnded(ToolEndState& state, const EndContext& context);

// Tolvane started the tool; its "Kill" button was pressed; a verification of
// it was answered (found or absent), which makes a pending verification
// after an end needless.
void toolStarted(ToolEndState& state, std::int64_t now);
void killClicked(ToolEndState& state, std::int64_t now);
void verificationAnswered(ToolEndState& state);
// The settle found a process of the tool's name running that Tolvane did not
// start: the tool handed over to a copy of its own (it restarted itself, an
// update replaced it). That end was no failure, so the back-off starts over,
// and the copy has no start time of ours.
void handedOver(ToolEndState& state);

// Is the verification after an end due? Never before the launch sequence has
// ended, and only for a tool whose "Vérifier" box is ticked: unticked in the
// meantime, the pending verification is dropped.
bool endVerificationDue(ToolEndState& state, std::int64_t now, bool verified, bool launchFinished);

// What the verification after the settle found of processes with the tool's
// executable name.
enum class RunningProcesses { Some, None, Unknown };

// What it does: a process running (it restarted itself, an update replaced
// it) starts nothing and is watched instead; none, and the window decides as
// in any verification. Anything the system could not answer that might hide
// a running tool leaves the verification pending, asked again next tick.
struct SettleAction {
    bool start = false;
    bool watchRunning = false;
    bool done = false;  // answered: the next verification is a period away
};
// `window` is only looked at when `processes` is not Some.
SettleAction settleAction(RunningProcesses processes, platform::WindowPresence window);

// The exit code as the journal shows it: decimal for small codes, 0x%08X for
// the system's status codes, with the usual crash codes named in French
// ("0xC0000005 (violation d'accès)").
std::string exitCodeText(std::uint32_t code);

}  // namespace tolvane
