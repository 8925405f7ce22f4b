// The real settings file: what a user can type comes back exactly, every
// write reaches the disk at once, a value nobody edits is written back byte
// for byte, a damaged or unreachable store answers the defaults without
// stopping anything, and a crash in the middle of a write never leaves a
// broken file.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSettings>
#include <QTemporaryDir>
#include <QVariant>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include "supervisor/settings/QtSettingsStore.h"

using tolvane::QtSettingsStore;
namespace ini = tolvane::ini;

namespace {

std::string readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const QString& path, const std::string& bytes) {
    std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
    out << bytes;
}

// QSettings shares what it parsed between instances on the same path in one
// process; a copy under a new name is read from the disk afresh.
QString freshCopy(const QString& path, const QString& copyPath) {
    QFile::remove(copyPath);
    EXPECT_TRUE(QFile::copy(path, copyPath));
    return copyPath;
}

std::size_t lineCount(const std::string& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')); }

// What runs in a forked copy of the test, optionally as an unprivileged user
// (root writes through permission bits, so read-only folders are tried as
// "nobody"). `out` is what the body returned, `err` what it wrote on
// standard error.
struct ChildRun {
    bool finished = false;
    std::string out;
    std::string err;
};

constexpr uid_t Nobody = 65534;

void chownTree(const std::string& folder, uid_t uid) {
    ::chown(folder.c_str(), uid, uid);
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec))
        ::lchown(entry.path().c_str(), uid, uid);
}

ChildRun runInChild(const std::function<std::string()>& body, const std::string& ownFolder = {},
                    std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    ChildRun run;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return run;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return run;
    }
    if (child == 0) {
        ::close(fds[0]);
        const int captured = ::memfd_create("stderr", 0);
        if (captured >= 0) ::dup2(captured, STDERR_FILENO);
        if (!ownFolder.empty() && ::geteuid() == 0) {
            chownTree(ownFolder, Nobody);
            if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0) ::_exit(3);
        }
        std::string out = body();
        std::fflush(stderr);
        std::string err;
        if (captured >= 0) {
            ::lseek(captured, 0, SEEK_SET);
            char buf[4096];
            ssize_t n;
            while ((n = ::read(captured, buf, sizeof buf)) > 0) err.append(buf, static_cast<std::size_t>(n));
        }
        out += '\x1E';
        out += err;
        std::size_t at = 0;
        while (at < out.size()) {
            const ssize_t n = ::write(fds[1], out.data() + at, out.size() - at);
            if (n <= 0) break;
            at += static_cast<std::size_t>(n);
        }
        ::_exit(0);  // no destructors, no gtest reporting in the copy
    }
    ::close(fds[1]);
    std::string all;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buf[4096];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            run.finished = true;
            break;
        }
        all.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (!run.finished) ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const auto sep = all.find('\x1E');
    run.finished = run.finished && sep != std::string::npos && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (sep != std::string::npos) {
        run.out = all.substr(0, sep);
        run.err = all.substr(sep + 1);
    }
    return run;
}

class QtSettingsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString ini() const { return dir.filePath(QStringLiteral("Tolvane.ini")); }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    void TearDown() override {
        // Tests that take write permission away give it back, so the folder
        // can be removed.
        ::chmod(dir.path().toLocal8Bit().constData(), 0700);
    }
};

// What a user types
// ---------------------------------------------------------------

TEST_F(QtSettingsStoreTest, EveryTypedTextRoundTripsThroughTheFile) {
    const std::vector<std::string> texts{"/NoBase=0",
                                         "",
                                         " leading and trailing ",
                                         "a, b",
                                         "\"quoted\"",
                                         "semi;colon",
                                         "x=y",
                                         "back\\slash\\",
                                         "@Variant(abc)",
                                         "@leading at",
                                         "Été à Noël ½",
                                         "tab\there",
                                         "#comment-like",
                                         "[section-like]",
                                         "100%",
                                         "; starts like a comment",
                                         "a,b",
                                         "a , b ,",
                                         "١٢",
                                         "line\nbreak\r\n"};
    {
        auto store = QtSettingsStore::atIniFile(ini().toStdString());
        for (std::size_t i = 0; i < texts.size(); ++i)
            ASSERT_TRUE(store->SaveSetting("Arguments", "Idx_" + std::to_string(i), texts[i]));
    }
    // A fresh store reads the file anew, as the next start of Tolvane does.
    auto again = QtSettingsStore::atIniFile(freshCopy(ini(), path("again.ini")).toStdString());
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(again->GetSetting("Arguments", "Idx_" + std::to_string(i), "<default>"), texts[i]) << i;
    EXPECT_EQ(again->GetSetting("Arguments", "Idx_99", "<default>"), "<default>");
}

