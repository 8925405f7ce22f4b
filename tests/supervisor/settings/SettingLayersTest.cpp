// The administrator's layers: which value the window gets, and which saves
// reach the user's store, as a table of cases; then the layered store over a
// user's store in memory.
#include <gtest/gtest.h>

#include "supervisor/settings/SettingLayers.h"
#include "supervisor/settings/SettingsStore.h"

namespace tolvane {
namespace {

using std::nullopt;

TEST(SettingLookup, PolicyThenUserThenPresetThenDefault) {
    struct Case {
        std::optional<std::string> policy, user, preset;
        SettingSource source;
        std::string value;
    };
    const Case cases[] = {
        {nullopt, nullopt, nullopt, SettingSource::Default, "dflt"},
        {nullopt, nullopt, "p", SettingSource::Preset, "p"},
        {nullopt, "u", nullopt, SettingSource::User, "u"},
        {nullopt, "u", "p", SettingSource::User, "u"},
        {"e", nullopt, nullopt, SettingSource::Policy, "e"},
        {"e", "u", nullopt, SettingSource::Policy, "e"},
        {"e", nullopt, "p", SettingSource::Policy, "e"},
        {"e", "u", "p", SettingSource::Policy, "e"},
        // An empty text is a value in every place.
        {nullopt, "", "p", SettingSource::User, ""},
        {"", "u", "p", SettingSource::Policy, ""},
        {nullopt, nullopt, "", SettingSource::Preset, ""},
    };
    for (const Case& c : cases) {
        const SettingPlaces places{c.policy, c.user, c.preset};
        EXPECT_EQ(settingSource(places), c.source) << c.value;
        EXPECT_EQ(settingValue(places, "dflt"), c.value);
    }
}

TEST(SaveRule, EnforcedNeverPresetNotCopiedByLoadingOtherwiseWritten) {
    struct Case {
        bool enforced, preset, user, loading, written;
    };
    const Case cases[] = {
        // enforced: never, whatever else
        {true, false, false, true, false},
        {true, true, true, false, false},
        // a preset the user never overrode: not by loading, yes by an edit
        {false, true, false, true, false},
        {false, true, false, false, true},
        // the user's own value over a preset: written back as always
        {false, true, true, true, true},
        {false, true, true, false, true},
        // no preset: exactly as before (loading writes the defaults)
        {false, false, false, true, true},
        {false, false, true, true, true},
        {false, false, false, false, true},
        {false, false, true, false, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(saveIsWritten(c.enforced, c.preset, c.user, c.loading), c.written)
            << c.enforced << c.preset << c.user << c.loading;
}

TEST(TableValues, OnlyTheSettingsOfTheTable) {
    const SettingValues values = tableValues([](std::string_view section, std::string_view key) {
        // Everything answers: the installer's values, misspelt keys too.
        return std::optional<std::string>(std::string(section) + "/" + std::string(key));
    });
    EXPECT_EQ(values.at({"Launch", "Idx_0"}), "Launch/Idx_0");
    EXPECT_EQ(values.at({"Launch", "Idx_29"}), "Launch/Idx_29");
    EXPECT_EQ(values.at({"Metrics", "Folder"}), "Metrics/Folder");
    EXPECT_EQ(values.at({"CheckSchedulerHeure", "Idx_1"}), "CheckSchedulerHeure/Idx_1");
    EXPECT_FALSE(values.count({"Launch", "Idx_30"}));
    EXPECT_FALSE(values.count({"CheckSchedulerHeure", "Idx_2"}));
    for (const auto& [key, value] : values) {
        EXPECT_NE(key.second, "InstallDir");
        EXPECT_NE(key.second, "Autostart");
    }
    const SettingValues none =
        tableValues([](std::string_view, std::string_view) { return std::optional<std::string>(); });
    EXPECT_TRUE(none.empty());
}

TEST(LayeredSettings, ReadsThroughTheLayersAndWritesWhatTheRulesLetThrough) {
    MemorySettingsStore user;
    user.values[{"Launch", "Idx_1"}] = "0";  // the user's own, under a policy
    user.values[{"Check", "Idx_2"}] = "1";   // the user's own, over a preset
    SettingValues policy{{{"Launch", "Idx_1"}, "1"}, {{"Metrics", "Folder"}, "/srv/prom"}};
    SettingValues presets{{{"Check", "Idx_2"}, "0"}, {{"Check", "Idx_3"}, "1"}, {{"Launch", "Idx_1"}, "0"}};
    LayeredSettings store(user, policy, presets);

    EXPECT_EQ(store.GetSetting("Launch", "Idx_1", "0"), "1");
    EXPECT_EQ(store.GetSetting("Check", "Idx_2", "0"), "1");
    EXPECT_EQ(store.GetSetting("Check", "Idx_3", "0"), "1");
    EXPECT_EQ(store.GetSetting("Check", "Idx_4", "0"), "0");
    EXPECT_EQ(store.GetSetting("Metrics", "Folder", ""), "/srv/prom");
    EXPECT_TRUE(store.isEnforced("Launch", "Idx_1"));
    EXPECT_TRUE(store.isEnforced("Metrics", "Folder"));
    EXPECT_FALSE(store.isEnforced("Check", "Idx_3"));

    {
        const SettingsLoading loading(store);
        EXPECT_TRUE(store.SaveSetting("Launch", "Idx_1", "1"));  // enforced: nothing
        EXPECT_TRUE(store.SaveSetting("Check", "Idx_3", "1"));   // a preset: not copied
        EXPECT_TRUE(store.SaveSetting("Check", "Idx_2", "1"));   // the user's own: written back
        EXPECT_TRUE(store.SaveSetting("Freq", "Idx_2", "1"));    // no preset: as always
    }
    const std::vector<std::pair<MemorySettingsStore::Key, std::string>> atLoad{{{"Check", "Idx_2"}, "1"},
                                                                               {{"Freq", "Idx_2"}, "1"}};
    EXPECT_EQ(user.writes, atLoad);

    // After loading: the operator's edit of a preset key is the user's own.
    user.writes.clear();
    EXPECT_TRUE(store.SaveSetting("Check", "Idx_3", "0"));
    EXPECT_TRUE(store.SaveSetting("Launch", "Idx_1", "0"));  // enforced: still nothing
    ASSERT_EQ(user.writes.size(), 1u);
    EXPECT_EQ(user.values.at({"Check", "Idx_3"}), "0");
    EXPECT_EQ(store.GetSetting("Check", "Idx_3", "1"), "0");
    EXPECT_EQ(user.values.at({"Launch", "Idx_1"}), "0");

    // A refusing user's store is still told apart from a save not written.
    user.refuseWrites = true;
    EXPECT_FALSE(store.SaveSetting("Check", "Idx_3", "1"));
    EXPECT_TRUE(store.SaveSetting("Launch", "Idx_1", "1"));

    // The policy removed: the user's own value comes back.
    LayeredSettings withoutPolicy(user, {}, presets);
    EXPECT_EQ(withoutPolicy.GetSetting("Launch", "Idx_1", "1"), "0");
    EXPECT_FALSE(withoutPolicy.isEnforced("Launch", "Idx_1"));
}

}  // namespace
}  // namespace tolvane
