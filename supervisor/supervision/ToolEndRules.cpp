#include "supervisor/supervision/ToolEndRules.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace tolvane {

bool armsWatch(platform::WindowPresence presence, bool watched) {
    return presence == platform::WindowPresence::Found && !watched;
}

std::int64_t settleAfterQuickEnds(int quickEnds, std::optional<int> periodSeconds) {
    // 2, 4, 8 s ...: 2^11 times the shortest is past the longest period, so
    // the shift is bounded long before it could overflow.
    const int doublings = std::clamp(quickEnds - 1, 0, 11);
    const std::int64_t settle = EndSettleMs << doublings;
    // A tool without a period is verified at every tick anyway.
    if (!periodSeconds || *periodSeconds <= 0) return settle;
    return std::min(settle, std::int64_t{*periodSeconds} * 1000);
}

EndOutcome lastProcessEnded(ToolEndState& state, const EndContext& context) {
    EndOutcome outcome;
    if (state.startedAt) outcome.ranMs = context.now - *state.startedAt;
    state.verifyAt.reset();

    // The button's own end is not a crash: it neither counts towards the
    // back-off nor brings the tool back before its periodic verification.
    if (state.killClickedAt && context.now - *state.killClickedAt <= KillButtonEndMs) {
        outcome.byKillButton = true;
        outcome.followUp = EndFollowUp::NextVerification;
        return outcome;
    }

    if (outcome.ranMs && *outcome.ranMs < QuickEndMs) {
        ++state.quickEnds;
    } else if (!outcome.ranMs || *outcome.ranMs >= SteadyRunMs) {
        // Not started by this Tolvane (found running) counts as a long run:
        // there is nothing to say it keeps dying.
        state.quickEnds = 0;
    }
    outcome.settleMs = settleAfterQuickEnds(state.quickEnds, context.periodSeconds);

    if (!context.verified) {
        outcome.followUp = EndFollowUp::NotVerified;
    } else if (!context.launchFinished) {
        outcome.followUp = EndFollowUp::AfterLaunchSequence;
    } else {
        outcome.followUp = EndFollowUp::VerifyAfterSettle;
        state.verifyAt = context.now + outcome.settleMs;
    }
    return outcome;
}

void toolStarted(ToolEndState& state, std::int64_t now) { state.startedAt = now; }

void killClicked(ToolEndState& state, std::int64_t now) { state.killClickedAt = now; }

void verificationAnswered(ToolEndState& state) { state.verifyAt.reset(); }

void handedOver(ToolEndState& state) {
    state.quickEnds = 0;
    state.startedAt.reset();
}

bool endVerificationDue(ToolEndState& state, std::int64_t now, bool verified, bool launchFinished) {
    if (!state.verifyAt) return false;
    if (!verified) {
        state.verifyAt.reset();
        return false;
    }
    return launchFinished && now >= *state.verifyAt;
}

SettleAction settleAction(RunningProcesses processes, platform::WindowPresence window) {
    using platform::WindowPresence;
    if (processes == RunningProcesses::Some) return {false, true, true};
    switch (window) {
        case WindowPresence::Found: return {false, false, true};
        // Absent, with a process list that could not be read, may be a tool
        // still opening its window: asked again.
        case WindowPresence::Absent:
            return {processes == RunningProcesses::None, false, processes == RunningProcesses::None};
        case WindowPresence::Unknown: break;
    }
    return {false, false, false};
}

std::string exitCodeText(std::uint32_t code) {
    static constexpr std::array<std::pair<std::uint32_t, const char*>, 14> named{{
        {0x00000000u, "fin normale"},
        {0x40010004u, "arrêté par le débogueur ou à la fermeture de session"},
        {0x80000003u, "point d'arrêt atteint"},
        {0xC0000005u, "violation d'accès"},
        {0xC000001Du, "instruction illégale"},
        {0xC0000017u, "mémoire insuffisante"},
        {0xC0000094u, "division entière par zéro"},
        {0xC00000FDu, "dépassement de pile"},
        {0xC0000135u, "DLL introuvable"},
        {0xC0000142u, "échec d'initialisation d'une DLL"},
        {0xC000013Au, "interrompu par Ctrl+C"},
        {0xC0000374u, "tas corrompu"},
        {0xC0000409u, "dépassement de mémoire tampon détecté"},
        {0xE06D7363u, "exception C++ non interceptée"},
    }};
    char number[16];
    if (code < 0x10000u)
        std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(code));
    else
        std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(code));
    std::string text = number;
    for (const auto& [value, name] : named) {
        if (value == code) return text + " (" + name + ")";
    }
    return text;
}

}  // namespace tolvane
