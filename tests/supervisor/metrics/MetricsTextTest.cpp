// The metrics text as Prometheus's own checker reads it, and the one
// decision it carries: a tool whose window could not be asked about has no
// "up" sample (an unknown is never written as "down").
#include "supervisor/metrics/MetricsText.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using tolvane::MetricsSnapshot;
using tolvane::ToolMetrics;

MetricsSnapshot station() {
    MetricsSnapshot s;
    s.version = "3.2.7";
    s.started = 1'765'270'800;
    s.heartbeatMs = 1'765'288'800'250;
    s.dailyRestartNext = 1'765'335'600;
    for (int i = 0; i < 30; ++i) {
        ToolMetrics t;
        t.index = i;
        t.tool = "VX8_Tool_" + std::to_string(i);
        t.up = i != 3;
        t.verifyEnabled = i != 7;
        t.launchEnabled = true;
        t.workingSetBytes = 40'000'000u + static_cast<unsigned>(i);
        t.starts[0] = 1;
        t.lastStart = 1'765'270'805;
        if (t.verifyEnabled) t.nextVerification = 1'765'288'860;
        s.tools.push_back(t);
    }
    s.tools[5].up.reset();  // the display did not answer
    s.tools[9].frozen = true;
    s.tools[11].looping = true;
    // A name no tool has, but which the format must survive.
    s.tools[29].tool = "odd \"name\" \\ with\nline";
    s.batches = {{"Scheduler", true, 1'765'292'400}, {"Planner", false, std::nullopt}};
    return s;
}

// promtool's exit status and what it printed, for `text` on its input.
std::pair<int, std::string> promtoolCheck(const std::string& text) {
    const auto file = std::filesystem::temp_directory_path() / ("tolvane-metrics-" + std::to_string(::getpid()));
    std::ofstream(file) << text;
    const std::string command = "promtool check metrics < '" + file.string() + "' 2>&1";
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {-1, "popen failed"};
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    const int status = ::pclose(pipe);
    std::filesystem::remove(file);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(MetricsText, PrometheusOwnCheckerTakesTheWholeFileWithoutAWarning) {
    const auto [status, output] = promtoolCheck(tolvane::prometheusText(station()));
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");
}

TEST(MetricsText, AnUnknownWindowHasNoUpSampleAndHostileNamesAreEscaped) {
    const std::string text = tolvane::prometheusText(station());
    EXPECT_NE(text.find("tolvane_tool_up{index=\"3\",tool=\"VX8_Tool_3\"} 0\n"), std::string::npos);
    EXPECT_EQ(text.find("tolvane_tool_up{index=\"5\""), std::string::npos);
    EXPECT_NE(text.find("tolvane_tool_working_set_bytes{index=\"5\""), std::string::npos);
    EXPECT_NE(text.find("tool=\"odd \\\"name\\\" \\\\ with\\nline\""), std::string::npos);
    EXPECT_NE(text.find("tolvane_heartbeat_timestamp_seconds 1765288800.250\n"), std::string::npos);
    // One line per sample: no raw line feed from a name.
    EXPECT_EQ(text.find("with\nline"), std::string::npos);
}

}  // namespace
