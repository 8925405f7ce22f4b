// The administrator's policy and presets with the real Tolvane: a policy's
// "Lancer" and "Vérifier" decide what starts and what is started again,
// whatever the user's store says, and nothing of them reaches the user's
// file; a preset starts a tool for a user who never chose, and a preset
// changed later reaches that user at the next start, as a policy removed
// gives the user's own value back.
#include <gtest/gtest.h>

#include <QSettings>
#include <QString>

#include <signal.h>

#include "tests/support/e2e/Station.h"

using namespace tolvane::testsupport;

namespace {

// What the user's own file holds for a key, "<absent>" when nothing.
std::string userValue(Station& s, const std::string& section, const std::string& key) {
    QSettings ini(QString::fromStdString(s.settingsFile()), QSettings::IniFormat);
    const QVariant v = ini.value(QString::fromStdString(section + "/" + key));
    return v.isValid() ? v.toString().toStdString() : std::string("<absent>");
}

void endTolvane(Station& s) {
    for (const pid_t pid : s.tolvanes()) {
        ::kill(pid, SIGKILL);
        waitForExit(pid, 5s);
    }
}

}  // namespace

TEST(Policy, PolicyDecidesWhatStartsPresetsReachUsersWhoNeverChose) {
    Station s;
    // The user's own choices: VX8_Library launched at once.
    s.setTool(0, "Launch", "1");
    s.setTool(0, "Tempo", "0");
    s.setTool(12, "Launch", "0");
    s.setTool(12, "Check", "0");
    // IT enforces: VX8_Library not launched; VX8_Player_A launched and
    // verified every minute (three seconds at twenty times the speed).
    s.writePolicy({{"Launch", {{"Idx_0", "0"}, {"Idx_12", "1"}}},
                   {"Tempo", {{"Idx_12", "0"}}},
                   {"Check", {{"Idx_12", "1"}}},
                   {"Freq", {{"Idx_12", "0"}}},
                   {"Software", {{"InstallDir", "/opt/vantorix"}}}});
    // and presets VX8_Tools_Data, launched at once.
    s.writePresets({{"Launch", {{"Idx_6", "1"}}}, {"Tempo", {{"Idx_6", "0"}}}, {"General", {{"Autostart", "1"}}}});
    s.startTolvane({}, "@2026-12-08 10:00:00 x20");

    ASSERT_TRUE(s.waitForStarts("VX8_Player_A", 1, 15s)) << s.errors();
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Data", 1, 15s));
    ASSERT_TRUE(waitUntil([&] { return s.windowExists("VX8_Player_A"); }, 5s));
    // The policy's verification brings it back.
    for (const pid_t pid : s.running("VX8_Player_A")) ::kill(pid, SIGKILL);
    ASSERT_TRUE(s.waitForStarts("VX8_Player_A", 2, 15s));
    EXPECT_TRUE(s.startsOf("VX8_Library").empty());

    // Nothing of the policy or the presets is in the user's file; the
    // user's own values are kept as they were.
    EXPECT_EQ(userValue(s, "Launch", "Idx_0"), "1");
    EXPECT_EQ(userValue(s, "Launch", "Idx_12"), "0");
    EXPECT_EQ(userValue(s, "Check", "Idx_12"), "0");
    EXPECT_EQ(userValue(s, "Tempo", "Idx_12"), "<absent>");
    EXPECT_EQ(userValue(s, "Freq", "Idx_12"), "<absent>");
    EXPECT_EQ(userValue(s, "Launch", "Idx_6"), "<absent>");
    EXPECT_EQ(userValue(s, "Tempo", "Idx_6"), "<absent>");
    // What loading always wrote, it still writes.
    EXPECT_EQ(userValue(s, "Freq", "Idx_3"), "1");
    EXPECT_EQ(userValue(s, "Software", "InstallDir"), "<absent>");

    // Next start: the policy removed, the preset changed.
    endTolvane(s);
    s.writePolicy({});
    s.writePresets({{"Launch", {{"Idx_6", "0"}, {"Idx_9", "1"}}}, {"Tempo", {{"Idx_9", "0"}}}});
    const std::size_t dataStarts = s.startsOf("VX8_Tools_Data").size();
    for (const pid_t pid : s.running("VX8_Tools_Data")) ::kill(pid, SIGKILL);
    s.startTolvane({}, "@2026-12-08 11:00:00 x20");
    // The user's own "Lancer" is back; the changed preset starts its tool.
    ASSERT_TRUE(s.waitForStarts("VX8_Library", 1, 15s)) << s.errors();
    ASSERT_TRUE(s.waitForStarts("VX8_Tools_Pool", 1, 15s));
    EXPECT_FALSE(waitUntil([&] { return s.startsOf("VX8_Tools_Data").size() > dataStarts; }, 3s));
    EXPECT_EQ(userValue(s, "Launch", "Idx_9"), "<absent>");
    EXPECT_EQ(userValue(s, "Launch", "Idx_6"), "<absent>");
}
