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
#include <vector>

namespace tolvane::testsupport {

struct Holdings {
    long descriptors = -1;
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

inline Holdings holdingsOf(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    Holdings h;
    h.descriptors = entriesIn(proc + "/fd");
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