TEST_F(QtSettingsStoreTest, EachWriteIsOnDiskAtOnceInItsSection) {
    auto store = QtSettingsStore::atIniFile(ini().toStdString());
    ASSERT_TRUE(store->SaveSetting("Launch", "Idx_7", "1"));
    const std::string text = readFile(ini());
    EXPECT_NE(text.find("[Launch]\nIdx_7=1\n"), std::string::npos) << text;
    ASSERT_TRUE(store->SaveSetting("Tempo", "Idx_0", "15000"));
    EXPECT_NE(readFile(ini()).find("[Tempo]\nIdx_0=15000\n"), std::string::npos);
    // An edit replaces the value in its place.
    ASSERT_TRUE(store->SaveSetting("Launch", "Idx_7", "0"));
    EXPECT_EQ(readFile(ini()), "[Launch]\nIdx_7=0\n\n[Tempo]\nIdx_0=15000\n");
}

TEST_F(QtSettingsStoreTest, HandWrittenValuesReadAsTheBytesTheyHold) {
    // A valid "@Variant" as Qt writes an int 5.
    QByteArray stream;
    {
        QDataStream s(&stream, QIODevice::WriteOnly);
        s.setVersion(QDataStream::Qt_4_0);
        s << QVariant(5);
    }
    std::string variantFive = "@Variant(";
    for (const char c : stream) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%x", static_cast<unsigned char>(c));
        variantFive += hex;
    }
    variantFive += ")";
    writeFile(ini(),
              "[Arguments]\n"
              "Idx_0=a,b\n"
              "Idx_1=a, b\n"
              "Idx_2=\xff\xfe"
              "abc\n"
              "Idx_3=  spaced  \n"
              "Idx_4=\"  quoted, kept  \"\n"
              "Idx_5=value ; a comment\n"
              "Idx_6=@ByteArray(xyz)\n"
              "Idx_7=@Invalid()\n"
              "Idx_8=@@at\n"
              "Idx_9=@Rect(1 2 3 4)\n"
              "Idx_10=@Variant(\\0\\0\\0\\x7f garbage)\n"
              "Idx_11=" +
                  variantFive +
                  "\n"
                  "Idx_12=\\x41\\t\\101\n"
                  "Idx_13=caf\xc3\xa9\n"
                  "Idx_14=first\\\n"
                  "  second\n"
                  "Idx_15=\r\n"
                  "[Tempo]\r\n"
                  "Idx_0=1 500\r\n");
    auto store = QtSettingsStore::atIniFile(ini().toStdString());
    auto get = [&](const char* section, int i) {
        return store->GetSetting(section, "Idx_" + std::to_string(i), "<default>");
    };
    EXPECT_EQ(get("Arguments", 0), "a,b");  // Qt's own reader gives "a, b"
    EXPECT_EQ(get("Arguments", 1), "a, b");
    EXPECT_EQ(get("Arguments", 2),
              "\xff\xfe"
              "abc");  // Qt's own reader gives U+FFFD twice
    EXPECT_EQ(get("Arguments", 3), "spaced");
    EXPECT_EQ(get("Arguments", 4), "  quoted, kept  ");
    EXPECT_EQ(get("Arguments", 5), "value");
    EXPECT_EQ(get("Arguments", 6), "xyz");
    EXPECT_EQ(get("Arguments", 7), "<default>");
    EXPECT_EQ(get("Arguments", 8), "@at");
    EXPECT_EQ(get("Arguments", 9), "@Rect(1 2 3 4)");
    EXPECT_EQ(get("Arguments", 10), "<default>");
    EXPECT_EQ(get("Arguments", 11), "5");
    EXPECT_EQ(get("Arguments", 12), "A\tA");
    EXPECT_EQ(get("Arguments", 13), "café");
    EXPECT_EQ(get("Arguments", 14), "first  second");
    EXPECT_EQ(get("Arguments", 15), "");
    EXPECT_EQ(get("Tempo", 0), "1 500");
}

