#include "e2e/windows/WineStation.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <QString>

#include "support/Processes.h"

namespace tolvane::e2e {

namespace fs = std::filesystem;
using testsupport::waitUntil;

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// Debian keeps wine64 out of PATH.
std::string findWine() {
    for (const char* candidate : {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine"})
        if (::access(candidate, X_OK) == 0) return candidate;
    throw std::runtime_error("wine64 not found (Debian's wine64 package)");
}

std::string findWineserver(const std::string& wine) {
    const std::string folder = fs::path(wine).parent_path();
    for (const std::string& name : {folder + "/wineserver", folder + "/wineserver64", std::string("/usr/bin/wineserver")})
        if (::access(name.c_str(), X_OK) == 0) return name;
    throw std::runtime_error("wineserver not found");
}

// Runs argv to its end with stdout and stderr captured, killed after
// `timeout`.
WineStation::Result runCaptured(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    WineStation::Result result;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    bool ended = false;
    char buf[4096];
    while (!ended) {
        ssize_t n;
        while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0) result.output.append(buf, static_cast<std::size_t>(n));
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.timedOut = true;
            break;
        }
        ::usleep(20000);
    }
    ssize_t n;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0) result.output.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    if (ended && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

// Does the process's environment hold exactly this "NAME=value"?
bool environmentHas(pid_t pid, const std::string& entry) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    std::string item;
    while (std::getline(in, item, '\0'))
        if (item == entry) return true;
    return false;
}

// A Windows path's tail after the last backslash (or slash).
std::string imageOf(const std::string& path) {
    const auto cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::string WineStation::windowsBuild() {
    if (const char* build = std::getenv("TOLVANE_WINDOWS_BUILD"); build && *build) return build;
    return TOLVANE_WINDOWS_BUILD_DEFAULT;
}

WineStation::WineStation() : m_prefix("prefix") {
    // wine's server and services leave their parent at once; adopted, they
    // come back to this process when they end and are reaped in the
    // destructor instead of staying zombies under an init that never reaps.
    testsupport::adoptOrphans();
    m_wine = findWine();
    m_wineserver = findWineserver(m_wine);
    m_x = std::make_unique<testsupport::XServer>(true);
    m_x->makeCurrent();
    // Everything started from here (wine itself, its server, the programs)
    // sees this prefix and this display, and a French user.
    ::setenv("WINEPREFIX", m_prefix.path().c_str(), 1);
    ::setenv("WINEARCH", "win64", 1);
    ::setenv("WINEDEBUG", "-all", 1);
    // No Mono, no Gecko, no menu entries: nothing to fetch, nothing written
    // to the user's desktop files.
    ::setenv("WINEDLLOVERRIDES", "mscoree=d;mshtml=d;winemenubuilder.exe=d", 1);
    ::setenv("LANG", "fr_FR.UTF-8", 1);
    ::setenv("LC_ALL", "fr_FR.UTF-8", 1);
    // One server for the whole test, its output kept out of ours. It stays
    // a minute after the last program ends, not for ever: a test killed
    // before its destructor runs leaves no server (and wine's own services)
    // behind for good.
    const auto server = runCaptured({m_wineserver, "-p60"}, 30s);
    if (server.status != 0) throw std::runtime_error("wineserver did not start: " + server.output);
    try {
        const auto boot = run({"wineboot", "--init"}, 180s);
        if (boot.status != 0) throw std::runtime_error("wineboot failed: " + boot.output);
        // A new prefix says Windows 7; the programs are for Windows 10.
        const auto version = run({"winecfg", "-v", "win10"}, 60s);
        if (version.status != 0) throw std::runtime_error("winecfg -v win10 failed: " + version.output);
        m_platform = platform::createSystemPlatform();
    } catch (...) {
        // No destructor runs for a station that failed to come up: the
        // server and whatever wineboot started end here.
        runCaptured({m_wineserver, "-k"}, 20s);
        runCaptured({m_wineserver, "-w"}, 20s);
        throw;
    }
}

WineStation::~WineStation() {
    // Ends every process of the prefix, then the server itself.
    runCaptured({m_wineserver, "-k"}, 20s);
    runCaptured({m_wineserver, "-w"}, 20s);
    // The killed wine processes end a moment apart: reap until none is left.
    const std::string wineFolder = fs::path(m_wine).parent_path().string() + "/";
    waitUntil(
        [&] {
            testsupport::reapExitedChildren();
            for (const auto& child : testsupport::childrenOf(::getpid())) {
                if (child.state == 'Z') return false;
                const auto exe = testsupport::executablePath(child.pid);
                if (exe && exe->rfind(wineFolder, 0) == 0) return false;
            }
            return true;
        },
        10s);
}

std::string WineStation::hostPath(const std::string& windowsPath) const {
    std::string path = windowsPath;
    if (path.size() >= 2 && path[1] == ':') path = "drive_" + lower(path.substr(0, 1)) + path.substr(2);
    std::replace(path.begin(), path.end(), '\\', '/');
    return prefix() + "/" + path;
}

WineStation::Result WineStation::run(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout) {
    std::vector<std::string> argv{m_wine};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runCaptured(argv, timeout);
}

pid_t WineStation::start(const std::string& windowsPath, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{m_wine, windowsPath};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return testsupport::spawnChild(m_wine, argv);
}

std::optional<std::string> WineStation::regValue(const std::string& key, const std::string& name) {
    const auto tree = regTree(key);
    const auto section = tree.find("");
    if (section == tree.end()) return std::nullopt;
    const auto value = section->second.find(name);
    if (value == section->second.end()) return std::nullopt;
    return value->second;
}

bool WineStation::regSet(const std::string& key, const std::string& name, const std::string& value) {
    return run({"reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"}, 60s).status == 0;
}

RegistryTree WineStation::regTree(const std::string& key) {
    // "reg export" writes the key and every subkey as a .reg file in UTF-16;
    // only string values are read back, as the settings are strings.
    const std::string file = "C:\\tolvane-export.reg";
    const std::string hostFile = hostPath(file);
    ::unlink(hostFile.c_str());
    RegistryTree tree;
    if (run({"reg", "export", key, file, "/y"}, 60s).status != 0) return tree;
    std::ifstream in(hostFile, std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // UTF-16LE with a BOM.
    const std::string text = raw.size() < 2 ? std::string()
                                            : QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.data() + 2),
                                                                 static_cast<qsizetype>((raw.size() - 2) / 2))
                                                  .toStdString();
    const std::string fullKey = lower(key);
    std::string section;
    bool inside = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            std::string name = line.substr(1, line.size() - 2);
            // reg export spells the root out: HKEY_CURRENT_USER for HKCU.
            for (const auto& [shortRoot, longRoot] : {std::pair{"hkcu", "hkey_current_user"},
                                                     std::pair{"hklm", "hkey_local_machine"}}) {
                if (lower(name).rfind(longRoot, 0) == 0) name = shortRoot + name.substr(std::string(longRoot).size());
            }
            const std::string lowered = lower(name);
            const std::string wanted = fullKey.rfind("hkey_current_user", 0) == 0
                                           ? "hkcu" + fullKey.substr(17)
                                           : (fullKey.rfind("hkey_local_machine", 0) == 0 ? "hklm" + fullKey.substr(18)
                                                                                          : fullKey);
            inside = lowered == wanted || lowered.rfind(wanted + "\\", 0) == 0;
            section = inside && lowered.size() > wanted.size() ? name.substr(wanted.size() + 1) : "";
            continue;
        }
        if (!inside || line.size() < 2 || line.front() != '"') continue;
        // "name"="value", with \\ and \" escaped.
        std::string name, value;
        std::size_t i = 1;
        for (; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            name += line[i];
        }
        if (line.compare(i, 3, "\"=\"") != 0) continue;  // not a string value
        for (i += 3; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            value += line[i];
        }
        tree[section][name] = value;
    }
    return tree;
}

