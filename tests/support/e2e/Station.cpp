#include "tests/support/e2e/Station.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include <gtest/gtest.h>

#include <QSettings>

#include <xcb/xcb.h>

namespace tolvane::testsupport {

namespace {

// The e2e binaries reap the orphans of what they start: the tools Tolvane
// starts are re-parented away from it, and init does not reap everywhere.
struct ReaperEnvironment : ::testing::Environment {
    void SetUp() override { testsupport::adoptOrphans(); }
};
[[maybe_unused]] auto* const g_reaper = ::testing::AddGlobalTestEnvironment(new ReaperEnvironment);

void copyExecutable(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    ::chmod(to.c_str(), 0755);
}

}  // namespace

const std::vector<std::string>& toolNames() {
    static const std::vector<std::string> names{"VX8_Library",
                                                "VX8_Production",
                                                "VX8_Tools_Scheduler",
                                                "VX8_Tools_Planner",
                                                "VX8_Broadcasters",
                                                "VX8_Player",
                                                "VX8_Tools_Data",
                                                "VX8_Tools_Live",
                                                "VX8_Tools_FTP",
                                                "VX8_Tools_Pool",
                                                "VX8_Cartwall",
                                                "VX8_Board",
                                                "VX8_Player_A",
                                                "VX8_Player_B",
                                                "VX8_Player_C",
                                                "VX8_Player_D",
                                                "VX8_Player_E",
                                                "VX8_Player_F",
                                                "VX8_Player_G",
                                                "VX8_Player_H",
                                                "VX8_Broadcaster_Backup",
                                                "VX8_Tools_Tagging",
                                                "VX8_Tools_Relay",
                                                "VX8_Tools_Podcast",
                                                "VX8_Tools_Convert",
                                                "VX8_Tools_Recorder",
                                                "VX8_Tools_Processor",
                                                "VX8_Tools_Voice_Server",
                                                "VX8_Tools_Synchro",
                                                "VX8_Tools_Speech"};
    return names;
}

Station::Station(StationOptions options)
    : m_options(options),
      m_x(std::make_unique<testsupport::XServer>(options.windowManager)),
      m_tools(options.folderLeaf),
      m_config(),
      m_data() {
    m_x->makeCurrent();
    m_probe = std::make_unique<testsupport::XProbe>(m_x->display());
    if (options.withTolvaneBinary)
        copyExecutable(TOLVANE_BINARY, m_tools.file("Tolvane"));
    else if (options.tolvaneStandin)
        testsupport::makeCopies(STANDIN_BINARY, m_tools.path(), {"Tolvane"});
    if (options.withKrandel) copyExecutable(KRANDEL_BINARY, m_tools.file("Krandel"));
    testsupport::makeCopies(STANDIN_BINARY, m_tools.path(), toolNames());
    m_platform = platform::createSystemPlatform();
}

Station::~Station() {
    // Everything this station started runs from its folder: Tolvane,
    // Krandel, the tools.
    testsupport::stopProgramsRunningFrom(m_tools.path());
    stopTray();
    m_platform.reset();
    m_probe.reset();
    m_x.reset();
    testsupport::reapExitedChildren();
}

void Station::set(const std::string& section, const std::string& key, const std::string& value) {
    m_settings[section][key] = value;
}

void Station::setTool(int tool, const std::string& section, const std::string& value) {
    set(section, "Idx_" + std::to_string(tool), value);
}

void Station::standinOptions(const std::string& baseName, const std::string& text) {
    testsupport::writeFile(m_tools.file(baseName + ".standin"), text);
}

std::string Station::settingsFile() const { return m_config.path() + "/Vantorix/Tolvane.ini"; }

void Station::writeSettings() const {
    // Written the way Tolvane itself writes it, so quotes, commas and
    // leading blanks mean what they say.
    std::filesystem::create_directories(m_config.path() + "/Vantorix");
    QSettings ini(QString::fromStdString(settingsFile()), QSettings::IniFormat);
    for (const auto& [section, keys] : m_settings)
        for (const auto& [key, value] : keys)
            ini.setValue(QString::fromStdString(section + "/" + key), QString::fromStdString(value));
    ini.sync();
}

namespace {

void writeSystemFile(const std::string& file, const Station::SectionValues& values) {
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::filesystem::remove(file);
    if (values.empty()) return;
    QSettings ini(QString::fromStdString(file), QSettings::IniFormat);
    for (const auto& [section, keys] : values)
        for (const auto& [key, value] : keys)
            ini.setValue(QString::fromStdString(section + "/" + key), QString::fromStdString(value));
    ini.sync();
}

}  // namespace

void Station::writePolicy(const SectionValues& values) const {
    writeSystemFile(m_system.path() + "/Vantorix/Tolvane-policy.ini", values);
}

void Station::writePresets(const SectionValues& values) const {
    writeSystemFile(m_system.path() + "/Vantorix/Tolvane.ini", values);
}

pid_t Station::startProgram(const std::string& name, const std::vector<std::string>& arguments,
                            const std::optional<std::string>& fakeTime) {
    const std::string path = m_tools.file(name);
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ::setenv("XDG_CONFIG_HOME", m_config.path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", m_data.path().c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", m_system.path().c_str(), 1);
    ::setenv("DISPLAY", m_x->display().c_str(), 1);
    // A runtime folder of the station's own, as a session gives one.
    const std::string runtime = m_runtimeFolder.empty() ? m_data.path() + "/run" : m_runtimeFolder;
    ::mkdir(runtime.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    if (fakeTime) {
        ::setenv("LD_PRELOAD", testsupport::libfaketimePath().c_str(), 1);
        ::setenv("FAKETIME", fakeTime->c_str(), 1);
        ::setenv("FAKETIME_DONT_FAKE_MONOTONIC", "1", 1);
    }
    const pid_t pid = testsupport::spawnChild(path, argv, std::nullopt, m_config.file("stderr.txt"));
    ::unsetenv("LD_PRELOAD");
    ::unsetenv("FAKETIME");
    ::unsetenv("FAKETIME_DONT_FAKE_MONOTONIC");
    return pid;
}

pid_t Station::startTolvane(const std::vector<std::string>& arguments, const std::optional<std::string>& fakeTime) {
    writeSettings();
    return startProgram("Tolvane", arguments, fakeTime);
}

std::size_t linesMatching(const std::vector<std::string>& lines, const std::regex& pattern) {
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return std::regex_search(l, pattern); }));
}

