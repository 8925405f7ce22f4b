#include "supervisor/app/InstanceClaim.h"

#include <algorithm>

namespace tolvane {

using platform::InstanceLockAttempt;

ClaimDecision decideClaim(const ClaimSituation& s) {
    switch (s.attempt) {
        case InstanceLockAttempt::Taken: return {ClaimStep::Supervise};
        case InstanceLockAttempt::Failed:
            // Perhaps a holder caught between taking the name and answering
            // on it: a moment more, then without a lock.
            return {s.answerTimeOver ? ClaimStep::SuperviseWithoutLock : ClaimStep::WaitForLock};
        case InstanceLockAttempt::Foreign:
            // A per-user lock held by another user is in the way, not held.
            if (!s.machineWide) return {ClaimStep::SuperviseWithoutLock};
            break;
        case InstanceLockAttempt::Held:
            if (!s.machineWide) return {ClaimStep::AskHolder};
            break;
    }
    // One per machine, and not ours. A list the system could not give never
    // counts as "no Tolvane runs": the holder is asked as it always was.
    if (!s.others || !s.ownSession) return {ClaimStep::AskHolder};
    const auto& others = *s.others;
    const auto here = [&](const platform::SessionProcess& p) { return p.session == *s.ownSession; };
    // A Tolvane in this very session keeps the old way: a second start shows
    // the first, and the nightly restart waits for its lock.
    if (std::any_of(others.begin(), others.end(), here)) return {ClaimStep::AskHolder};
    if (!others.empty()) {
        const auto first = std::min_element(others.begin(), others.end(),
                                            [](const auto& a, const auto& b) { return a.session < b.session; });
        return {ClaimStep::EndForOtherSession, *first};
    }
    // No Tolvane of this name anywhere: a holder on its way out lets go
    // within the take-over time; past it, what holds the name is no Tolvane.
    return {s.takeOverTimeOver ? ClaimStep::SuperviseWithoutLock : ClaimStep::WaitForLock};
}

bool inServicesSession(std::optional<std::uint32_t> sessionId) { return sessionId && *sessionId == 0; }

}  // namespace tolvane
