// The MSI as the station's IT person deploys it: what its tables promise,
// read with msiinfo, and what wine's msiexec really does with it: a silent
// install into the suite's folder (a blank and an accent in its name) with
// the logon start and the metrics folder, Windows 7 turned away, the
// installed Tolvane.exe coming up, a newer MSI upgrading in place (keeping
// both choices), an older one turned away, and an uninstall that takes only
// what the MSI brought.
//
// The MSI is the one scripts/build-windows packed for the build's stamp; the
// newer one is packed here by the same packaging script from the same
// deploy folder, with a higher version. Nothing is skipped when they are missing: the test fails
// and says what to build.
//
// Where wine behaves otherwise than Windows, and what the test does about it:
// - msiexec's exit code reaches us cut to its low byte (1603 reads 67);
// - a per-machine Start menu shortcut lands in the user's Start menu, not in
//   ProgramData (either place is accepted, exactly one must hold it);
// - a new prefix reports Windows 7, which the launch condition refuses; the
//   station sets it to Windows 10 first (and this test back to 7 once, to
//   see the refusal);
// - its silent log leaves out the launch condition's message, so that
//   refusal is recognised by where the install stopped.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <tuple>

#include "tests/support/posix/Processes.h"
#include "tests/support/wine/WineStation.h"