TEST_F(QtSettingsStoreTest, KeysNobodyEditedAreWrittenBackByteForByte) {
    // Each of these lines is read differently, or rewritten differently, by
    // Qt's own INI code: the list re-joined, U+FFFD for bytes that are not
    // UTF-8, "@Invalid()" for a stream it cannot read, the comment dropped.
    const std::vector<std::string> lines{
        "Idx_0=a,b",
        "Idx_1=a , b",
        "Idx_2=\xff\xfe"
        "abc\x80",
        "Idx_3=@Variant(\\0\\0\\0\\x7f garbage)",
        "Idx_4=x ; a comment",
        "Idx_5=\"quoted\"  tail",
        "Idx_6=first\\\n  second",
        "Idx_7=@Garbage(x)",
        "Idx_8=  1.5  ",
        "Idx%5F9=percent key",
        "Idx_10=" + std::string(300000, 'z'),
    };
    std::string file = "; a file edited by hand\n[Arguments]\n";
    for (const auto& line : lines) file += line + "\n";
    file += "[Launch]\nIdx_0=0\n";
    writeFile(ini(), file);

    std::map<std::string, std::string> before;
    {
        auto reader = QtSettingsStore::atIniFile(freshCopy(ini(), path("before.ini")).toStdString());
        for (int i = 0; i <= 10; ++i) {
            const std::string key = "Idx_" + std::to_string(i);
            before[key] = reader->GetSetting("Arguments", key, "<default>");
        }
    }
    EXPECT_EQ(before["Idx_9"], "percent key");

    auto store = QtSettingsStore::atIniFile(ini().toStdString());
    testing::internal::CaptureStderr();
    ASSERT_TRUE(store->SaveSetting("Launch", "Idx_0", "1"));
    ASSERT_TRUE(store->SaveSetting("Launch", "Idx_1", "2"));
    const std::string err = testing::internal::GetCapturedStderr();

    const std::string after = readFile(ini());
    for (const auto& line : lines) EXPECT_NE(after.find("\n" + line + "\n"), std::string::npos) << line.substr(0, 60);
    EXPECT_NE(after.find("[Launch]\nIdx_0=1\nIdx_1=2\n"), std::string::npos) << after.substr(0, 400);

    auto reader = QtSettingsStore::atIniFile(freshCopy(ini(), path("after.ini")).toStdString());
    for (const auto& [key, value] : before) EXPECT_EQ(reader->GetSetting("Arguments", key, "<default>"), value) << key;

    // The comment cannot stay in the file; the file as it was is kept
    // beside it, and the IT person is told once.
    EXPECT_EQ(readFile(ini() + QStringLiteral(".orig")), file);
    EXPECT_EQ(lineCount(err), 1u) << err;
    EXPECT_NE(err.find("Tolvane.ini.orig"), std::string::npos) << err;
}

TEST_F(QtSettingsStoreTest, QtsOwnIniReaderAndThisStoreAgreeOnText) {
    const std::vector<std::string> texts{"/NoBase=0",
                                         "",
                                         "  blanks  ",
                                         "a, b",
                                         "a,b",
                                         "\"q\"",
                                         "semi;colon",
                                         "x=y",
                                         "back\\slash\\",
                                         "@Variant(abc)",
                                         "@x",
                                         "Été ½ ١٢",
                                         "tab\there",
                                         "\x01"
                                         "control"
                                         "\x1f"
                                         "9",
                                         std::string("nul\0"
                                                     "7",
                                                     5),
                                         "del\x7f",
                                         "line\nbreak"};
    // Written here, read by Qt.
    {
        auto store = QtSettingsStore::atIniFile(ini().toStdString());
        for (std::size_t i = 0; i < texts.size(); ++i)
            ASSERT_TRUE(store->SaveSetting("Arguments", "Idx_" + std::to_string(i), texts[i]));
    }
    {
        QSettings qt(freshCopy(ini(), path("for-qt.ini")), QSettings::IniFormat);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const QVariant v = qt.value(QStringLiteral("Arguments/Idx_%1").arg(i));
            EXPECT_EQ(v.userType(), QMetaType::QString) << i;
            EXPECT_EQ(v.toString(), QString::fromUtf8(texts[i].data(), static_cast<qsizetype>(texts[i].size()))) << i;
        }
    }
    // Written by Qt, read here.
    {
        QSettings qt(path("by-qt.ini"), QSettings::IniFormat);
        for (std::size_t i = 0; i < texts.size(); ++i)
            qt.setValue(QStringLiteral("Arguments/Idx_%1").arg(i),
                        QString::fromUtf8(texts[i].data(), static_cast<qsizetype>(texts[i].size())));
        qt.sync();
        ASSERT_EQ(qt.status(), QSettings::NoError);
    }
    auto store = QtSettingsStore::atIniFile(freshCopy(path("by-qt.ini"), path("from-qt.ini")).toStdString());
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(store->GetSetting("Arguments", "Idx_" + std::to_string(i), "<default>"), texts[i]) << i;
}

// Damaged and unreachable stores
// ---------------------------------------------------

