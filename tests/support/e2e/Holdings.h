#pragma once
// What a running Tolvane holds of the system, read from /proc: descriptors,
// threads, resident memory and CPU. The long-run tests compare an early and
// a late sample to show that nothing grows.

#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tolvane::testsupport {

struct Holdings {
    // Descriptors other than process descriptors: a tool's process is held
    // by one (its end is watched) for as long as it runs, so their number
    // follows the tools running at the instant of the sample, not a leak.
    long descriptors = -1;
    long processWatches = -1;  // the process descriptors
    long threads = -1;
    long rssKb = -1;
    long cpuTicks = -1;  // user + system
};

inline long entriesIn(const std::string& dir) {
    std::error_code ec;
    long n = 0;
    for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++n;
    return ec ? -1 : n;
}

// The entries of a process's fd folder: all of them, and those that are
// process descriptors.
inline std::pair<long, long> descriptorsIn(const std::string& dir) {
    std::error_code ec;
    long all = 0, pidfds = 0;
    for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        ++all;
        std::error_code linkError;
        if (std::filesystem::read_symlink(it->path(), linkError).string() == "anon_inode:[pidfd]") ++pidfds;
    }
    return ec ? std::pair<long, long>{-1, -1} : std::pair<long, long>{all, pidfds};
}

inline Holdings holdingsOf(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    Holdings h;
    const auto [all, pidfds] = descriptorsIn(proc + "/fd");
    h.descriptors = all < 0 ? -1 : all - pidfds;
    h.processWatches = pidfds;
    h.threads = entriesIn(proc + "/task");
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) h.rssKb = std::stol(line.substr(6));
    std::ifstream statFile(proc + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    // The fields after the command name, which may hold blanks: state is the
    // 3rd field, utime the 14th and stime the 15th.
    if (const auto close = stat.rfind(')'); close != std::string::npos && close + 2 <= stat.size()) {
        std::istringstream rest(stat.substr(close + 2));
        std::vector<std::string> fields;
        for (std::string f; rest >> f;) fields.push_back(f);
        if (fields.size() > 12) h.cpuTicks = std::stol(fields[11]) + std::stol(fields[12]);
    }
    return h;
}

}  // namespace tolvane::testsupport