namespace {

namespace fs = std::filesystem;
using namespace tolvane::testsupport;
using tolvane::testsupport::readFile;
using Strings = std::vector<std::string>;
using Column = std::map<std::string, std::string>;

// Where the suite lives on the station; the blank and the "É" are the two
// things a command line or a registry value most easily gets wrong.
const std::string kSuiteFolder = "C:\\Program Files\\Vantorix \xC3\x89t\xC3\xA9\\";
const std::string kSettingsKey = "HKCU\\Software\\Vantorix\\Tolvane";
// The identity every Tolvane MSI shares: a changed UpgradeCode would install
// the next version beside the deployed one instead of upgrading it.
const std::string kUpgradeCode = "{5B7F3C0E-2D4A-4E61-9A58-6C1E0F3B8D27}";
const std::string kAbsent = "<absent>";
const Strings kFiles{"Tolvane.exe",
                     "Krandel.exe",
                     "Tolvane-NOTICE.txt",
                     "PolicyDefinitions/Tolvane.admx",
                     "PolicyDefinitions/fr-FR/Tolvane.adml",
                     "PolicyDefinitions/en-US/Tolvane.adml"};
// The metrics folder IT names (METRICSFOLDER), as typed; wixl's default for
// it, under the system drive, must never appear.
const std::string kMetricsFolder = "C:\\M\xC3\xA9triques Tolvane\\";
const std::string kMetricsDefault = "C:\\TolvaneMetrics";
const std::string kPlayer = "the suite's player, not ours\n";
constexpr int kRefused = 1603 & 0xFF;

// A host tool (msiinfo, wixl), run in `folder`, with its labels untranslated:
// the station sets a French locale for wine.
WineStation::Result host(Strings argv, const std::string& folder = ".", std::chrono::milliseconds timeout = 60s) {
    argv.insert(argv.begin(), {"env", "-C", folder, "LC_ALL=C"});
    return runOnHost(argv, timeout);
}

// One column of a table, by the row's first cell.
Column msiColumn(const std::string& msi, const std::string& table, std::size_t column) {
    Column cells;
    for (const auto& row : msiTable(msi, table))
        if (row.size() > column) cells[row[0]] = row[column];
    return cells;
}

std::string valueIn(const Column& values, const std::string& name) {
    return values.count(name) ? values.at(name) : kAbsent;
}
std::string valueIn(const RegistryTree& tree, const std::string& section, const std::string& name) {
    return tree.count(section) ? valueIn(tree.at(section), name) : kAbsent;
}

struct VersionStamp {
    std::string text;  // YEAR.MMDD.HHMM
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    // The MSI version the packaging derives from the stamp; written out
    // again here so that an MSI carrying another one is caught.
    std::string msiVersion() const {
        return std::to_string(year - 2000) + "." + std::to_string(month) + "." +
               std::to_string((day - 1) * 1440 + hour * 60 + minute);
    }
};

// Same bytes? Said as a yes or no: gtest would print two executables of
// twenty megabytes side by side, and diff them line by line, on a mismatch.
bool sameBytes(const std::string& hostA, const std::string& hostB) {
    std::error_code error;
    return fs::exists(hostA, error) && fs::exists(hostB, error) && readFile(hostA) == readFile(hostB);
}

// The end of an msiexec log: what went wrong, for a failure message.
std::string tail(const std::string& log) {
    return log.empty() ? "(no log)" : log.substr(log.size() - std::min<std::size_t>(log.size(), 2500));
}

// Windows puts a per-machine shortcut in ProgramData; wine puts it in the
// Start menu of the user who ran msiexec. Either counts, once.
std::size_t startMenuShortcuts(const WineStation& station) {
    const std::string relative = "Microsoft/Windows/Start Menu/Programs/Vantorix/Tolvane.lnk";
    std::error_code error;
    std::size_t found = fs::exists(station.hostPath("C:\\ProgramData") + "/" + relative, error);
    for (const auto& user : fs::directory_iterator(station.hostPath("C:\\users"), error))
        found += fs::exists(user.path().string() + "/AppData/Roaming/" + relative, error);
    return found;
}

// One msiexec run, silent, its verbose log (in the ANSI code page) named
// after the step; then what the station holds: Tolvane.exe with the bytes of
// `tolvaneExe`, the MSI's other files as deploy/ has them, one Add/Remove
// Programs entry of `version`, the logon start, the folder and the choice
// remembered, the shortcut, the metrics folder's preset `metrics` (or
// kAbsent) and the folder; or, when `version` is kAbsent, none of these.
// Once what is not the MSI's is placed (`settings`), it stays as it was.
void msiexecStep(WineStation& station, const std::string& step, Strings arguments, int status,
                 const std::string& tolvaneExe, const std::string& version, const RegistryTree* settings,
                 const std::string& metrics = kAbsent) {
    SCOPED_TRACE(step);
    arguments.insert(arguments.begin(), "msiexec");
    arguments.insert(arguments.begin() + 3, {"/qn", "/l*v", "C:\\" + step + ".log"});
    const auto ran = station.run(arguments, 180s);
    const std::string log = readFile(station.hostPath("C:\\" + step + ".log"));
    ASSERT_FALSE(ran.timedOut) << "msiexec did not finish";
    if (status == 0)
        ASSERT_EQ(ran.status, 0) << ran.output << tail(log);
    else
        EXPECT_EQ(ran.status, status) << ran.output << tail(log);

    const bool installed = version != kAbsent;
    const std::string folder = station.hostPath(kSuiteFolder);
    for (const auto& file : kFiles) {
        const std::string bytes = file == "Tolvane.exe" ? tolvaneExe : WineStation::windowsBuild() + "/deploy/" + file;
        if (installed)
            EXPECT_TRUE(sameBytes(folder + file, bytes)) << file << " is not installed as " << bytes << " has it";
        else
            EXPECT_FALSE(fs::exists(folder + file)) << file << " left behind";
    }
    EXPECT_FALSE(fs::exists(station.hostPath("C:\\Program Files\\Vantorix"))) << "something went to the default folder";
    EXPECT_FALSE(fs::exists(station.hostPath(kMetricsDefault))) << "a metrics folder nobody named";
    EXPECT_TRUE(metrics == kAbsent || fs::is_directory(station.hostPath(metrics))) << "no metrics folder " << metrics;
    EXPECT_EQ(startMenuShortcuts(station), installed ? 1u : 0u);
    // A read that failed would look like "nothing there", so a value every
    // prefix holds must be in it.
    const RegistryTree cv = station.regTree("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion");
    EXPECT_NE(valueIn(cv, "", "ProgramFilesDir"), kAbsent) << "reg export of CurrentVersion gave nothing usable";
    Strings entries;  // of Add/Remove Programs, named Tolvane
    for (const auto& [section, values] : cv)
        if (section.rfind("Uninstall\\", 0) == 0 && valueIn(values, "DisplayName") == "Tolvane")
            entries.push_back(section);
    const std::string entry = entries.size() == 1 ? entries.front() : "<no single entry>";
    const RegistryTree vantorix = station.regTree("HKLM\\Software\\Vantorix");
    const struct {
        const RegistryTree& tree;
        std::string section, name, expected;
    } values[] = {
        {cv, "Run", "Tolvane", installed ? "\"" + kSuiteFolder + "Tolvane.exe\" /Veille=True" : kAbsent},
        {cv, entry, "DisplayVersion", version},
        {cv, entry, "InstallLocation", installed ? kSuiteFolder : kAbsent},
        {vantorix, "Tolvane", "InstallDir", installed ? kSuiteFolder : kAbsent},
        {vantorix, "Tolvane", "Autostart", installed ? "1" : kAbsent},
        {vantorix, "Tolvane\\Metrics", "Folder", metrics},
        {vantorix, "VX8_Library", "Dossier", settings ? "D:\\Sons" : kAbsent},
    };
    for (const auto& v : values)
        EXPECT_EQ(valueIn(v.tree, v.section, v.name), v.expected) << v.section << "\\" << v.name;
    if (settings) {
        EXPECT_EQ(readFile(folder + "VX8_Player.exe"), kPlayer) << "the suite's program was touched";
        EXPECT_EQ(station.regTree(kSettingsKey), *settings) << "the operator's settings changed";
    }
    ASSERT_EQ(entries.size(), installed ? 1u : 0u) << "Add/Remove Programs entries named Tolvane";
}

class WindowsInstaller : public ::testing::Test {
protected:
    void SetUp() override {
        std::smatch m;
        const std::string text = WineStation::versionStamp();
        ASSERT_TRUE(std::regex_match(text, m, std::regex(R"((\d{4})\.(\d{2})(\d{2})\.(\d{2})(\d{2}))"))) << text;
        stamp = {text, std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[5])};
        msi = WineStation::windowsBuild() + "/Tolvane-" + text + "-x64.msi";
        ASSERT_TRUE(fs::exists(msi)) << "no " << msi << " (run scripts/build-windows, or set TOLVANE_WINDOWS_BUILD)";
    }
    VersionStamp stamp;
    std::string msi;
};

}  // namespace

