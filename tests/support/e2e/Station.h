#pragma once
// A station on one machine for the end-to-end tests: a real X server (with
// openbox and, when asked, trayer), a folder with blanks and accents holding
// the real Tolvane and Krandel and thirty stand-ins named after the suite's
// tools, a settings store of its own, and the real Tolvane started in it,
// optionally with the wall clock moved and sped up by libfaketime.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "standin/StandinLog.h"
#include "tests/support/posix/Processes.h"
#include "tests/support/posix/TempFolder.h"
#include "tests/support/posix/XServer.h"

namespace tolvane::testsupport {

using namespace std::chrono_literals;
using standin::StandinLogLine;

struct StationOptions {
    bool windowManager = true;
    bool withKrandel = false;
    bool withTolvaneBinary = true;
    // Without the real Tolvane: a stand-in copy named "Tolvane" in its
    // place, which logs how Krandel started it.
    bool tolvaneStandin = false;
    std::string folderLeaf = "Vantorix Été";
};

class Station {
public:
    explicit Station(StationOptions options = {});
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    const std::string& folder() const { return m_tools.path(); }
    const std::string& display() const { return m_x->display(); }
    testsupport::XServer& x() { return *m_x; }
    testsupport::XProbe& probe() { return *m_probe; }

    // Settings, written to the INI file before Tolvane starts.
    void set(const std::string& section, const std::string& key, const std::string& value);
    void setTool(int tool, const std::string& section, const std::string& value);
    // Launched at once and verified every "01 Min" (three seconds at twenty
    // times the speed).
    void launchAndVerifyEveryMinute(int tool) {
        for (const auto& [section, value] : {std::pair{"Launch", "1"}, {"Tempo", "0"}, {"Check", "1"}, {"Freq", "0"}})
            setTool(tool, section, value);
    }
    // The sidecar switches of one stand-in copy.
    void standinOptions(const std::string& baseName, const std::string& text);
    std::string settingsFile() const;
    // The system's configuration folder the programs see ($XDG_CONFIG_DIRS):
    // one of the station's own, so the machine's /etc/xdg never reaches a
    // test. The administrator's policy and presets go there
    // (Vantorix/Tolvane-policy.ini, Vantorix/Tolvane.ini), written at once;
    // an empty map removes the file.
    const std::string& systemConfigFolder() const { return m_system.path(); }
    using SectionValues = std::map<std::string, std::map<std::string, std::string>>;
    void writePolicy(const SectionValues& values) const;
    void writePresets(const SectionValues& values) const;

    // The journal: the station's own $XDG_DATA_HOME, the journal folder in
    // it, and every line of its daily files, oldest file first (Krandel
    // keeps its own).
    const std::string& dataHome() const { return m_data.path(); }
    std::string journalFolder(const std::string& program = "Tolvane") const {
        return m_data.path() + "/Vantorix/" + program + "/journal";
    }
    std::vector<std::string> journalLines(const std::string& program = "Tolvane") const;
    // What the programs started by the station wrote on standard error.
    std::string errors() const;

    // Starts the real Tolvane from the folder. fakeTime is a libfaketime
    // FAKETIME value ("@2026-12-08 03:59:50 x20"); the monotonic clock is
    // left real, so Qt's timers and the launch delays keep real time.
    pid_t startTolvane(const std::vector<std::string>& arguments = {},
                       const std::optional<std::string>& fakeTime = std::nullopt);
    // The $XDG_RUNTIME_DIR the next starts see, instead of the station's own
    // private one.
    void setRuntimeFolder(std::string folder) { m_runtimeFolder = std::move(folder); }
    // Starts another program of the folder (Krandel, a stand-in) the same way.
    pid_t startProgram(const std::string& name, const std::vector<std::string>& arguments = {},
                       const std::optional<std::string>& fakeTime = std::nullopt);

    // The stand-ins' start log.
    std::vector<StandinLogLine> log() const;
    std::vector<StandinLogLine> startsOf(const std::string& baseName) const;
    bool waitForStarts(const std::string& baseName, std::size_t count, std::chrono::milliseconds timeout) const;

    // Live processes running the given program of the folder.
    std::vector<pid_t> running(const std::string& baseName) const;
    bool windowExists(const std::string& title);
    // Whether every one of the titles has its window, asked in one sweep.
    bool windowsExist(const std::vector<std::string>& titles);

    // Tolvane processes running from the folder.
    std::vector<pid_t> tolvanes() const { return running("Tolvane"); }

    // Starts trayer, a real XEmbed notification area; returns its pid.
    pid_t startTray();
    void stopTray();
    // Does the notification area accept icons (the tray selection of
    // screen 0 has an owner)? trayer's window alone does not say so yet.
    bool trayAreaAvailable();
    // Icons embedded in the notification area (children of trayer's windows
    // that belong to Tolvane's icon).
    std::size_t trayIcons();
    std::vector<std::uint32_t> trayIconWindows();

private:
    void writeSettings() const;

    StationOptions m_options;
    std::unique_ptr<testsupport::XServer> m_x;
    std::unique_ptr<testsupport::XProbe> m_probe;
    testsupport::TempFolder m_tools;
    testsupport::TempFolder m_config;
    testsupport::TempFolder m_data;
    testsupport::TempFolder m_system;
    std::map<std::string, std::map<std::string, std::string>> m_settings;
    std::unique_ptr<platform::Platform> m_platform;
    pid_t m_tray = -1;
    std::string m_runtimeFolder;
};

// The thirty executable base names, index 0 to 29.
const std::vector<std::string>& toolNames();

// How many of the journal's lines hold the pattern.
std::size_t linesMatching(const std::vector<std::string>& lines, const std::regex& pattern);

}  // namespace tolvane::testsupport
