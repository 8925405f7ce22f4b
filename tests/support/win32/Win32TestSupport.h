#pragma once
// Helpers for the tests that run the Win32 backend against real stand-ins
// (under wine on the development machines, or on Windows itself): a program
// folder under "Program Files" with stand-in copies in it, reading their start
// log, waiting on conditions with a deadline, and ending whatever a test
// started.
//
// Every helper takes and gives UTF-8, like the backend.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "standin/StandinLog.h"

namespace tolvane::testsupport {

using namespace std::chrono_literals;

// Calls `condition` until it holds or `timeout` has passed; true when it held.
// Polls at a short, growing interval: process lists and files cannot be
// waited on.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// The stand-in built with the tests, as a Windows path.
std::string standinPath();

// "C:\Program Files" (or wherever the system keeps it).
std::string programFilesFolder();

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
bool pathExists(const std::string& path);
void removeFile(const std::string& path);
void createFolders(const std::string& path);
// The folder and everything in it; nothing when it does not exist.
void removeTree(const std::string& path);

// Copies the stand-in to `path` (any name, any folder that exists).
void copyStandin(const std::string& path);

// Every well-formed line of the standin.log in `folder`.
std::vector<tolvane::standin::StandinLogLine> readStandinLog(const std::string& folder);

// Waits until the log in `folder` holds at least `count` lines.
bool waitForLogLines(const std::string& folder, std::size_t count, std::chrono::milliseconds timeout);

// A folder of programs for one test: created empty, and at the end every
// process running from it is ended and the folder removed.
class ProgramFolder {
public:
    explicit ProgramFolder(const std::string& path);
    ~ProgramFolder();
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "\\" + name; }
    // Stand-in copies "<name>.exe" for each name; returns their paths.
    std::vector<std::string> addStandins(const std::vector<std::string>& baseNames) const;
    std::string addStandin(const std::string& baseName) const { return addStandins({baseName}).front(); }
    std::vector<tolvane::standin::StandinLogLine> log() const { return readStandinLog(m_path); }

private:
    std::string m_path;
};

// Processes ------------------------------------------------------------------

// Full path of a running process's executable, or nothing when it is gone.
std::optional<std::string> imagePathOf(std::uint32_t pid);

// Pids of the live processes whose image file name equals `imageName`
// (case-insensitive).
std::vector<std::uint32_t> processesNamed(const std::string& imageName);

bool processAlive(std::uint32_t pid);

// True while the process stays alive for the whole `window`: the check for
// "this one was not killed".
bool staysAlive(std::uint32_t pid, std::chrono::milliseconds window);

// Ends every process whose executable lies in `folder` (or is the file
// `folder` itself) and waits until they are gone.
void endProcessesRunningFrom(const std::string& folder);

// Waits until no taskkill started by a test is still running.
void waitForTaskkillToFinish();

// Windows --------------------------------------------------------------------

struct WindowState {
    bool visible = false;
    bool iconic = false;
    std::uint32_t ownerPid = 0;
};
// The top-level window titled exactly `title` (FindWindowW), if any.
std::optional<WindowState> findWindow(const std::string& title);

}  // namespace tolvane::testsupport