// What the MSI declares, read without running it: a per-machine x64 package
// whose version follows its stamp, the logon start only as an opt-in, and
// the folder remembered for upgrades and uninstalls.
TEST_F(WindowsInstaller, TablesDeclareAPerMachineX64PackageWithAnOptInLogonStart) {
    const Column properties = msiColumn(msi, "Property", 1);
    const std::tuple<std::string, std::string, std::string> declared[] = {
        {"ALLUSERS", "1", "a per-user package would install only for the system account"},
        {"ProductName", "Tolvane", ""},
        {"Manufacturer", "Vantorix", ""},
        {"ProductVersion", stamp.msiVersion(), "for stamp " + stamp.text},
        {"UpgradeCode", kUpgradeCode, ""},
        {"MSIRESTARTMANAGERCONTROL", "Disable", "a silent upgrade must never close the running supervisor"},
    };
    for (const auto& [name, value, why] : declared) EXPECT_EQ(valueIn(properties, name), value) << name << ": " << why;
    EXPECT_NE(valueIn(properties, "ARPPRODUCTICON"), kAbsent);

    // Summary: x64, and the word count without "no elevation needed" (8),
    // which is what a per-user package sets.
    const auto summary = host({"msiinfo", "suminfo", msi});
    ASSERT_EQ(summary.status, 0) << summary.output;
    EXPECT_NE(summary.output.find("Template: x64;"), std::string::npos) << summary.output;
    std::smatch wordCount;
    ASSERT_TRUE(std::regex_search(summary.output, wordCount, std::regex(R"(Source: (\d+))"))) << summary.output;
    EXPECT_EQ(std::stoi(wordCount[1]) & 8, 0) << summary.output;

    // Every component is 64-bit (attribute 256): files under Program Files,
    // registry values in the 64-bit view that the station's tools read.
    const auto components = msiTable(msi, "Component");
    ASSERT_FALSE(components.empty());
    for (const auto& row : components) {
        ASSERT_GE(row.size(), 4u);
        EXPECT_TRUE(std::stoi(row[3]) & 256) << "component " << row[0] << " is not 64-bit";
    }

    // The Run row: HKLM (root 2), the quoted path and /Veille=True; and the
    // folder remembered, also machine-wide. Each gives its component.
    struct Row {
        std::string key, name, value, component;
    } rows[] = {{"Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Tolvane",
                 "\"[INSTALLDIR]Tolvane.exe\" /Veille=True", ""},
                {"Software\\Vantorix\\Tolvane", "InstallDir", "[INSTALLDIR]", ""}};
    for (const auto& row : msiTable(msi, "Registry"))
        for (auto& wanted : rows)
            if (row.size() >= 6 && row[2] == wanted.key && row[3] == wanted.name) {
                EXPECT_EQ(row[1], "2") << wanted.name << " must be machine-wide (HKLM)";
                EXPECT_EQ(row[4], wanted.value);
                wanted.component = row[5];
            }
    for (const auto& wanted : rows) ASSERT_FALSE(wanted.component.empty()) << "no " << wanted.name << " row";

    // Opt-in: the Run value's component belongs only to features above the
    // default install level, and something raises the level for AUTOSTART=1.
    const Column featureLevels = msiColumn(msi, "Feature", 5);
    const int installLevel = std::stoi(properties.count("INSTALLLEVEL") ? properties.at("INSTALLLEVEL") : "1");
    int runFeatures = 0;
    for (const auto& row : msiTable(msi, "FeatureComponents")) {
        if (row.size() < 2 || row[1] != rows[0].component) continue;
        ++runFeatures;
        EXPECT_GT(featureLevels.count(row[0]) ? std::stoi(featureLevels.at(row[0])) : 0, installLevel)
            << "feature " << row[0] << " installs the Run value by default";
    }
    EXPECT_GT(runFeatures, 0);
    const Column actionConditions = msiColumn(msi, "InstallExecuteSequence", 1);
    bool raisedForAutostart = false;
    for (const auto& row : msiTable(msi, "CustomAction")) {
        // Type 51 sets a property: INSTALLLEVEL, under AUTOSTART = "1".
        raisedForAutostart |= row.size() >= 4 && row[2] == "INSTALLLEVEL" && (std::stoi(row[1]) & 0x3F) == 51 &&
                              valueIn(actionConditions, row[0]).find("AUTOSTART = \"1\"") != std::string::npos &&
                              std::stoi(row[3]) > installLevel;
    }
    EXPECT_TRUE(raisedForAutostart) << "nothing raises INSTALLLEVEL for AUTOSTART=1 in the execute sequence";

    // The metrics folder's preset, only with METRICSFOLDER: its component
    // carries that condition (wixl writes none; the packaging adds it), and
    // the folder it creates is one the machine's Users (BU) may modify.
    std::string metricsComponent;
    for (const auto& row : msiTable(msi, "Registry"))
        if (row.size() >= 6 && row[2] == "Software\\Vantorix\\Tolvane\\Metrics" && row[3] == "Folder") {
            EXPECT_EQ(row[1], "2") << "the preset must be machine-wide (HKLM)";
            EXPECT_EQ(row[4], "[TolvaneMetricsDir]");
            metricsComponent = row[5];
        }
    ASSERT_FALSE(metricsComponent.empty()) << "no Metrics\\Folder row";
    EXPECT_EQ(valueIn(msiColumn(msi, "Component", 4), metricsComponent), "METRICSFOLDER");
    std::string metricsDirectory = kAbsent;
    for (const auto& row : msiTable(msi, "CreateFolder"))
        if (row.size() >= 2 && row[1] == metricsComponent) metricsDirectory = row[0];
    const auto locks = msiTable(msi, "MsiLockPermissionsEx");
    const bool usersModify = std::any_of(locks.begin(), locks.end(), [&](const Strings& row) {
        return row.size() >= 4 && row[1] == metricsDirectory && row[2] == "CreateFolder" &&
               row[3].find("(A;OICI;0x1301bf;;;BU)") != std::string::npos;
    });
    EXPECT_TRUE(usersModify) << "the metrics folder " << metricsDirectory << " is not opened to Users";

    // The programs' rows name the version their own resource carries (so an
    // upgrade replaces an older copy, one from the zip included), and have
    // no hash, which is for unversioned files only; the notice keeps its.
    const Column versions = msiColumn(msi, "File", 4);
    const Column hashes = msiColumn(msi, "MsiFileHash", 1);
    for (const auto& [id, file] : {std::pair{"TolvaneExe", "Tolvane.exe"}, std::pair{"KrandelExe", "Krandel.exe"}}) {
        const auto resource = runOnHost({"x86_64-w64-mingw32-windres", "-J", "coff", "-O", "rc", "-i",
                                         WineStation::windowsBuild() + "/deploy/" + file});
        std::smatch m;
        ASSERT_TRUE(std::regex_search(resource.output, m, std::regex(R"(FILEVERSION (\d+), ?(\d+), ?(\d+), ?(\d+))")))
            << file << ": no version resource\n"
            << resource.output.substr(0, 2000);
        EXPECT_EQ(valueIn(versions, id), m[1].str() + "." + m[2].str() + "." + m[3].str() + "." + m[4].str()) << id;
        EXPECT_EQ(valueIn(versions, id), std::to_string(stamp.year) + "." +
                                             std::to_string(stamp.month * 100 + stamp.day) + "." +
                                             std::to_string(stamp.hour * 100 + stamp.minute) + ".0")
            << id << ": for stamp " << stamp.text;
        EXPECT_EQ(hashes.count(id), 0u) << id;
    }
    EXPECT_EQ(valueIn(versions, "Notice"), "");
    EXPECT_EQ(hashes.count("Notice"), 1u);
}

