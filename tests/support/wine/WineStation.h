#pragma once
// A Windows workstation on this machine for the tests of the real Windows
// programs: an X server of its own (with openbox), a wine prefix of its own
// reporting Windows 10 with a French user, and helpers to run and look at
// Windows programs from the outside (their processes, their windows, the
// registry). Everything is thrown away at the end: every process of the
// prefix is ended with it.
//
// The Windows build is found through TOLVANE_WINDOWS_BUILD (the
// build-windows/ tree); nothing here is ever skipped for want of it: a
// missing program fails the test that needs it.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/posix/TempFolder.h"
#include "tests/support/posix/XServer.h"

namespace tolvane::testsupport {

using namespace std::chrono_literals;

// Section name (below the key given) -> value name -> text.
using RegistryTree = std::map<std::string, std::map<std::string, std::string>>;

class WineStation {
public:
    // Starts Xvfb and openbox, creates the prefix (about half a minute) and
    // sets it to Windows 10. Throws std::runtime_error when that fails.
    WineStation();
    ~WineStation();
    WineStation(const WineStation&) = delete;
    WineStation& operator=(const WineStation&) = delete;

    const std::string& display() const { return m_x->display(); }
    testsupport::XServer& x() { return *m_x; }
    const std::string& prefix() const { return m_prefix.path(); }

    // "C:\Program Files\X" -> the same file seen from Linux.
    std::string hostPath(const std::string& windowsPath) const;

    struct Result {
        int status = -1;  // wine gives only the low byte of a Windows exit code
        std::string output;
        bool timedOut = false;
    };
    // Runs a program under wine to its end (a Windows path, or a command of
    // the prefix such as "reg" or "msiexec"), with its output.
    Result run(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout = 60s);
    // Starts a Windows program and leaves it running; the pid of its wine
    // process (a child of this test). fakeTime is a libfaketime FAKETIME
    // value ("@2026-12-08 03:57:30 x20") for the program's wall clock.
    pid_t start(const std::string& windowsPath, const std::vector<std::string>& arguments = {},
                const std::optional<std::string>& fakeTime = std::nullopt);
    // start(), with the program's standard error (and wine's debug output,
    // which goes there) appended to a file of the host.
    pid_t startWithErrorsTo(const std::string& hostErrorFile, const std::string& windowsPath,
                            const std::vector<std::string>& arguments = {},
                            const std::optional<std::string>& fakeTime = std::nullopt);

    // The registry as the programs see it.
    std::optional<std::string> regValue(const std::string& key, const std::string& name);
    bool regSet(const std::string& key, const std::string& name, const std::string& value);
    // Every string value below `key`, by subkey name ("" for the key itself).
    RegistryTree regTree(const std::string& key);

    // Live wine processes whose Windows image is `imageName` ("VX8_Player.exe"),
    // case-insensitively; never one of another name that merely ends so.
    std::vector<pid_t> processes(const std::string& imageName) const;
    // The same for any of several images, in one look at /proc.
    std::vector<pid_t> processes(const std::vector<std::string>& imageNames) const;
    // The full Windows command line wine was given for a process.
    std::vector<std::string> commandLine(pid_t pid) const;

    // Every line of a program's daily journal files (Tolvane, Krandel) under
    // the prefix's %LOCALAPPDATA%, oldest file first.
    std::vector<std::string> journalLines(const std::string& program) const;

    // Is there a top-level window titled exactly `title` (as Tolvane asks on
    // Linux, through the real X server wine draws on)?
    bool windowExists(const std::string& title);

    // The built Windows programs: <build>/deploy/Tolvane.exe, <build>/bin/...
    static std::string windowsBuild();
    // The stamp that build was made with, which its captions and its MSI's
    // name show; empty when its generated/tolvane_version.h has none.
    static std::string versionStamp();
    // That build's Win32 stand-in.
    static std::string standinExe();

private:
    std::unique_ptr<testsupport::XServer> m_x;
    testsupport::TempFolder m_prefix;
    std::unique_ptr<platform::Platform> m_platform;
    std::string m_wine;
    std::string m_wineserver;
};

// Copies a file from the host into the prefix (creating the folders).
void copyInto(const std::string& hostSource, const std::string& hostTarget);

// Runs a host program (a path, or a name found on PATH) to its end with its
// output (standard output and error); killed after `timeout`.
WineStation::Result runOnHost(const std::vector<std::string>& argv, std::chrono::milliseconds timeout = 60s);

// One table of an MSI as msiinfo exports it: rows of tab-separated cells,
// without the three header lines (names, types, table name and keys). A
// failing export fails the calling test.
std::vector<std::vector<std::string>> msiTable(const std::string& msi, const std::string& table);

}  // namespace tolvane::testsupport
