#pragma once
// A scriptable platform for the tests above the platform layer: the test sets
// which windows and processes exist and what the clocks read, and reads back
// every start and kill that was asked for.

#include <map>
#include <memory>
#include <set>

#include "platform/platform.h"

namespace tolvane::platform {

class FakePlatform final : public Platform {
public:
    struct Start {
        std::string applicationPath;
        std::string arguments;
        ShowState show;
        std::string workingFolder;
    };

    // Scripted state --------------------------------------------------------
    std::set<std::string> windows;  // titles as given; compared case-insensitively
    // Titles whose question the system cannot answer (compared likewise);
    // with displayAnswers false, no title's.
    std::set<std::string> unknownWindows;
    bool displayAnswers = true;
    std::vector<ProcessInfo> processes;
    std::map<std::uint32_t, std::uint64_t> workingSets;
    std::set<std::string> files;
    std::uint32_t tick = 0;
    std::chrono::local_seconds now{};
    std::uint32_t pid = 4242;
    std::string executablePath = "/opt/vantorix/Tolvane";
    std::optional<VersionInfo> version = VersionInfo{2026, 1207, 2330, "Vantorix: Tools Launcher"};
    bool refuseStarts = false;
    std::string refusal = "No such file or directory";  // the reason a refused start gives
    // When set, a started program's window appears at once (title = the
    // application path's base name without suffix).
    bool startedProgramsOpenWindows = false;

    // What windowsResponse answers by title (compared case-insensitively);
    // a title not here answers Unknown.
    std::map<std::string, WindowResponse> responses;

    // With this set, watchProcessesNamed answers that the list could not be
    // read.
    bool processListUnreadable = false;
    // Processes the system does not let us wait on (left out of the watches).
    std::set<std::uint32_t> unwatchable;

    // Ends a process: it leaves `processes`, and its watches read as ended
    // with that exit code (nothing, as on Linux, by default). The watches'
    // waitable is the pid.
    void endProcess(std::uint32_t pid, std::optional<std::uint32_t> exitCode = std::nullopt);
    // Watches handed out and not yet destroyed.
    int openWatches() const { return m_watchState->open; }

    // Recorded calls --------------------------------------------------------
    std::vector<Start> starts;
    std::vector<std::string> kills;
    int windowQueries = 0;
    int watchRequests = 0;
    int responseQueries = 0;

    StartResult startProgram(const std::string& applicationPath, const std::string& arguments, ShowState show,
                             const std::string& workingFolder) override;
    void killProcessesNamed(const std::string& baseName) override;
    std::vector<ProcessInfo> listProcesses() override { return processes; }
    std::optional<std::uint64_t> workingSetBytes(std::uint32_t pid) override;
    std::uint32_t ownProcessId() override { return pid; }
    std::optional<std::vector<ProcessEndWatches>> watchProcessesNamed(
        const std::vector<std::string>& baseNames) override;
    std::vector<WindowPresence> topLevelWindowsPresence(const std::vector<std::string>& titles) override;
    // Answers from `responses` by title (Unknown for a title not there);
    // every call is counted.
    std::vector<WindowResponse> windowsResponse(const std::vector<std::string>& titles) override;
    std::uint32_t rawTickCount() override { return tick; }
    std::chrono::local_seconds localNow() override { return now; }
    bool fileExists(const std::string& path) override { return files.count(path) != 0; }
    std::string ownExecutablePath() override { return executablePath; }
    std::optional<VersionInfo> ownVersion() override { return version; }

    // Shared with the watches, which may outlive a call.
    struct WatchState {
        std::map<std::uint32_t, std::optional<std::uint32_t>> ended;  // pid -> exit code
        int open = 0;
    };

private:
    std::shared_ptr<WatchState> m_watchState = std::make_shared<WatchState>();
};

}  // namespace tolvane::platform
