// Krandel's command line, its "/Test" switch and its wait across a wrap of
// the system's tick counter.
#include <gtest/gtest.h>

#include <cstdint>

#include "common/MonotonicTickCount.h"
#include "restart/RestartRules.h"

using namespace tolvane;

TEST(RestartCommand, StartsTolvaneBesideKrandelWithBaseCurrent) {
    const auto win = restartCommand("C:\\Program Files\\Vantorix Été", '\\', ".exe");
    EXPECT_EQ(win.applicationPath, "C:\\Program Files\\Vantorix Été\\Tolvane.exe");
    EXPECT_EQ(win.arguments, "/Base=Current");
    // "/Test" shows the command line as it has always read, unquoted.
    EXPECT_EQ(win.displayText, "C:\\Program Files\\Vantorix Été\\Tolvane.exe /Base=Current");

    const auto lin = restartCommand("/opt/vantorix", '/', "");
    EXPECT_EQ(lin.applicationPath, "/opt/vantorix/Tolvane");
    EXPECT_EQ(lin.displayText, "/opt/vantorix/Tolvane /Base=Current");
}

TEST(RestartCommand, FolderOfAnExecutable) {
    EXPECT_EQ(folderOf("/opt/vantorix/Krandel", '/'), "/opt/vantorix");
    EXPECT_EQ(folderOf("C:\\V\\Krandel.exe", '\\'), "C:\\V");
    EXPECT_EQ(folderOf("Krandel", '/'), "");
}

TEST(RestartTestSwitch, FoundAnywhereInAnyCase) {
    EXPECT_TRUE(hasTestSwitch("/Test"));
    EXPECT_TRUE(hasTestSwitch("/test"));
    EXPECT_TRUE(hasTestSwitch("x /TEST y"));
    EXPECT_TRUE(hasTestSwitch("/Testing"));
    EXPECT_FALSE(hasTestSwitch(""));
    EXPECT_FALSE(hasTestSwitch("/Tes"));
    EXPECT_FALSE(hasTestSwitch("Test"));
    EXPECT_FALSE(hasTestSwitch("/ Test"));
}

TEST(RestartWait, RemainingNeverNegative) {
    EXPECT_EQ(remainingWaitMs(0, RestartDelayMs), 10000);
    EXPECT_EQ(remainingWaitMs(9999, 10000), 1);
    EXPECT_EQ(remainingWaitMs(10000, 10000), 0);
    EXPECT_EQ(remainingWaitMs(20000, 10000), 0);
}

// The raw counter wraps from 4294967295 to a small value in the middle of
// the wait: the wait neither ends early nor lasts for ever.
TEST(RestartWait, WrapOfTheTickCounterDuringTheWait) {
    std::uint32_t raw = 4294967295u - 2500u;
    MonotonicTickCount tick([&] { return raw; });
    const std::int64_t deadline = tick() + RestartDelayMs;
    int steps = 0;
    while (remainingWaitMs(tick(), deadline) > 0 && steps < 100) {
        raw += 500u;  // wraps after five steps
        ++steps;
    }
    EXPECT_EQ(steps, 20);
}

TEST(RestartFailure, MessageNamesThePathAndTheReason) {
    const std::string missing = startFailureMessage("/opt/v/Tolvane", false);
    EXPECT_NE(missing.find("/opt/v/Tolvane"), std::string::npos);
    EXPECT_NE(missing.find("introuvable"), std::string::npos);
    const std::string refused = startFailureMessage("/opt/v/Tolvane", true);
    EXPECT_NE(refused.find("refusé"), std::string::npos);
}
