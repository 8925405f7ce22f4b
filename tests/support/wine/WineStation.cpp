#include "tests/support/wine/WineStation.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>

#include "tests/support/posix/Processes.h"

namespace tolvane::testsupport {

namespace fs = std::filesystem;
using testsupport::waitUntil;

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// The first of `candidates` that can be run. Debian keeps wine64 out of PATH.
std::string findProgram(std::initializer_list<std::string> candidates) {
    for (const auto& candidate : candidates)
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    throw std::runtime_error("not installed (Debian's wine64 package): " + *candidates.begin());
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
std::string imageOf(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

}  // namespace

WineStation::Result runOnHost(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    QStringList arguments;
    for (std::size_t i = 1; i < argv.size(); ++i) arguments << QString::fromStdString(argv[i]);
    process.start(QString::fromStdString(argv.front()), arguments);
    if (!process.waitForStarted()) return {-1, argv.front() + ": " + process.errorString().toStdString(), false};
    // QProcess waits for the program's end, not for the end of its output:
    // wineserver and wine's services keep the pipe open long after.
    WineStation::Result result;
    if ((result.timedOut = !process.waitForFinished(static_cast<int>(timeout.count())))) {
        process.kill();
        process.waitForFinished(5000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.status = process.exitCode();
    }
    result.output = process.readAll().toStdString();
    return result;
}

std::string WineStation::windowsBuild() {
    if (const char* build = std::getenv("TOLVANE_WINDOWS_BUILD"); build && *build) return build;
    return TOLVANE_WINDOWS_BUILD_DEFAULT;
}

std::string WineStation::versionStamp() {
    const std::string header = testsupport::readFile(windowsBuild() + "/generated/tolvane_version.h");
    std::smatch m;
    return std::regex_search(header, m, std::regex(R"(TOLVANE_VERSION_STAMP\s+"([^"]+)\")")) ? m[1].str() : "";
}

std::string WineStation::standinExe() {
    const std::string built = windowsBuild() + "/standin/win32/standin.exe";
    return fs::exists(built) ? built : windowsBuild() + "/bin/standin.exe";
}

WineStation::WineStation() : m_prefix("prefix") {
    // wine's server and services leave their parent at once; adopted, they
    // come back to this process when they end and are reaped in the
    // destructor instead of staying zombies under an init that never reaps.
    testsupport::adoptOrphans();
    m_wine = findProgram({"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine"});
    const std::string folder = fs::path(m_wine).parent_path();
    m_wineserver = findProgram({folder + "/wineserver", folder + "/wineserver64", "/usr/bin/wineserver"});
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
    const auto server = runOnHost({m_wineserver, "-p60"}, 30s);
    if (server.status != 0) throw std::runtime_error("wineserver did not start: " + server.output);
    try {
        // A new prefix says Windows 7; the programs are for Windows 10.
        for (const auto& [command, timeout] :
             {std::pair{std::vector<std::string>{"wineboot", "--init"}, 180s}, {{"winecfg", "-v", "win10"}, 60s}})
            if (const auto done = run(command, timeout); done.status != 0)
                throw std::runtime_error(command.front() + " failed: " + done.output);
        m_platform = platform::createSystemPlatform();
    } catch (...) {
        // No destructor runs for a station that failed to come up: the
        // server and whatever wineboot started end here.
        runOnHost({m_wineserver, "-k"}, 20s);
        runOnHost({m_wineserver, "-w"}, 20s);
        throw;
    }
}

WineStation::~WineStation() {
    // Every process of the prefix ends, then the server itself; they end a
    // moment apart: reaped until none is left.
    runOnHost({m_wineserver, "-k"}, 20s);
    runOnHost({m_wineserver, "-w"}, 20s);
    const std::string wineFolder = fs::path(m_wine).parent_path().string() + "/";
    waitUntil(
        [&] {
            testsupport::reapExitedChildren();
            for (const auto& child : testsupport::childrenOf(::getpid())) {
                const auto exe = testsupport::executablePath(child.pid);
                if (child.state == 'Z' || (exe && exe->rfind(wineFolder, 0) == 0)) return false;
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
    return runOnHost(argv, timeout);
}

pid_t WineStation::start(const std::string& windowsPath, const std::vector<std::string>& arguments,
                         const std::optional<std::string>& fakeTime) {
    return startWithErrorsTo({}, windowsPath, arguments, fakeTime);
}

pid_t WineStation::startWithErrorsTo(const std::string& hostErrorFile, const std::string& windowsPath,
                                     const std::vector<std::string>& arguments,
                                     const std::optional<std::string>& fakeTime) {
    // libfaketime preloaded into the wine loader moves what GetLocalTime
    // gives the program; the monotonic clock (GetTickCount, the timers) stays
    // real, and so do file times, which wine compares with its prefix's.
    std::vector<std::string> argv;
    if (fakeTime)
        argv = {"/usr/bin/env", "LD_PRELOAD=" + testsupport::libfaketimePath(), "FAKETIME=" + *fakeTime,
                "FAKETIME_DONT_FAKE_MONOTONIC=1", "NO_FAKE_STAT=1"};
    argv.insert(argv.end(), {m_wine, windowsPath});
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return testsupport::spawnChild(argv.front(), argv, std::nullopt, hostErrorFile);
}

std::optional<std::string> WineStation::regValue(const std::string& key, const std::string& name) {
    const auto tree = regTree(key);
    if (!tree.count("") || !tree.at("").count(name)) return std::nullopt;
    return tree.at("").at(name);
}

bool WineStation::regSet(const std::string& key, const std::string& name, const std::string& value) {
    return run({"reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"}, 60s).status == 0;
}

RegistryTree WineStation::regTree(const std::string& key) {
    // "reg export" writes the key, then every subkey below it, as a .reg file
    // in UTF-16LE with a BOM; only string values are read back, as the
    // settings are strings.
    const std::string file = "C:\\tolvane-export.reg";
    ::unlink(hostPath(file).c_str());
    RegistryTree tree;
    if (run({"reg", "export", key, file, "/y"}, 60s).status != 0) return tree;
    const std::string raw = testsupport::readFile(hostPath(file));
    std::istringstream lines(raw.size() < 2 ? std::string()
                                            : QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.data() + 2),
                                                                 static_cast<qsizetype>((raw.size() - 2) / 2))
                                                  .toStdString());
    std::string exported, section;  // the key as reg spells it out, the subkey
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            if (exported.empty()) exported = line;
            section =
                line.size() > exported.size() ? line.substr(exported.size(), line.size() - exported.size() - 1) : "";
            continue;
        }
        if (line.size() < 2 || line.front() != '"') continue;
        // "name"="value", with \\ and \" escaped.
        std::size_t i = 1;
        const auto quoted = [&] {
            std::string text;
            for (; i < line.size() && line[i] != '"'; ++i)
                text += line[i] == '\\' && i + 1 < line.size() ? line[++i] : line[i];
            return text;
        };
        const std::string name = quoted();
        if (line.compare(i, 3, "\"=\"") != 0) continue;  // not a string value
        i += 3;
        tree[section][name] = quoted();
    }
    return tree;
}

std::vector<std::string> WineStation::commandLine(pid_t pid) const {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    for (std::string arg; std::getline(in, arg, '\0');) args.push_back(arg);
    return args;
}

std::vector<pid_t> WineStation::processes(const std::string& imageName) const {
    return processes(std::vector<std::string>{imageName});
}

std::vector<pid_t> WineStation::processes(const std::vector<std::string>& imageNames) const {
    // A Windows program under wine is a Linux process running wine's
    // preloader, which rewrites argv so that the program's Windows path
    // comes first (second, for a moment); wine's own services read the same.
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (!proc) return found;
    std::vector<std::string> wanted;
    for (const auto& name : imageNames) wanted.push_back(lower(name));
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        const auto args = pid > 0 ? commandLine(pid) : std::vector<std::string>{};
        for (std::size_t i = 0; i < std::min<std::size_t>(args.size(), 2); ++i) {
            // Only this station's: other wine prefixes on the machine (another
            // test binary's) run programs of the same names. Wine hands
            // WINEPREFIX down to every program it starts.
            if (std::count(wanted.begin(), wanted.end(), lower(imageOf(args[i]))) &&
                environmentHas(pid, "WINEPREFIX=" + prefix())) {
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

std::vector<std::string> WineStation::journalLines(const std::string& program) const {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& user : std::filesystem::directory_iterator(hostPath("C:\\users"), error))
        for (const auto& file :
             std::filesystem::directory_iterator(user.path() / "AppData/Local/Vantorix" / program / "journal", error))
            files.push_back(file.path().string());
    return testsupport::linesOfFiles(std::move(files));
}

std::vector<std::vector<std::string>> msiTable(const std::string& msi, const std::string& table) {
    // Labels untranslated: the station sets a French locale for wine.
    const auto exported = runOnHost({"env", "LC_ALL=C", "msiinfo", "export", msi, table});
    EXPECT_EQ(exported.status, 0) << "msiinfo export " << table << " (Debian package msitools):\n" << exported.output;
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(exported.output);
    std::string line;
    for (int header = 0; header < 3 && std::getline(lines, line); ++header) {
    }
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        rows.emplace_back(1);
        for (const char c : line)
            if (c == '\t')
                rows.back().emplace_back();
            else
                rows.back().back() += c;
    }
    return rows;
}

}  // namespace tolvane::testsupport
