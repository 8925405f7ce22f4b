#pragma once
// What a starting Tolvane does about the one-Tolvane lock, from what the
// system said: the lock's answer and, where the lock is one per machine,
// which sessions run a Tolvane of the same name. Decided here, without a
// system call or a clock, so each case is tested directly.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/platform.h"

namespace tolvane {

struct ClaimSituation {
    platform::InstanceLockAttempt attempt{};
    bool machineWide = false;
    // The other processes of Tolvane's own file name, with their sessions,
    // and this process's session; nothing when the system could not tell.
    std::optional<std::vector<platform::SessionProcess>> others;
    std::optional<std::uint32_t> ownSession;
    // The 2 s a running Tolvane has to answer, and the 30 s more a holder on
    // its way out (the nightly restart) has to let go, are over.
    bool answerTimeOver = false;
    bool takeOverTimeOver = false;
};

enum class ClaimStep {
    Supervise,             // the lock is ours
    SuperviseWithoutLock,  // no lock to be had: supervising unlocked beats leaving
                           // the station alone
    AskHolder,             // ask the running Tolvane (same user, same session): it answers,
                           // or its lock is waited for
    WaitForLock,           // try again a little later
    EndForOtherSession     // a Tolvane of this name supervises from another session:
                           // this one ends
};

struct ClaimDecision {
    ClaimStep step{};
    // The Tolvane of the other session, for EndForOtherSession.
    platform::SessionProcess otherSession{};
};

ClaimDecision decideClaim(const ClaimSituation& situation);

// Whether Tolvane was started in the services' session (Windows' session 0,
// by a deployment agent or a service): no tool's window can be seen from
// there, so it would start the whole suite a second time.
bool inServicesSession(std::optional<std::uint32_t> sessionId);

}  // namespace tolvane
