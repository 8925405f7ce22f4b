// The rest of the Win32 backend: text at the Win32 boundary, the clocks,
// files (long paths included), the own executable path and the version
// resource this test program carries (cmake/version.rc.in), and the icon the
// stand-in carries.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <set>

#include "platform/platform.h"
#include "platform/win32/Win32Backend.h"
#include "tests/support/win32/Win32TestSupport.h"
#include "tolvane_version.h"

namespace tolvane::testsupport {
namespace {

using tolvane::platform::ShowState;
using tolvane::platform::VersionInfo;
using tolvane::platform::win32backend::readVersionResource;
using tolvane::platform::win32backend::toUtf8;
using tolvane::platform::win32backend::toWide;

std::unique_ptr<tolvane::platform::Platform> systemPlatform() { return tolvane::platform::createSystemPlatform(); }

TEST(Win32Text, Utf8AndUtf16RoundTrip) {
    const std::string text = "Vantorix \xC3\x89t\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x93\xBB";  // Été ✓ 📻
    const auto wide = toWide(text);
    ASSERT_TRUE(wide);
    EXPECT_EQ(*wide, L"Vantorix \u00C9t\u00E9 \u2713 \U0001F4FB");
    EXPECT_EQ(toUtf8(*wide), text);
    EXPECT_EQ(toWide(""), std::wstring());
}

TEST(Win32Text, MalformedUtf8IsRefusedNotGuessed) {
    EXPECT_FALSE(toWide("caf\xC3"));               // cut short
    EXPECT_FALSE(toWide("\x80"));                  // lone continuation byte
    EXPECT_FALSE(toWide("\xC0\xAF"));              // overlong "/"
    EXPECT_FALSE(toWide("\xED\xA0\x80"));          // an encoded surrogate
    EXPECT_FALSE(toWide(std::string("a\0b", 3)));  // would cut a path short
}

TEST(Win32Text, AnUnpairedSurrogateFromTheSystemBecomesAReplacementCharacter) {
    EXPECT_EQ(toUtf8(std::wstring(L"a") + wchar_t(0xD800) + L"b"),
              "a\xEF\xBF\xBD"
              "b");
}

TEST(Win32Clock, TheRawTickIsTheSystemsMillisecondCount) {
    const auto platform = systemPlatform();
    const std::uint32_t before = static_cast<std::uint32_t>(::GetTickCount64());
    const std::uint32_t raw = platform->rawTickCount();
    const std::uint32_t after = static_cast<std::uint32_t>(::GetTickCount64());
    // Modular: the 32-bit count may wrap between the readings.
    EXPECT_LE(static_cast<std::uint32_t>(raw - before), static_cast<std::uint32_t>(after - before) + 50u);
}

TEST(Win32Clock, LocalNowIsTheLocalWallClock) {
    const auto platform = systemPlatform();
    // The C runtime's own local time, a separate path to the same clock.
    const std::time_t t = std::time(nullptr);
    const std::tm* local = std::localtime(&t);
    ASSERT_NE(local, nullptr);
    using namespace std::chrono;
    const local_seconds expected =
        local_days{year{local->tm_year + 1900} / month{static_cast<unsigned>(local->tm_mon + 1)} /
                   day{static_cast<unsigned>(local->tm_mday)}} +
        hours{local->tm_hour} + minutes{local->tm_min} + seconds{local->tm_sec};
    const auto now = platform->localNow();
    EXPECT_LE(abs(now - expected), 2s);
}

class Win32Files : public ::testing::Test {
protected:
    ProgramFolder m_folder{programFilesFolder() + "\\Vantorix Fichiers \xC3\x89t\xC3\xA9"};
    std::unique_ptr<tolvane::platform::Platform> m_platform = systemPlatform();
};

TEST_F(Win32Files, OnlyFilesExist) {
    const std::string krandel = m_folder.file("Krandel.exe");
    writeFile(krandel, "MZ");
    writeFile(m_folder.file("R\xC3\xA9sum\xC3\xA9.txt"), "x");
    EXPECT_TRUE(m_platform->fileExists(krandel));
    EXPECT_TRUE(m_platform->fileExists(m_folder.file("krandel.EXE")));  // the file system ignores case
    EXPECT_TRUE(m_platform->fileExists(m_folder.file("R\xC3\xA9sum\xC3\xA9.txt")));
    std::string slashes = krandel;
    for (char& c : slashes)
        if (c == '\\') c = '/';
    EXPECT_TRUE(m_platform->fileExists(slashes));
    EXPECT_FALSE(m_platform->fileExists(m_folder.path()));  // a folder is not a program
    EXPECT_FALSE(m_platform->fileExists(m_folder.file("Tolvane.exe")));
    EXPECT_FALSE(m_platform->fileExists(""));
    EXPECT_FALSE(m_platform->fileExists(krandel + "\xFF"));
}

TEST_F(Win32Files, FilesDeeperThanMaxPathAreSeen) {
    // A station folder may lie deep; Windows takes such paths only in their
    // "\\?\" form, which the backend gives them.
    std::string deep = m_folder.path();
    while (deep.size() < 300) deep += "\\Dossier de diffusion";
    createFolders(deep);
    const std::string krandel = deep + "\\Krandel.exe";
    writeFile(krandel, "MZ");
    ASSERT_TRUE(pathExists(krandel));
    EXPECT_TRUE(m_platform->fileExists(krandel));
    EXPECT_TRUE(m_platform->fileExists(deep + "\\..\\Dossier de diffusion\\Krandel.exe"));
    EXPECT_FALSE(m_platform->fileExists(deep));
    EXPECT_FALSE(m_platform->fileExists(deep + "\\Tolvane.exe"));
}

TEST(Win32Self, OwnPathAndProcessAreThisProgram) {
    const auto platform = systemPlatform();
    const std::string path = platform->ownExecutablePath();
    EXPECT_EQ(tolvane::platform::win32backend::fileNamePart(path), TOLVANE_TEST_FILE_NAME);
    EXPECT_TRUE(platform->fileExists(path));
    EXPECT_EQ(platform->ownProcessId(), static_cast<std::uint32_t>(::GetCurrentProcessId()));
    EXPECT_EQ(imagePathOf(platform->ownProcessId()), path);
}

TEST(Win32Version, TheVersionResourceCarriesTheBuildsStamp) {
    const auto version = systemPlatform()->ownVersion();
    ASSERT_TRUE(version);
    EXPECT_EQ(version->major, TOLVANE_VERSION_MAJOR);
    EXPECT_EQ(version->minor, TOLVANE_VERSION_MINOR);
    EXPECT_EQ(version->revision, TOLVANE_VERSION_REVISION);
    EXPECT_EQ(version->fileDescription, TOLVANE_FILE_DESCRIPTION);
}

TEST(Win32Version, AnotherProgramsResourceAndFilesWithout) {
    const auto standin = readVersionResource(standinPath());
    ASSERT_TRUE(standin);
    EXPECT_EQ(standin->major, TOLVANE_VERSION_MAJOR);
    EXPECT_EQ(standin->minor, TOLVANE_VERSION_MINOR);
    EXPECT_EQ(standin->revision, TOLVANE_VERSION_REVISION);
    EXPECT_EQ(standin->fileDescription, TOLVANE_STANDIN_DESCRIPTION);

    ProgramFolder folder{programFilesFolder() + "\\Vantorix Version"};
    writeFile(folder.file("notes.txt"), "no resource here\n");
    EXPECT_FALSE(readVersionResource(folder.file("notes.txt")));
    EXPECT_FALSE(readVersionResource(folder.file("missing.exe")));
    EXPECT_FALSE(readVersionResource(""));
}

TEST(Win32Version, TheIconHoldsTheFourSizes) {
    const auto path = toWide(standinPath());
    ASSERT_TRUE(path);
    HMODULE module =
        ::LoadLibraryExW(path->c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    std::set<int> sizes;
    if (HRSRC group = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14))) {  // RT_GROUP_ICON
        const auto* bytes = static_cast<const unsigned char*>(::LockResource(::LoadResource(module, group)));
        const DWORD size = ::SizeofResource(module, group);
        // GRPICONDIR: reserved, type, count (3 x WORD), then 14-byte entries
        // starting with width and height (0 meaning 256) and, at 6, bits per pixel.
        const int count = bytes && size >= 6 ? bytes[4] | (bytes[5] << 8) : 0;
        for (int i = 0; i < count && 6u + 14u * (i + 1) <= size; ++i) {
            const unsigned char* entry = bytes + 6 + 14 * i;
            EXPECT_EQ(entry[0], entry[1]);
            EXPECT_EQ(entry[6] | (entry[7] << 8), 32);
            sizes.insert(entry[0] == 0 ? 256 : entry[0]);
        }
    }
    ::FreeLibrary(module);
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 64}));
}

}  // namespace
}  // namespace tolvane::testsupport
