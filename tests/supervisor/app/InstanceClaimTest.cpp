#include <gtest/gtest.h>

#include "supervisor/app/InstanceClaim.h"

namespace tolvane {
namespace {

using platform::InstanceLockAttempt;
using platform::SessionProcess;
using Sessions = std::optional<std::vector<SessionProcess>>;

constexpr auto Taken = InstanceLockAttempt::Taken;
constexpr auto Held = InstanceLockAttempt::Held;
constexpr auto Foreign = InstanceLockAttempt::Foreign;
constexpr auto Failed = InstanceLockAttempt::Failed;

struct Case {
    const char* what;
    InstanceLockAttempt attempt;
    bool machineWide;
    Sessions others;
    bool answerOver;
    bool takeOverOver;
    ClaimStep expected;
};

TEST(InstanceClaim, WhatAStartDoesFromTheLockAndTheSessions) {
    // This process runs in session 1.
    const SessionProcess here{40, 1, "STATION\\operateur"};
    const SessionProcess rdp{77, 3, "STATION\\it"};
    const SessionProcess console{12, 2, "STATION\\operateur"};
    const Sessions none = std::vector<SessionProcess>{};
    const Case cases[] = {
        {"taken", Taken, true, std::nullopt, false, false, ClaimStep::Supervise},
        // Linux: another user on our name is in the way, not a Tolvane of ours.
        {"per user, held by another user", Foreign, false, std::nullopt, false, false, ClaimStep::SuperviseWithoutLock},
        {"per user, held by this user", Held, false, std::nullopt, true, true, ClaimStep::AskHolder},
        // A holder between taking the name and answering on it gets a moment.
        {"no lock, at first", Failed, false, std::nullopt, false, false, ClaimStep::WaitForLock},
        {"no lock, after the answer time", Failed, true, none, true, false, ClaimStep::SuperviseWithoutLock},
        // Windows, same session: the old way (show the first, wait for its lock).
        {"held, a Tolvane here", Held, true, std::vector{here}, false, false, ClaimStep::AskHolder},
        {"held, here and elsewhere", Held, true, std::vector{rdp, here}, true, true, ClaimStep::AskHolder},
        // Unknown is not absent: the holder is asked, never ignored.
        {"held, list unknown", Held, true, std::nullopt, true, true, ClaimStep::AskHolder},
        {"refused, list unknown", Foreign, true, std::nullopt, true, true, ClaimStep::AskHolder},
        {"held, only in another session", Held, true, std::vector{rdp}, false, false, ClaimStep::EndForOtherSession},
        {"refused by the system, Tolvane in another session", Foreign, true, std::vector{rdp}, false, false,
         ClaimStep::EndForOtherSession},
        // A holder on its way out (the nightly restart) is waited for...
        {"held, no Tolvane anywhere", Held, true, none, true, false, ClaimStep::WaitForLock},
        // ...but what holds the name past the take-over time is no Tolvane.
        {"refused past the take-over, no Tolvane", Foreign, true, none, true, true, ClaimStep::SuperviseWithoutLock},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decideClaim({c.attempt, c.machineWide, c.others, 1u, c.answerOver, c.takeOverOver}).step, c.expected)
            << c.what;

    // The session the journal names: the first one, with its user.
    ClaimSituation s{Held, true, std::vector{rdp, console}, 1u};
    const auto decision = decideClaim(s);
    ASSERT_EQ(decision.step, ClaimStep::EndForOtherSession);
    EXPECT_EQ(decision.otherSession.session, 2u);
    EXPECT_EQ(decision.otherSession.user, "STATION\\operateur");
    // Without its own session, a list cannot say "another session".
    s.ownSession.reset();
    EXPECT_EQ(decideClaim(s).step, ClaimStep::AskHolder);
}

TEST(ServicesSession, OnlySessionZeroNeverSupervises) {
    EXPECT_TRUE(inServicesSession(0u));
    EXPECT_FALSE(inServicesSession(1u));
    EXPECT_FALSE(inServicesSession(std::nullopt));  // Linux, or the system could not say
}

}  // namespace
}  // namespace tolvane
