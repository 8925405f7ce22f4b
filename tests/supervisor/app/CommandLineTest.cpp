// Tolvane's own command line: the two requests answered without a window.
#include <gtest/gtest.h>

#include "supervisor/app/CommandLine.h"

using namespace tolvane;

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