std::vector<std::string> WineStation::commandLine(pid_t pid) const {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    std::string arg;
    while (std::getline(in, arg, '\0')) args.push_back(arg);
    return args;
}

std::vector<pid_t> WineStation::processes(const std::string& imageName) const {
    // A Windows program under wine is a Linux process running wine's
    // preloader, its Windows path as the first argument; wine's own
    // services (winedevice, services.exe...) read the same way.
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (!proc) return found;
    const std::string wanted = lower(imageName);
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        const auto args = commandLine(pid);
        if (args.empty()) continue;
        // The preloader rewrites argv so the program's path comes first.
        for (std::size_t i = 0; i < std::min<std::size_t>(args.size(), 2); ++i) {
            // Only this station's: other wine prefixes on the machine (another
            // test binary's) run programs of the same names. Wine hands
            // WINEPREFIX down to every program it starts.
            if (lower(imageOf(args[i])) == wanted && environmentHas(pid, "WINEPREFIX=" + prefix())) {
                const auto state = testsupport::processState(pid);
                if (state && state->state != 'Z') found.push_back(pid);
                break;
            }
        }
    }
    ::closedir(proc);
    return found;
}

bool WineStation::windowExists(const std::string& title) { return m_platform->topLevelWindowExists(title); }

void copyInto(const std::string& hostSource, const std::string& hostTarget) {
    fs::create_directories(fs::path(hostTarget).parent_path());
    fs::copy_file(hostSource, hostTarget, fs::copy_options::overwrite_existing);
}

}  // namespace tolvane::e2e
