// Tolvane's own command line: the settings' application name and the two
// requests answered without a window.
#include <gtest/gtest.h>

#include "supervisor/core/Startup.h"

using namespace tolvane;

TEST(ApplicationName, ExecutableBaseNameWithoutTheSystemSuffix) {
    EXPECT_EQ(applicationName("C:\\Program Files\\Vantorix\\Tolvane.exe", ".exe"), "Tolvane");
    EXPECT_EQ(applicationName("C:\\V\\TOLVANE.EXE", ".exe"), "TOLVANE");
    EXPECT_EQ(applicationName("/opt/vantorix/Tolvane", ""), "Tolvane");
    // A renamed copy keeps settings of its own; dots in the name stay.
    EXPECT_EQ(applicationName("/opt/v/Tolvane.test", ""), "Tolvane.test");
    EXPECT_EQ(applicationName("/opt/v/Tolvane2.exe", ".exe"), "Tolvane2");
    // No path at all still names a store.
    EXPECT_EQ(applicationName("", ""), "Tolvane");
}

TEST(InfoRequest, OnlyWhenItIsTheWholeCommandLine) {
    EXPECT_EQ(infoRequest({"--help"}), InfoRequest::Help);
    EXPECT_EQ(infoRequest({"--version"}), InfoRequest::Version);
    EXPECT_EQ(infoRequest({}), InfoRequest::None);
    EXPECT_EQ(infoRequest({"--help", "/Veille=True"}), InfoRequest::None);
    EXPECT_EQ(infoRequest({"/Veille=True", "--version"}), InfoRequest::None);
    EXPECT_EQ(infoRequest({"--HELP"}), InfoRequest::None);
    EXPECT_EQ(infoRequest({"--veille"}), InfoRequest::None);
}

TEST(InfoRequest, UsageNamesTheSwitchesAndTheVersion) {
    const std::string usage = usageText("2026.1208.0100");
    for (const char* s : {"2026.1208.0100", "/Veille=True", "/Base=Current", "--version"})
        EXPECT_NE(usage.find(s), std::string::npos) << s;
}
