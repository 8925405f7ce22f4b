// Work per tick: one verification pass (are the thirty tools' windows
// there?) and one memory pass (which processes are tools, and how much do
// they use?) over thirty running stand-ins, through the real backend on the
// X server named by DISPLAY. Prints the median of `rounds` passes in
// microseconds.
//
// Usage: bench_passes FOLDER_WITH_RUNNING_STANDINS [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "supervisor/core/ToolTable.h"
#include "supervisor/supervision/ToolRules.h"

using namespace std::chrono;
using namespace tolvane;

namespace {

template <class F>
double medianMicros(int rounds, F&& pass) {
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(rounds));
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = steady_clock::now();
        pass();
        samples.push_back(duration<double, std::micro>(steady_clock::now() - t0).count());
    }
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 1000;
    auto platform = platform::createSystemPlatform();
    std::vector<std::string> titles;
    for (const auto& tool : toolTable()) titles.emplace_back(tool.baseName);

    const auto found = platform->topLevelWindowsExist(titles);
    const auto running = std::count(found.begin(), found.end(), true);
    if (running != ToolCount)
        std::fprintf(stderr, "bench_passes: only %ld of 30 tool windows found\n", static_cast<long>(running));

    std::size_t sink = 0;
    const double verification = medianMicros(rounds, [&] {
        const auto r = platform->topLevelWindowsExist(titles);
        sink += static_cast<std::size_t>(std::count(r.begin(), r.end(), true));
    });
    const double memory = medianMicros(rounds, [&] {
        for (const auto& p : platform->listProcesses()) {
            if (const auto tool = toolForImageName(p.imageName, platform::executableSuffix()))
                if (const auto bytes = platform->workingSetBytes(p.pid))
                    sink += static_cast<std::size_t>(megabytesHalfEven(*bytes));
        }
    });
    std::printf("verification_pass_30_tools: %.1f us\n", verification);
    std::printf("memory_pass_30_tools: %.1f us\n", memory);
    std::printf("tool_windows_found: %ld\n", static_cast<long>(running));
    return sink == 0 ? 1 : 0;
}