// The whole life of an installation under wine's msiexec.
TEST_F(WindowsInstaller, InstallsStartsUpgradesAndUninstallsUnderWine) {
    const std::string deploy = WineStation::windowsBuild() + "/deploy";
    for (const auto& file : kFiles)
        ASSERT_TRUE(fs::exists(deploy + "/" + file))
            << deploy << "/" << file << " is missing (run scripts/build-windows)";

    // The newer MSI: the same files and source, a year later in version
    // (always higher, whatever the month, day and time), packed by the
    // packaging's own script (wixl, then msibuild for what wixl cannot
    // write). Its Tolvane.exe carries a few bytes past the image (as a
    // signature would), so the upgrade can be seen to replace the file.
    tolvane::testsupport::TempFolder stage("newer");
    for (const auto& file : kFiles) {
        fs::create_directories(fs::path(stage.file("deploy/" + file)).parent_path());
        fs::copy_file(deploy + "/" + file, stage.file("deploy/" + file));
    }
    std::ofstream(stage.file("deploy/Tolvane.exe"), std::ios::binary | std::ios::app) << "newer-msi-marker";
    VersionStamp newer = stamp;
    newer.text = std::to_string(++newer.year) + stamp.text.substr(4);
    const std::string source = TOLVANE_SOURCE_DIR;
    Strings pack{"cmake"};
    for (const std::string& definition :
         Strings{"STEP=msi", "DEPLOY_DIR=" + stage.file("deploy"), "STAGE_DIR=" + stage.file("pack"),
                 "OUTPUT=" + stage.file("newer.msi"), "WXS=" + source + "/packaging/windows/Tolvane.wxs",
                 "ICON=" + source + "/packaging/icon/tolvane.ico", "MSI_VERSION=" + newer.msiVersion(),
                 "STAMP=" + newer.text, "FILE_VERSION=" + std::to_string(newer.year) + ".1.0.0", "WIXL=wixl",
                 "MSIBUILD=msibuild", "MSIINFO=msiinfo"})
        pack.insert(pack.end(), {"-D", definition});
    pack.insert(pack.end(), {"-P", source + "/packaging/windows/package.cmake"});
    const auto packed = host(pack, stage.path(), 120s);
    ASSERT_EQ(packed.status, 0) << "the newer MSI could not be packed (Debian packages wixl, msitools):\n"
                                << packed.output;

    WineStation station;
    copyInto(msi, station.hostPath("C:\\older.msi"));
    copyInto(stage.file("newer.msi"), station.hostPath("C:\\newer.msi"));

    // Windows 7 is turned away by the launch condition, with nothing
    // installed; then the station is back at Windows 10. wine's silent log
    // leaves the condition's message out; that the launch conditions were the
    // last step taken shows it was them.
    ASSERT_EQ(station.run({"winecfg", "-v", "win7"}).status, 0);
    ASSERT_NO_FATAL_FAILURE(msiexecStep(station, "windows7", {"/i", "C:\\older.msi", "INSTALLDIR=" + kSuiteFolder},
                                        kRefused, "", kAbsent, nullptr));
    ASSERT_EQ(station.run({"winecfg", "-v", "win10"}).status, 0);
    const std::string log = readFile(station.hostPath("C:\\windows7.log"));
    EXPECT_TRUE(log.find("LaunchConditions") != std::string::npos && log.find("CostInitialize") == std::string::npos)
        << "refused, but not by the launch condition:\n"
        << tail(log);

    // A silent install into the suite's folder, with the logon start; the
    // installed Tolvane.exe comes up with its caption, from there.
    ASSERT_NO_FATAL_FAILURE(msiexecStep(
        station, "install",
        {"/i", "C:\\older.msi", "INSTALLDIR=" + kSuiteFolder, "AUTOSTART=1", "METRICSFOLDER=" + kMetricsFolder}, 0,
        deploy + "/Tolvane.exe", stamp.msiVersion(), nullptr, kMetricsFolder));
    // What Tolvane writes there is not the MSI's.
    const std::string metricsFile = station.hostPath(kMetricsFolder) + "tolvane.prom";
    tolvane::testsupport::writeFile(metricsFile, "tolvane_info{version=\"x\"} 1\n", 0644);
    // One of the suite's tools beside it, launched at once and verified:
    // it must keep running through the upgrade, and never be started twice.
    copyInto(WineStation::standinExe(), station.hostPath(kSuiteFolder) + "VX8_Library.exe");
    for (const auto& [section, value] : {std::pair{"Launch", "1"}, {"Tempo", "0"}, {"Check", "1"}, {"Freq", "0"}})
        ASSERT_TRUE(station.regSet(kSettingsKey + "\\" + section, "Idx_0", value));
    const std::string caption = "Vantorix: Tools Launcher - " + stamp.text;
    const auto startInstalled = [&] {
        const pid_t wine = station.start(kSuiteFolder + "Tolvane.exe", {"/Veille=True"});
        return std::pair{wine, tolvane::testsupport::waitUntil([&] { return station.windowExists(caption); }, 60s)};
    };
    const auto [wine, shown] = startInstalled();
    const bool toolStarted = tolvane::testsupport::waitUntil([&] { return station.windowExists("VX8_Library"); }, 30s);
    bool fromSuiteFolder = false;
    for (const pid_t pid : station.processes("Tolvane.exe")) {
        const auto args = station.commandLine(pid);
        fromSuiteFolder |= !args.empty() && args[0] == kSuiteFolder + "Tolvane.exe";
    }
    // The scripted stop before an upgrade: taskkill without /f, which
    // Tolvane takes without a question, in standby too.
    const auto stopTolvane = [&] {
        const auto stopped = station.run({"taskkill", "/im", "Tolvane.exe"}, 60s);
        const bool gone =
            tolvane::testsupport::waitUntil([&] { return station.processes("Tolvane.exe").empty(); }, 30s);
        if (!gone) station.run({"taskkill", "/f", "/im", "Tolvane.exe"}, 60s);
        return std::pair{stopped, gone};
    };
    const auto [stopped, gone] = stopTolvane();
    tolvane::testsupport::waitForExit(wine, 30s);
    EXPECT_TRUE(shown) << "no window \"" << caption << "\"";
    EXPECT_TRUE(toolStarted) << "the installed Tolvane did not launch VX8_Library";
    EXPECT_TRUE(fromSuiteFolder) << "no Tolvane.exe process running from " << kSuiteFolder;
    EXPECT_EQ(stopped.status, 0) << stopped.output;
    ASSERT_TRUE(gone) << "Tolvane.exe still runs after taskkill without /f";
    EXPECT_EQ(station.processes("VX8_Library.exe").size(), 1u) << "the tool did not keep running";

    // What is not the MSI's: a program of the suite in the same folder, the
    // operator's settings (whatever Tolvane wrote at its first start plus one
    // of ours), and a key another program of the suite keeps beside ours.
    tolvane::testsupport::writeFile(station.hostPath(kSuiteFolder) + "VX8_Player.exe", kPlayer, 0755);
    ASSERT_TRUE(station.regSet(kSettingsKey + "\\Launch", "Idx_0", "1"));
    ASSERT_TRUE(station.regSet("HKLM\\Software\\Vantorix\\VX8_Library", "Dossier", "D:\\Sons"));
    const RegistryTree settings = station.regTree(kSettingsKey);
    ASSERT_EQ(valueIn(settings, "Launch", "Idx_0"), "1") << "the settings could not be read back";

    // A newer MSI, bare command line: same folder, file replaced, the logon
    // start kept. The older one over it is refused (1603, cut to 67 by
    // wine), and nothing changes. Uninstall: ours gone, the suite's and the
    // operator's stay.
    const std::string replaced = stage.file("deploy/Tolvane.exe");
    ASSERT_NO_FATAL_FAILURE(msiexecStep(station, "upgrade", {"/i", "C:\\newer.msi", "REBOOT=ReallySuppress"}, 0,
                                        replaced, newer.msiVersion(), &settings, kMetricsFolder));
    // The new Tolvane supervises the tool that kept running, and starts no
    // second copy of it.
    const auto [upgraded, upgradedShown] = startInstalled();
    EXPECT_TRUE(upgradedShown) << "the upgraded Tolvane showed no window";
    EXPECT_FALSE(tolvane::testsupport::waitUntil([&] { return station.processes("VX8_Library.exe").size() > 1; }, 5s))
        << "the upgraded Tolvane started VX8_Library a second time";
    EXPECT_TRUE(stopTolvane().second);
    tolvane::testsupport::waitForExit(upgraded, 30s);
    for (const pid_t pid : station.processes("VX8_Library.exe")) ::kill(pid, SIGKILL);
    ASSERT_NO_FATAL_FAILURE(msiexecStep(station, "downgrade", {"/i", "C:\\older.msi"}, kRefused, replaced,
                                        newer.msiVersion(), &settings, kMetricsFolder));
    msiexecStep(station, "uninstall", {"/x", "C:\\newer.msi"}, 0, "", kAbsent, &settings);
    // The preset went with the MSI; the folder stays while it holds a file.
    EXPECT_TRUE(fs::exists(metricsFile)) << "the uninstall took the metrics file";

    // Nothing remembered any more, and no METRICSFOLDER: no preset, and no
    // folder anywhere (msiexecStep looks for wixl's default one).
    ASSERT_NO_FATAL_FAILURE(msiexecStep(station, "without-metrics",
                                        {"/i", "C:\\newer.msi", "INSTALLDIR=" + kSuiteFolder, "AUTOSTART=1"}, 0,
                                        replaced, newer.msiVersion(), &settings, kAbsent));
    msiexecStep(station, "uninstall-again", {"/x", "C:\\newer.msi"}, 0, "", kAbsent, &settings);
}
