// Linux (X11) backend: the Platform interface over /proc, fork/exec and xcb.
// Processes live in LinuxProcesses.cpp, windows in X11Windows.cpp; clock,
// files and version are small enough to stay here.
#include "platform/platform.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/linux/LinuxBackend.h"
#include "tolvane_version.h"

namespace tolvane::platform {

const char* executableSuffix() { return ""; }
char pathSeparator() { return '/'; }
bool settingsInSystemStore() { return false; }

std::string userIdentity() { return std::to_string(::getuid()); }

void allowForegroundFor(std::uint32_t) {}

namespace {

class LinuxPlatform final : public Platform {
public:
    StartResult startProgram(const std::string& applicationPath, const std::string& arguments, ShowState show,
                             const std::string& workingFolder) override {
        return linuxbackend::startProgram(applicationPath, arguments, show, workingFolder);
    }
    void killProcessesNamed(const std::string& baseName) override { linuxbackend::killProcessesNamed(baseName); }
    std::vector<ProcessInfo> listProcesses() override { return linuxbackend::listProcesses(); }
    std::optional<std::uint64_t> workingSetBytes(std::uint32_t pid) override {
        return linuxbackend::workingSetBytes(pid);
    }
    std::uint32_t ownProcessId() override { return static_cast<std::uint32_t>(::getpid()); }
    std::optional<std::vector<ProcessEndWatches>> watchProcessesNamed(
        const std::vector<std::string>& baseNames) override {
        return linuxbackend::watchProcessesNamed(baseNames);
    }

    std::vector<WindowPresence> topLevelWindowsPresence(const std::vector<std::string>& titles) override {
        return m_windows.windowsPresence(titles);
    }

    std::vector<WindowResponse> windowsResponse(const std::vector<std::string>& titles) override {
        return m_windows.windowsResponse(titles);
    }

    std::uint32_t rawTickCount() override {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        const auto ms =
            static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
        return static_cast<std::uint32_t>(ms);  // wraps like the Windows tick
    }

    std::chrono::local_seconds localNow() override {
        const std::time_t t = std::time(nullptr);
        std::tm tm{};
        ::localtime_r(&t, &tm);
        using namespace std::chrono;
        const auto day = local_days{year{tm.tm_year + 1900} / month{static_cast<unsigned>(tm.tm_mon + 1)} /
                                    static_cast<unsigned>(tm.tm_mday)};
        return day + hours{tm.tm_hour} + minutes{tm.tm_min} + seconds{tm.tm_sec};
    }

    bool fileExists(const std::string& path) override {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }

    std::string ownExecutablePath() override {
        std::string buf(PATH_MAX, '\0');
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n <= 0) return {};
        buf.resize(static_cast<std::size_t>(n));
        return buf;
    }

    std::optional<VersionInfo> ownVersion() override {
        // Linux executables carry no version resource: the stamp is compiled in.
        return VersionInfo{TOLVANE_VERSION_MAJOR, TOLVANE_VERSION_MINOR, TOLVANE_VERSION_REVISION,
                           TOLVANE_FILE_DESCRIPTION};
    }

private:
    linuxbackend::X11WindowFinder m_windows;
};

}  // namespace

std::unique_ptr<Platform> createSystemPlatform() { return std::make_unique<LinuxPlatform>(); }

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    // The bytes as given: Linux hands a program its arguments unchanged.
    return argc > 1 && argv ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

}  // namespace tolvane::platform
