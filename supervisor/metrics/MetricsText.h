#pragma once

// Tolvane's state as the Prometheus text format: what the textfile
// collectors of node_exporter and windows_exporter read (Zabbix and Telegraf
// read it too), so that a station's monitoring needs no server of ours. Pure:
// the figures come in a snapshot, the text goes out.
//
// Every time is a plain gauge in Unix seconds (UTC), never a sample
// timestamp: node_exporter refuses a whole file that carries one.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane {

// The ways a tool is started, one counter each.
enum class StartWay { Launch, Verification, Button, Batch, End, Freeze };
inline constexpr std::size_t StartWayCount = 6;
// The `cause` label of each way, in StartWay's order.
const char* startWayLabel(StartWay way);

struct ToolMetrics {
    int index = 0;
    std::string tool;         // the executable base name
    std::optional<bool> up;   // its window found / absent; nothing when unknown
    bool frozen = false;
    bool looping = false;
    bool verifyEnabled = false;
    bool launchEnabled = false;
    std::optional<std::uint64_t> workingSetBytes;
    std::array<std::uint64_t, StartWayCount> starts{};  // since Tolvane started
    std::optional<std::int64_t> lastStart;              // Unix seconds
    std::optional<std::int64_t> nextVerification;       // Unix seconds, while "Vérifier" is ticked
};

struct BatchMetrics {
    std::string page;  // "Scheduler", "Planner"
    bool active = false;
    std::optional<std::int64_t> next;  // Unix seconds
};

struct MetricsSnapshot {
    std::string version;
    std::int64_t started = 0;        // Unix seconds
    std::int64_t heartbeatMs = 0;    // the last tick, Unix milliseconds
    std::optional<std::int64_t> dailyRestartNext;
    std::vector<ToolMetrics> tools;
    std::vector<BatchMetrics> batches;
};

// The file's whole text: every family with its HELP and TYPE, ending with a
// newline.
std::string prometheusText(const MetricsSnapshot& snapshot);

// A label value as the format writes it: backslash, double quote and line
// feed escaped.
std::string escapeLabelValue(const std::string& value);

}  // namespace tolvane