TEST_F(QtSettingsStoreTest, TruncatedFileGivesWhatIsWholeAndKeepsItOnTheNextWrite) {
    const std::vector<std::pair<std::string, std::string>> keys{
        {"Launch/Idx_0", "1"},          {"Launch/Idx_1", "0"},       {"Tempo/Idx_0", "10000"},
        {"Tempo/Idx_1", " 15 000 "},    {"Arguments/Idx_0", "a, b"}, {"Arguments/Idx_1", "/NoBase=0"},
        {"Arguments/Idx_2", "x\"y\\z"}, {"Freq/Idx_0", "3"},         {"CheckSchedulerJ/Nb", "8"}};
    auto split = [](const std::string& k) {
        const auto slash = k.find('/');
        return std::pair{k.substr(0, slash), k.substr(slash + 1)};
    };
    {
        auto store = QtSettingsStore::atIniFile(path("whole.ini").toStdString());
        for (const auto& [k, v] : keys) ASSERT_TRUE(store->SaveSetting(split(k).first, split(k).second, v));
    }
    const std::string whole = readFile(path("whole.ini"));
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const QString file = path("cut.ini");
        writeFile(file, whole.substr(0, cut));
        const std::string kept = whole.substr(0, cut);
        auto store = QtSettingsStore::atIniFile(
            freshCopy(file, path(("cut-" + std::to_string(cut) + ".ini").c_str())).toStdString());
        std::map<std::string, std::string> read;
        for (const auto& [k, v] : keys) {
            const auto [section, key] = split(k);
            read[k] = store->GetSetting(section, key, "<default>");
            const std::string line = "\n" + key + "=" + ini::writeValue(v) + "\n";
            const std::string header = "[" + section + "]\n";
            const auto headerAt = kept.find(header);
            const auto lineAt = headerAt == std::string::npos ? std::string::npos : kept.find(line, headerAt);
            // A key whose line is whole reads its value; one whose line is
            // not there at all reads the default.
            if (lineAt != std::string::npos) {
                EXPECT_EQ(read[k], v) << k;
            }
            if (kept.find(key + "=", headerAt == std::string::npos ? kept.size() : headerAt) == std::string::npos) {
                EXPECT_EQ(read[k], "<default>") << k;
            }
        }
        testing::internal::CaptureStderr();
        ASSERT_TRUE(store->SaveSetting("Check", "Idx_9", "1"));
        const std::string err = testing::internal::GetCapturedStderr();
        const ini::FileText text = ini::parse(kept);
        // A line cut short is no setting: the file as it was is kept aside.
        EXPECT_EQ(lineCount(err), text.otherLines + text.commentLines > 0 ? 1u : 0u) << err;
        auto after = QtSettingsStore::atIniFile(freshCopy(path(("cut-" + std::to_string(cut) + ".ini").c_str()),
                                                          path(("after-" + std::to_string(cut) + ".ini").c_str()))
                                                    .toStdString());
        for (const auto& [k, v] : keys) {
            const auto [section, key] = split(k);
            EXPECT_EQ(after->GetSetting(section, key, "<default>"), read[k]) << k;
        }
        EXPECT_EQ(after->GetSetting("Check", "Idx_9", "<default>"), "1");
        QFile::remove(path(("cut-" + std::to_string(cut) + ".ini").c_str()));
        QFile::remove(path(("after-" + std::to_string(cut) + ".ini").c_str()));
    }
}

