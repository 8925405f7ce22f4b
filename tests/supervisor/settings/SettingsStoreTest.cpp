#include <gtest/gtest.h>

#include "supervisor/settings/SettingsStore.h"

namespace tolvane {
namespace {

TEST(IndexKey, NoLeadingZeroNoBlank) {
    EXPECT_EQ(indexKey(0), "Idx_0");
    EXPECT_EQ(indexKey(7), "Idx_7");
    EXPECT_EQ(indexKey(29), "Idx_29");
}

TEST(MemorySettingsStore, DefaultsReplacementAndSeparateAddresses) {
    MemorySettingsStore store;
    EXPECT_EQ(store.GetSetting("Tempo", "Idx_3", "10000"), "10000");
    EXPECT_TRUE(store.SaveSetting("Tempo", "Idx_3", "1"));
    EXPECT_TRUE(store.SaveSetting("Tempo", "Idx_3", "12"));
    EXPECT_EQ(store.GetSetting("Tempo", "Idx_3", "10000"), "12");
    EXPECT_EQ(store.GetSetting("Launch", "Idx_3", "0"), "0");
    EXPECT_EQ(store.GetSetting("Tempo", "Idx_30", "x"), "x");
    // A stored empty text is a value, not an absent key.
    store.SaveSetting("Arguments", "Idx_0", "");
    EXPECT_EQ(store.GetSetting("Arguments", "Idx_0", "/NoBase=0"), "");
    ASSERT_EQ(store.writes.size(), 3u);
    EXPECT_EQ(store.writes[1], (std::pair{MemorySettingsStore::Key{"Tempo", "Idx_3"}, std::string("12")}));
}

TEST(MemorySettingsStore, RefusedWritesKeepTheOldValueAndAreLogged) {
    MemorySettingsStore store;
    store.SaveSetting("Check", "Idx_5", "1");
    store.refuseWrites = true;
    EXPECT_FALSE(store.SaveSetting("Check", "Idx_5", "0"));
    EXPECT_FALSE(store.SaveSetting("Check", "Idx_6", "1"));
    EXPECT_EQ(store.GetSetting("Check", "Idx_5", "x"), "1");
    EXPECT_EQ(store.GetSetting("Check", "Idx_6", "x"), "x");
    EXPECT_EQ(store.writes.size(), 3u);
}

}  // namespace
}  // namespace tolvane
