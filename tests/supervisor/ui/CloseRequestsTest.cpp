#include <gtest/gtest.h>

#include <cstdint>

#include "supervisor/ui/CloseRequests.h"

namespace tolvane {
namespace {

TEST(CloseRequests, OnlyACloseRightAfterTheWindowsOwnCommandIsTheOperators) {
    using O = CloseRequests::Origin;
    // Each case: the instants of the close command (-1: none) and of the close.
    const struct {
        long long command;
        std::uint64_t close;
        O origin;
    } cases[] = {
        {100, 100, O::Operator},   // close box, system menu, Alt+F4
        {100, 2100, O::Operator},  // a slow machine: the close still follows
        {-1, 100, O::Outside},     // taskkill's WM_CLOSE alone
        {100, 2101, O::Outside},   // a command whose close never came
        {5000, 4000, O::Outside},  // a command after the close
    };
    for (const auto& c : cases) {
        CloseRequests requests;
        if (c.command >= 0) requests.closeCommand(static_cast<std::uint64_t>(c.command));
        EXPECT_EQ(requests.close(c.close), c.origin) << c.command << " " << c.close;
    }
    // A command lends its name to one close only: taskkill's close that
    // follows an operator's close is still from outside.
    CloseRequests requests;
    requests.closeCommand(10);
    EXPECT_EQ(requests.close(10), O::Operator);
    EXPECT_EQ(requests.close(11), O::Outside);
}

}  // namespace
}  // namespace tolvane