TEST_F(QtSettingsStoreTest, BinaryGarbageNeverStopsTheStore) {
    std::mt19937 random(4242);
    const std::vector<std::size_t> sizes{1, 7, 100, 4096, 65536, 1 << 20};
    int round = 0;
    for (const std::size_t size : sizes) {
        for (int variant = 0; variant < 3; ++variant, ++round) {
            SCOPED_TRACE("size " + std::to_string(size) + " variant " + std::to_string(variant));
            std::string garbage(size, '\0');
            for (auto& c : garbage) c = static_cast<char>(random() % 256);
            // Some with settings in the middle of the damage.
            if (variant == 1) garbage.insert(0, "[Launch]\nIdx_3=1\n");
            if (variant == 2) std::replace(garbage.begin(), garbage.end(), '\n', '=');
            const QString file = path(("garbage-" + std::to_string(round) + ".ini").c_str());
            writeFile(file, garbage);

            testing::internal::CaptureStderr();
            auto store = QtSettingsStore::atIniFile(file.toStdString());
            std::map<std::string, std::string> read;
            for (const char* section : {"Launch", "Minimiser", "Tempo", "Check", "Arguments", "Freq"})
                for (int i = 0; i < 30; ++i)
                    read[std::string(section) + "/" + std::to_string(i)] =
                        store->GetSetting(section, "Idx_" + std::to_string(i), "<default>");
            ASSERT_TRUE(store->SaveSetting("Check", "Idx_29", "1"));
            ASSERT_TRUE(store->SaveSetting("Check", "Idx_28", "2"));
            const std::string err = testing::internal::GetCapturedStderr();
            if (variant == 1) {
                EXPECT_EQ(read["Launch/3"], "1");
            }

            const std::string after = readFile(file);
            const ini::FileText text = ini::parse(after);
            EXPECT_EQ(text.otherLines, 0u);
            EXPECT_EQ(text.commentLines, 0u);
            auto reader = QtSettingsStore::atIniFile(freshCopy(file, file + QStringLiteral(".copy")).toStdString());
            for (const auto& [k, v] : read) {
                const auto slash = k.find('/');
                const std::string section = k.substr(0, slash);
                const std::string key = "Idx_" + k.substr(slash + 1);
                if (section == "Check" && (key == "Idx_29" || key == "Idx_28")) continue;
                EXPECT_EQ(reader->GetSetting(section, key, "<default>"), v) << k;
            }
            EXPECT_EQ(reader->GetSetting("Check", "Idx_29", "<default>"), "1");
            EXPECT_EQ(reader->GetSetting("Check", "Idx_28", "<default>"), "2");
            // What could not be read is kept aside, as it was.
            if (ini::parse(garbage).otherLines + ini::parse(garbage).commentLines > 0) {
                EXPECT_EQ(readFile(file + QStringLiteral(".orig")), garbage);
                EXPECT_EQ(lineCount(err), 1u) << err;
            }
        }
    }
}

