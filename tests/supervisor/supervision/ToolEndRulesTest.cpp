// What follows a tool's end, decided without a clock, a process or a window:
// which answers arm the watch, what an end leads to (the settle, the "Kill"
// button, the launch sequence, an unticked "Vérifier"), the back-off (its
// run of ends is ToolEndTest's), and what the verification after the settle
// does with what it finds.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "supervisor/supervision/ToolEndRules.h"

namespace tolvane {
namespace {

using platform::WindowPresence;

constexpr std::int64_t T0 = 1'000'000;  // any tick: only differences count

TEST(ToolEndRules, OnlyAWindowFoundArmsAWatchNotYetArmed) {
    struct Row {
        WindowPresence presence;
        bool watched;
        bool arms;
    };
    for (const Row& r : std::vector<Row>{
             {WindowPresence::Found, false, true},
             {WindowPresence::Found, true, false},  // already watched: not listed again
             {WindowPresence::Absent, false, false},
             {WindowPresence::Absent, true, false},
             {WindowPresence::Unknown, false, false},  // unknown never acts
             {WindowPresence::Unknown, true, false},
         })
        EXPECT_EQ(armsWatch(r.presence, r.watched), r.arms) << static_cast<int>(r.presence) << " watched " << r.watched;
}

TEST(ToolEndRules, WhatTheLastEndLeadsTo) {
    struct Row {
        const char* name;
        std::optional<std::int64_t> startedAgo;  // ms before the end; nothing: not started by us
        std::optional<std::int64_t> killAgo;     // ms since the "Kill" button
        int quickEndsBefore;
        bool verified;
        bool launchFinished;
        std::optional<int> period;
        // expected
        bool byKill;
        EndFollowUp followUp;
        std::int64_t settle;
        int quickEndsAfter;
    };
    using F = EndFollowUp;
    const std::vector<Row> rows{
        {"a crash after a long run", 3'600'000, {}, 0, true, true, 60, false, F::VerifyAfterSettle, 2000, 0},
        {"found running, never started by us", {}, {}, 3, true, true, 60, false, F::VerifyAfterSettle, 2000, 0},
        {"first end within a minute of the start",
         10'000,
         {},
         0,
         true,
         true,
         300,
         false,
         F::VerifyAfterSettle,
         2000,
         1},
        {"second in a row", 59'999, {}, 1, true, true, 300, false, F::VerifyAfterSettle, 4000, 2},
        {"fourth in a row", 1'000, {}, 3, true, true, 300, false, F::VerifyAfterSettle, 16000, 4},
        {"never beyond the period", 1'000, {}, 9, true, true, 60, false, F::VerifyAfterSettle, 60000, 10},
        {"one minute is not within it", 60'000, {}, 2, true, true, 300, false, F::VerifyAfterSettle, 4000, 2},
        {"nine minutes: the settle stays", 540'000, {}, 2, true, true, 300, false, F::VerifyAfterSettle, 4000, 2},
        {"ten minutes: back to the shortest", 600'000, {}, 5, true, true, 300, false, F::VerifyAfterSettle, 2000, 0},
        {"the Kill button, 5 s before", 20'000, 5'000, 1, true, true, 60, true, F::NextVerification, 0, 1},
        {"the Kill button, long before", 20'000, 5'001, 0, true, true, 60, false, F::VerifyAfterSettle, 2000, 1},
        {"Kill with Vérifier unticked", 20'000, 100, 0, false, true, 60, true, F::NextVerification, 0, 0},
        {"Vérifier unticked", 3'600'000, {}, 0, false, true, 60, false, F::NotVerified, 2000, 0},
        {"before the launch sequence ended", 3'000, {}, 0, true, false, 60, false, F::AfterLaunchSequence, 2000, 1},
        {"no period chosen", 1'000, {}, 4, true, true, {}, false, F::VerifyAfterSettle, 32000, 5},
        {"dying for ever: bounded, never overflowing",
         1'000,
         {},
         1'000'000,
         true,
         true,
         {},
         false,
         F::VerifyAfterSettle,
         4'096'000,
         1'000'001},
    };
    for (const Row& r : rows) {
        ToolEndState state;
        if (r.startedAgo) toolStarted(state, T0 - *r.startedAgo);
        if (r.killAgo) killClicked(state, T0 - *r.killAgo);
        state.quickEnds = r.quickEndsBefore;
        const EndOutcome out = lastProcessEnded(state, EndContext{T0, r.verified, r.launchFinished, r.period});
        EXPECT_EQ(out.byKillButton, r.byKill) << r.name;
        EXPECT_EQ(out.followUp, r.followUp) << r.name;
        if (r.followUp != F::NextVerification) {
            EXPECT_EQ(out.settleMs, r.settle) << r.name;
        }
        EXPECT_EQ(state.quickEnds, r.quickEndsAfter) << r.name;
        EXPECT_EQ(out.ranMs, r.startedAgo) << r.name;
        // Only a verified tool after the launch sequence gets a verification
        // of its own; every other end waits for what today's rules do.
        const auto expectedVerifyAt =
            r.followUp == F::VerifyAfterSettle ? std::optional<std::int64_t>(T0 + r.settle) : std::nullopt;
        EXPECT_EQ(state.verifyAt, expectedVerifyAt) << r.name;
    }
}

TEST(ToolEndRules, APendingVerificationIsDueAtItsTimeOnlyForAVerifiedToolAfterTheLaunchSequence) {
    struct Row {
        const char* name;
        std::int64_t sinceDue;  // now - verifyAt
        bool verified;
        bool launchFinished;
        bool due;
        bool stillPending;
    };
    for (const Row& r : std::vector<Row>{
             {"one millisecond early", -1, true, true, false, true},
             {"at its time", 0, true, true, true, true},
             {"late", 5'000, true, true, true, true},
             {"launch sequence still running", 5'000, true, false, false, true},
             {"Vérifier unticked meanwhile: dropped", 5'000, false, true, false, false},
         }) {
        ToolEndState state;
        state.verifyAt = T0;
        EXPECT_EQ(endVerificationDue(state, T0 + r.sinceDue, r.verified, r.launchFinished), r.due) << r.name;
        EXPECT_EQ(state.verifyAt.has_value(), r.stillPending) << r.name;
    }
    // Any answered verification (periodic, the button) makes it needless.
    ToolEndState state;
    state.verifyAt = T0;
    verificationAnswered(state);
    EXPECT_FALSE(endVerificationDue(state, T0 + 10'000, true, true));
    // And nothing is ever due without an end.
    EXPECT_FALSE(endVerificationDue(state, T0, true, true));
}

TEST(ToolEndRules, AHandOverToACopyOfItsOwnStartsTheBackOffOver) {
    // Two quick ends of a tool Tolvane started, then a copy it started itself
    // found at the settle: that copy's quick end is no third failure.
    ToolEndState state;
    toolStarted(state, 0);
    const EndContext at10{10'000, true, true, 300}, at20{20'000, true, true, 300}, at30{30'000, true, true, 300};
    lastProcessEnded(state, at10);
    EXPECT_EQ(lastProcessEnded(state, at20).settleMs, 4'000);
    handedOver(state);
    const EndOutcome outcome = lastProcessEnded(state, at30);
    EXPECT_EQ(outcome.settleMs, EndSettleMs);
    EXPECT_FALSE(outcome.ranMs);
}

TEST(ToolEndRules, TheVerificationAfterTheSettleStartsOnlyWhenNothingOfTheToolRuns) {
    struct Row {
        RunningProcesses processes;
        WindowPresence window;
        SettleAction expected;
    };
    using P = RunningProcesses;
    using W = WindowPresence;
    for (const Row& r : std::vector<Row>{
             // A process with its name runs (it restarted itself): watched, never doubled.
             {P::Some, W::Absent, {false, true, true}},
             {P::Some, W::Unknown, {false, true, true}},
             {P::Some, W::Found, {false, true, true}},
             // None runs: the window decides, as in any verification.
             {P::None, W::Absent, {true, false, true}},
             {P::None, W::Found, {false, false, true}},
             {P::None, W::Unknown, {false, false, false}},
             // The list could not be read: a window found still answers;
             // nothing else does, and nothing starts.
             {P::Unknown, W::Found, {false, false, true}},
             {P::Unknown, W::Absent, {false, false, false}},
             {P::Unknown, W::Unknown, {false, false, false}},
         }) {
        const SettleAction got = settleAction(r.processes, r.window);
        const auto name =
            std::to_string(static_cast<int>(r.processes)) + "/" + std::to_string(static_cast<int>(r.window));
        EXPECT_EQ(got.start, r.expected.start) << name;
        EXPECT_EQ(got.watchRunning, r.expected.watchRunning) << name;
        EXPECT_EQ(got.done, r.expected.done) << name;
    }
}

TEST(ToolEndRules, ExitCodesReadAsWindowsShowsThemWithTheCommonCrashesNamed) {
    struct Row {
        std::uint32_t code;
        const char* text;
    };
    for (const Row& r : std::vector<Row>{
             {0, "0 (fin normale)"},
             {1, "1"},  // taskkill /f, and most programs' own failure
             {259, "259"},
             {0xFFFF, "65535"},
             {0x10000, "0x00010000"},
             {0xC0000005, "0xC0000005 (violation d'accès)"},
             {0xC00000FD, "0xC00000FD (dépassement de pile)"},
             {0xC0000409, "0xC0000409 (dépassement de mémoire tampon détecté)"},
             {0xC0000374, "0xC0000374 (tas corrompu)"},
             {0xC0000135, "0xC0000135 (DLL introuvable)"},
             {0xE06D7363, "0xE06D7363 (exception C++ non interceptée)"},
             {0xDEADBEEF, "0xDEADBEEF"},
         })
        EXPECT_EQ(exitCodeText(r.code), r.text);
}

}  // namespace
}  // namespace tolvane