std::vector<std::string> Station::journalLines(const std::string& program) const {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(journalFolder(program), error))
        if (entry.path().extension() == ".log") files.push_back(entry.path().string());
    return testsupport::linesOfFiles(std::move(files));
}

std::string Station::errors() const {
    std::ifstream in(m_config.file("stderr.txt"));
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<StandinLogLine> Station::log() const { return standin::readLogFile(m_tools.file("standin.log")); }

std::vector<StandinLogLine> Station::startsOf(const std::string& baseName) const {
    std::vector<StandinLogLine> lines;
    for (auto& line : log())
        if (line.executableName == baseName) lines.push_back(line);
    return lines;
}

bool Station::waitForStarts(const std::string& baseName, std::size_t count, std::chrono::milliseconds timeout) const {
    return testsupport::waitUntil([&] { return startsOf(baseName).size() >= count; }, timeout);
}

std::vector<pid_t> Station::running(const std::string& baseName) const {
    std::vector<pid_t> pids;
    for (const pid_t pid : testsupport::processesRunningFrom(m_tools.path())) {
        const auto exe = testsupport::executablePath(pid);
        const auto state = testsupport::processState(pid);
        if (!exe || !state || state->state == 'Z') continue;
        if (std::filesystem::path(*exe).filename() == baseName) pids.push_back(pid);
    }
    return pids;
}

bool Station::windowExists(const std::string& title) { return m_platform->topLevelWindowExists(title); }

bool Station::windowsExist(const std::vector<std::string>& titles) {
    const auto found = m_platform->topLevelWindowsExist(titles);
    return std::find(found.begin(), found.end(), false) == found.end();
}

pid_t Station::startTray() {
    m_tray = testsupport::startTrayer();
    return m_tray;
}

void Station::stopTray() {
    if (m_tray <= 0) return;
    ::kill(m_tray, SIGKILL);
    testsupport::waitForExit(m_tray, 5s);
    m_tray = -1;
}

bool Station::trayAreaAvailable() { return testsupport::trayAreaOwned(m_x->display()); }

std::size_t Station::trayIcons() { return trayIconWindows().size(); }

// An embedded icon is a window of Tolvane's somewhere below trayer's panel.
std::vector<std::uint32_t> Station::trayIconWindows() { return m_probe->trayPanelWindows("tolvane"); }

}  // namespace tolvane::testsupport