TEST_F(QtSettingsStoreTest, EmptyFileReadsTheDefaultsSilently) {
    writeFile(ini(), "");
    testing::internal::CaptureStderr();
    auto store = QtSettingsStore::atIniFile(ini().toStdString());
    EXPECT_EQ(store->GetSetting("Tempo", "Idx_0", "10000"), "10000");
    EXPECT_TRUE(store->SaveSetting("Tempo", "Idx_0", "5"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(readFile(ini()), "[Tempo]\nIdx_0=5\n");
}

TEST_F(QtSettingsStoreTest, MissingFoldersAreCreatedOnTheFirstWrite) {
    const QString nested = dir.filePath(QStringLiteral("config/Vantorix/deeper/Tolvane.ini"));
    auto store = QtSettingsStore::atIniFile(nested.toStdString());
    EXPECT_EQ(store->GetSetting("Launch", "Idx_0", "0"), "0");
    ASSERT_TRUE(store->SaveSetting("Launch", "Idx_0", "1"));
    EXPECT_EQ(readFile(nested), "[Launch]\nIdx_0=1\n");

    // The user's own store, under $XDG_CONFIG_HOME/Vantorix.
    const QString home = dir.filePath(QStringLiteral("xdg-not-yet-there"));
    ::setenv("XDG_CONFIG_HOME", home.toLocal8Bit().constData(), 1);
    QtSettingsStore user("Tolvane");
    EXPECT_EQ(user.location(), (home + QStringLiteral("/Vantorix/Tolvane.ini")).toStdString());
    ASSERT_TRUE(user.SaveSetting("Freq", "Idx_2", "4"));
    EXPECT_EQ(readFile(home + QStringLiteral("/Vantorix/Tolvane.ini")), "[Freq]\nIdx_2=4\n");
}

TEST_F(QtSettingsStoreTest, ReadOnlyFolderKeepsTheFileAndSaysSoOnce) {
    writeFile(ini(), "[Launch]\nIdx_0=1\n[Arguments]\nIdx_3=a,b\n");
    const std::string folder = dir.path().toStdString();
    const std::string file = ini().toStdString();
    const ChildRun run = runInChild(
        [&] {
            std::string out;
            ::chmod(folder.c_str(), 0500);
            auto store = QtSettingsStore::atIniFile(file);
            out += store->GetSetting("Launch", "Idx_0", "0") + "|" + store->GetSetting("Arguments", "Idx_3", "") + "|";
            out += store->SaveSetting("Launch", "Idx_1", "1") ? "saved|" : "refused|";
            out += store->SaveSetting("Launch", "Idx_2", "1") ? "saved|" : "refused|";
            // Writable again: the next edit is stored, and says so.
            ::chmod(folder.c_str(), 0700);
            out += store->SaveSetting("Tempo", "Idx_0", "20000") ? "saved" : "refused";
            return out;
        },
        folder);
    ASSERT_TRUE(run.finished) << run.err;
    EXPECT_EQ(run.out, "1|a,b|refused|refused|saved");
    EXPECT_EQ(lineCount(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("cannot be written"), std::string::npos) << run.err;
    // Nothing that was there is lost; the refused edit may have been stored
    // with the later one.
    auto store = QtSettingsStore::atIniFile(freshCopy(ini(), path("check.ini")).toStdString());
    EXPECT_EQ(store->GetSetting("Launch", "Idx_0", "?"), "1");
    EXPECT_EQ(store->GetSetting("Arguments", "Idx_3", "?"), "a,b");
    EXPECT_EQ(store->GetSetting("Tempo", "Idx_0", "?"), "20000");
}

TEST_F(QtSettingsStoreTest, FolderThatCannotBeCreatedGivesTheDefaults) {
    const std::string folder = dir.path().toStdString();
    const std::string file = folder + "/missing/Tolvane.ini";
    const ChildRun run = runInChild(
        [&] {
            ::chmod(folder.c_str(), 0500);
            auto store = QtSettingsStore::atIniFile(file);
            std::string out = store->GetSetting("Tempo", "Idx_4", "10000") + "|";
            out += store->SaveSetting("Tempo", "Idx_4", "1") ? "saved|" : "refused|";
            out += store->SaveSetting("Tempo", "Idx_5", "1") ? "saved|" : "refused|";
            out += store->GetSetting("Tempo", "Idx_6", "10000");
            return out;
        },
        folder);
    ASSERT_TRUE(run.finished) << run.err;
    EXPECT_EQ(run.out, "10000|refused|refused|10000");
    EXPECT_EQ(lineCount(run.err), 1u) << run.err;
}

TEST_F(QtSettingsStoreTest, DirectoryInPlaceOfTheFileIsReportedOnceEachWay) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Tolvane.ini")));
    testing::internal::CaptureStderr();
    auto store = QtSettingsStore::atIniFile(ini().toStdString());
    EXPECT_EQ(store->GetSetting("Launch", "Idx_5", "0"), "0");
    const bool first = store->SaveSetting("Launch", "Idx_0", "1");
    const bool second = store->SaveSetting("Launch", "Idx_1", "1");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(first);
    EXPECT_FALSE(second);
    // One line for reading, one for writing, however many writes fail.
    EXPECT_EQ(lineCount(err), 2u) << err;
    EXPECT_NE(err.find("cannot be read"), std::string::npos) << err;
    EXPECT_NE(err.find("cannot be written"), std::string::npos) << err;
    EXPECT_NE(err.find("Tolvane.ini"), std::string::npos) << err;
    // Once the directory is gone, edits are kept again and reported kept.
    ASSERT_TRUE(QDir(ini()).removeRecursively());
    EXPECT_TRUE(store->SaveSetting("Launch", "Idx_2", "1"));
    EXPECT_EQ(QtSettingsStore::atIniFile(freshCopy(ini(), path("check.ini")).toStdString())
                  ->GetSetting("Launch", "Idx_2", "0"),
              "1");
}

// A crash while writing
// ---------------------------------------------------------

TEST_F(QtSettingsStoreTest, AnEmptyLockLeftByAKilledWriterDoesNotHoldTheNextWrite) {
    writeFile(ini(), "[Launch]\nIdx_0=1\n");
    // Killed between creating the lock file and writing its owner into it,
    // ten seconds before this start.
    const std::string lock = (ini() + QStringLiteral(".lock")).toStdString();
    writeFile(QString::fromStdString(lock), "");
    struct timeval past[2];
    ::gettimeofday(&past[0], nullptr);
    past[0].tv_sec -= 10;
    past[1] = past[0];
    ASSERT_EQ(::utimes(lock.c_str(), past), 0);

    const std::string file = ini().toStdString();
    const auto started = std::chrono::steady_clock::now();
    const ChildRun run = runInChild(
        [&] { return QtSettingsStore::atIniFile(file)->SaveSetting("Launch", "Idx_1", "1") ? "saved" : "refused"; }, {},
        std::chrono::seconds(10));
    ASSERT_TRUE(run.finished) << "the write waited for the abandoned lock";
    EXPECT_EQ(run.out, "saved");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(readFile(ini()), "[Launch]\nIdx_0=1\nIdx_1=1\n");
}

TEST_F(QtSettingsStoreTest, KilledInTheMiddleOfAStreamOfWritesLosesAtMostTheLastEdit) {
    constexpr int Writes = 200;
    std::random_device seeds;
    const unsigned seed = seeds();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // A large key makes every write take long enough to be caught in the
    // middle of it.
    const std::string filler(48 * 1024, 'f');
    auto valueOf = [](int i) { return "value " + std::to_string(i) + " \"q\", ;x"; };

    for (int round = 0; round < 6; ++round) {
        const int killAfter = 1 + static_cast<int>(random() % (Writes - 1));
        SCOPED_TRACE("round " + std::to_string(round) + ", killed after write " + std::to_string(killAfter));
        const QString file = path(("killed-" + std::to_string(round) + ".ini").c_str());
        {
            auto store = QtSettingsStore::atIniFile(file.toStdString());
            ASSERT_TRUE(store->SaveSetting("Arguments", "Idx_0", filler));
            ASSERT_TRUE(store->SaveSetting("Launch", "Idx_4", "1"));
        }
        int progress[2];
        ASSERT_EQ(::pipe2(progress, O_CLOEXEC), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(progress[0]);
            auto store = QtSettingsStore::atIniFile(file.toStdString());
            for (int i = 0; i < Writes; ++i) {
                if (!store->SaveSetting("Stream", "Idx_" + std::to_string(i), valueOf(i))) ::_exit(2);
                const char done = 1;
                if (::write(progress[1], &done, 1) != 1) ::_exit(3);
            }
            ::_exit(0);
        }
        ::close(progress[1]);
        // Kill as soon as the chosen write is known to be done: the child is
        // then already busy with the next one.
        int acknowledged = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (acknowledged < killAfter) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{progress[0], POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char buf[256];
            const ssize_t n = ::read(progress[0], buf, std::min<std::size_t>(sizeof buf, killAfter - acknowledged));
            if (n <= 0) break;
            acknowledged += static_cast<int>(n);
        }
        ::kill(child, SIGKILL);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        ::close(progress[0]);
        ASSERT_EQ(acknowledged, killAfter);
        ASSERT_TRUE(WIFSIGNALED(status));
        // Tolvane is started again ten seconds after it ends at the
        // earliest; the lock the killed writer may have left is that old.
        const QString lock = file + QStringLiteral(".lock");
        if (QFile::exists(lock)) {
            const std::string name = lock.toStdString();
            struct timeval past[2];
            ::gettimeofday(&past[0], nullptr);
            past[0].tv_sec -= 10;
            past[1] = past[0];
            ASSERT_EQ(::utimes(name.c_str(), past), 0);
        }

        const std::string text = readFile(file);
        ASSERT_FALSE(text.empty());
        const ini::FileText parsed = ini::parse(text);
        EXPECT_EQ(parsed.otherLines, 0u);
        EXPECT_EQ(text.back(), '\n');

        auto store = QtSettingsStore::atIniFile(freshCopy(file, file + QStringLiteral(".check")).toStdString());
        EXPECT_EQ(store->GetSetting("Arguments", "Idx_0", ""), filler);
        EXPECT_EQ(store->GetSetting("Launch", "Idx_4", ""), "1");
        // Every write the child finished is there, in order, with nothing
        // missing in between.
        int present = 0;
        while (present < Writes &&
               store->GetSetting("Stream", "Idx_" + std::to_string(present), "<absent>") != "<absent>")
            ++present;
        EXPECT_GE(present, killAfter);
        for (int i = 0; i < present; ++i)
            EXPECT_EQ(store->GetSetting("Stream", "Idx_" + std::to_string(i), ""), valueOf(i)) << i;
        for (int i = present; i < Writes; ++i)
            EXPECT_EQ(store->GetSetting("Stream", "Idx_" + std::to_string(i), "<absent>"), "<absent>") << i;

        // The killed writer's lock does not hold the next run back (Qt
        // alone waits 30 s for an empty one).
        const std::string name = file.toStdString();
        const ChildRun next = runInChild(
            [&] { return QtSettingsStore::atIniFile(name)->SaveSetting("Launch", "Idx_5", "1") ? "saved" : "refused"; },
            {}, std::chrono::seconds(10));
        ASSERT_TRUE(next.finished);
        EXPECT_EQ(next.out, "saved");
    }
}

// Policy and presets on Linux: files in the system's configuration folders
// ($XDG_CONFIG_DIRS, in their order), never in the user's own; only the
// settings of the table; the user's store read without QSettings' fallbacks.
TEST(AdministratorSettingsTest, SystemFoldersOnlyTableKeysOnlyFirstFolderWins) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString first = root.filePath(QStringLiteral("xdg1"));
    const QString second = root.filePath(QStringLiteral("xdg2"));
    const QString home = root.filePath(QStringLiteral("home"));
    for (const QString& folder : {first, second, home}) QDir().mkpath(folder + QStringLiteral("/Vantorix"));
    // The user's own folder listed among the system's is still not read.
    const QString dirs = first + QLatin1Char(':') + home + QLatin1Char(':') + second;
    ::setenv("XDG_CONFIG_HOME", home.toLocal8Bit().constData(), 1);
    ::setenv("XDG_CONFIG_DIRS", dirs.toLocal8Bit().constData(), 1);

    writeFile(first + QStringLiteral("/Vantorix/Poltest-policy.ini"),
              "[Launch]\nIdx_0=1\nIdx_30=1\n[Arguments]\nIdx_2=a,b \"c\"\n[Software]\nInstallDir=C:\\x\n");
    writeFile(second + QStringLiteral("/Vantorix/Poltest-policy.ini"), "[Launch]\nIdx_0=0\nIdx_1=1\n");
    writeFile(home + QStringLiteral("/Vantorix/Poltest-policy.ini"), "[Launch]\nIdx_2=1\n");
    writeFile(first + QStringLiteral("/Vantorix/Poltest.ini"),
              "[Tempo]\nIdx_0=2500\nInstallDir=/opt\n[Metrics]\nFolder=/srv/metrics\n[General]\nAutostart=1\n");
    writeFile(home + QStringLiteral("/Vantorix/Poltest.ini"), "[Freq]\nIdx_0=3\n");
    // The organisation's own file is neither.
    writeFile(first + QStringLiteral("/Vantorix.ini"), "[Launch]\nIdx_3=1\n[Tempo]\nIdx_3=1\n");

    const tolvane::AdministratorSettings read = tolvane::readAdministratorSettings("Poltest");
    const tolvane::SettingValues policy{{{"Launch", "Idx_0"}, "1"},
                                        {{"Launch", "Idx_1"}, "1"},
                                        {{"Arguments", "Idx_2"}, "a,b c"}};  // the file's quotes
    EXPECT_EQ(read.policy, policy);
    const tolvane::SettingValues presets{{{"Tempo", "Idx_0"}, "2500"}, {{"Metrics", "Folder"}, "/srv/metrics"}};
    EXPECT_EQ(read.presets, presets);
    const std::vector<std::string> places{(first + QStringLiteral("/Vantorix/Poltest-policy.ini")).toStdString(),
                                          (second + QStringLiteral("/Vantorix/Poltest-policy.ini")).toStdString()};
    EXPECT_EQ(read.policyPlaces, places);

    // The user's store: only its own file, never the system's as defaults.
    QtSettingsStore user("Poltest");
    const QString userFile = QString::fromStdString(user.location());
    QDir().mkpath(QFileInfo(userFile).path());
    const std::string userText = "[Freq]\nIdx_0=3\n\n[Launch]\nIdx_0=0\n";
    writeFile(userFile, userText);
    QtSettingsStore reopened("Poltest");
    EXPECT_EQ(reopened.GetSetting("Tempo", "Idx_0", "10000"), "10000");
    EXPECT_EQ(reopened.GetSetting("Launch", "Idx_3", "0"), "0");
    tolvane::LayeredSettings layered(reopened, read.policy, read.presets);
    EXPECT_EQ(layered.GetSetting("Tempo", "Idx_0", "10000"), "2500");
    EXPECT_EQ(layered.GetSetting("Launch", "Idx_0", "0"), "1");
    EXPECT_EQ(layered.GetSetting("Freq", "Idx_0", "1"), "3");
    EXPECT_EQ(layered.GetSetting("Metrics", "Folder", ""), "/srv/metrics");
    // Loading's reactions leave the preset and the enforced value out of
    // the user's file; an edit of the preset key goes in.
    layered.setLoading(true);
    EXPECT_TRUE(layered.SaveSetting("Tempo", "Idx_0", "2500"));
    EXPECT_TRUE(layered.SaveSetting("Launch", "Idx_0", "1"));
    EXPECT_TRUE(layered.SaveSetting("Freq", "Idx_0", "3"));
    layered.setLoading(false);
    EXPECT_EQ(readFile(userFile), userText);
    EXPECT_TRUE(layered.SaveSetting("Tempo", "Idx_0", "3000"));
    EXPECT_EQ(readFile(userFile), userText + "\n[Tempo]\nIdx_0=3000\n");

    // No system folder holds anything: nothing is set.
    ::setenv("XDG_CONFIG_DIRS", root.filePath(QStringLiteral("none")).toLocal8Bit().constData(), 1);
    const tolvane::AdministratorSettings none = tolvane::readAdministratorSettings("Poltest");
    EXPECT_TRUE(none.policy.empty());
    EXPECT_TRUE(none.presets.empty());
    ::unsetenv("XDG_CONFIG_DIRS");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
