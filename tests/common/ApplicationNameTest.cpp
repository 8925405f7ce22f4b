// The name both programs keep their settings and journal under.
#include <gtest/gtest.h>

#include "common/ApplicationName.h"

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
