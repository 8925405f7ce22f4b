// The real settings file: what a user can type comes back exactly, every
// write reaches the disk at once, and a store that cannot be written says so
// once without stopping anything.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "supervisor/core/QtSettingsStore.h"

using tolvane::QtSettingsStore;

namespace {

std::string readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class QtSettingsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString ini() const { return dir.filePath(QStringLiteral("Tolvane.ini")); }
};

TEST_F(QtSettingsStoreTest, EveryTypedTextRoundTripsThroughTheFile) {
    const std::vector<std::string> texts{
        "/NoBase=0", "", " leading and trailing ", "a, b", "\"quoted\"", "semi;colon", "x=y",
        "back\\slash\\", "@Variant(abc)", "@leading at", "Été à Noël ½", "tab\there", "#comment-like",
        "[section-like]", "100%", "; starts like a comment"};
    {
        auto store = QtSettingsStore::atIniFile(ini().toStdString());
        for (std::size_t i = 0; i < texts.size(); ++i)
            ASSERT_TRUE(store->SaveSetting("Arguments", "Idx_" + std::to_string(i), texts[i]));
    }
    // A fresh store reads the file anew, as the next start of Tolvane does.
    auto again = QtSettingsStore::atIniFile(ini().toStdString());
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(again->GetSetting("Arguments", "Idx_" + std::to_string(i), "<default>"), texts[i]) << i;
    EXPECT_EQ(again->GetSetting("Arguments", "Idx_99", "<default>"), "<default>");
}

TEST_F(QtSettingsStoreTest, EachWriteIsOnDiskAtOnceInItsSection) {
    auto store = QtSettingsStore::atIniFile(ini().toStdString());
    ASSERT_TRUE(store->SaveSetting("Launch", "Idx_7", "1"));
    const std::string text = readFile(ini());
    EXPECT_NE(text.find("[Launch]"), std::string::npos) << text;
    EXPECT_NE(text.find("Idx_7=1"), std::string::npos) << text;
    ASSERT_TRUE(store->SaveSetting("Tempo", "Idx_0", "15000"));
    EXPECT_NE(readFile(ini()).find("Idx_0=15000"), std::string::npos);
}

TEST_F(QtSettingsStoreTest, HandWrittenListValueReadsAsItsText) {
    {
        std::ofstream out(ini().toStdString());
        out << "[Arguments]\nIdx_3=a, b\nIdx_4=/NoBase=0\n";
    }
    auto store = QtSettingsStore::atIniFile(ini().toStdString());
    EXPECT_EQ(store->GetSetting("Arguments", "Idx_3", ""), "a, b");
    EXPECT_EQ(store->GetSetting("Arguments", "Idx_4", ""), "/NoBase=0");
}

TEST_F(QtSettingsStoreTest, UnwritableStoreFailsAndSaysSoOnce) {
    if (::geteuid() == 0) {
        // root writes through permission bits; a directory in the file's
        // place refuses everybody.
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Tolvane.ini")));
    } else {
        ASSERT_EQ(::chmod(dir.path().toLocal8Bit().constData(), 0500), 0);
    }
    testing::internal::CaptureStderr();
    auto store = QtSettingsStore::atIniFile(ini().toStdString());
    const bool first = store->SaveSetting("Launch", "Idx_0", "1");
    const bool second = store->SaveSetting("Launch", "Idx_1", "1");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(first);
    EXPECT_FALSE(second);
    // One line, however many writes fail.
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("Tolvane.ini"), std::string::npos) << err;
    // Reading still answers with the defaults.
    EXPECT_EQ(store->GetSetting("Launch", "Idx_5", "0"), "0");
    ::chmod(dir.path().toLocal8Bit().constData(), 0700);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
