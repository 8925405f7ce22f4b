#include "supervisor/metrics/MetricsText.h"

#include <cinttypes>
#include <cstdio>

namespace tolvane {

namespace {

// One family: its HELP and TYPE lines, then its samples.
class Family {
public:
    Family(std::string& out, const char* name, const char* type, const char* help) : m_out(out), m_name(name) {
        m_out += "# HELP ";
        m_out += name;
        m_out += ' ';
        m_out += help;
        m_out += "\n# TYPE ";
        m_out += name;
        m_out += ' ';
        m_out += type;
        m_out += '\n';
    }
    // `labels` already written as `a="x",b="y"` (may be empty).
    void sample(const std::string& labels, const std::string& value) {
        m_out += m_name;
        if (!labels.empty()) {
            m_out += '{';
            m_out += labels;
            m_out += '}';
        }
        m_out += ' ';
        m_out += value;
        m_out += '\n';
    }

private:
    std::string& m_out;
    const char* m_name;
};

std::string number(std::int64_t v) { return std::to_string(v); }
std::string number(std::uint64_t v) { return std::to_string(v); }
std::string flag(bool v) { return v ? "1" : "0"; }

std::string label(const char* name, const std::string& value) {
    return std::string(name) + "=\"" + escapeLabelValue(value) + '"';
}

std::string toolLabels(const ToolMetrics& t) {
    return label("index", std::to_string(t.index)) + ',' + label("tool", t.tool);
}

// Milliseconds as seconds with three decimals, whatever the locale.
std::string seconds(std::int64_t ms) {
    const bool negative = ms < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(ms) : static_cast<std::uint64_t>(ms);
    char text[32];
    std::snprintf(text, sizeof text, "%s%" PRIu64 ".%03" PRIu64, negative ? "-" : "", magnitude / 1000,
                  magnitude % 1000);
    return text;
}

}  // namespace

const char* startWayLabel(StartWay way) {
    switch (way) {
        case StartWay::Launch: return "launch";
        case StartWay::Verification: return "verification";
        case StartWay::Button: return "button";
        case StartWay::Batch: return "batch";
        case StartWay::End: return "end";
        case StartWay::Freeze: return "freeze";
    }
    return "unknown";
}

std::string escapeLabelValue(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string prometheusText(const MetricsSnapshot& s) {
    std::string out;
    out.reserve(256 + s.tools.size() * 1200);
    {
        Family f(out, "tolvane_info", "gauge", "Tolvane's version, as a label; always 1.");
        f.sample(label("version", s.version), "1");
    }
    Family(out, "tolvane_start_timestamp_seconds", "gauge", "When this Tolvane started, Unix seconds.")
        .sample({}, number(s.started));
    Family(out, "tolvane_heartbeat_timestamp_seconds", "gauge",
           "Tolvane's last 250 ms tick, Unix seconds: stale when Tolvane is frozen or gone.")
        .sample({}, seconds(s.heartbeatMs));
    if (s.dailyRestartNext) {
        Family(out, "tolvane_daily_restart_next_timestamp_seconds", "gauge",
               "Tolvane's next daily restart, Unix seconds.")
            .sample({}, number(*s.dailyRestartNext));
    }

    const auto perTool = [&](const char* name, const char* type, const char* help, auto&& value) {
        Family f(out, name, type, help);
        for (const auto& t : s.tools) {
            if (const std::optional<std::string> v = value(t)) f.sample(toolLabels(t), *v);
        }
    };
    using Text = std::optional<std::string>;
    perTool("tolvane_tool_up", "gauge", "1 when the tool's window was found, 0 when absent; no sample when unknown.",
            [](const ToolMetrics& t) -> Text { return t.up ? Text(flag(*t.up)) : std::nullopt; });
    perTool("tolvane_tool_frozen", "gauge", "1 while the tool's window does not answer.",
            [](const ToolMetrics& t) -> Text { return flag(t.frozen); });
    perTool("tolvane_tool_looping", "gauge", "1 while the tool is restarted over and over.",
            [](const ToolMetrics& t) -> Text { return flag(t.looping); });
    perTool("tolvane_tool_verify_enabled", "gauge", "The tool's \"Vérifier\" box, 0/1.",
            [](const ToolMetrics& t) -> Text { return flag(t.verifyEnabled); });
    perTool("tolvane_tool_launch_enabled", "gauge", "The tool's \"Lancer\" box, 0/1.",
            [](const ToolMetrics& t) -> Text { return flag(t.launchEnabled); });
    perTool("tolvane_tool_working_set_bytes", "gauge", "The memory of the tool's process, bytes.",
            [](const ToolMetrics& t) -> Text {
                return t.workingSetBytes ? Text(number(*t.workingSetBytes)) : std::nullopt;
            });
    {
        Family f(out, "tolvane_tool_starts_total", "counter", "Starts of the tool since Tolvane started, by cause.");
        for (const auto& t : s.tools) {
            for (std::size_t w = 0; w < StartWayCount; ++w) {
                f.sample(toolLabels(t) + ',' + label("cause", startWayLabel(static_cast<StartWay>(w))),
                         number(t.starts[w]));
            }
        }
    }
    perTool("tolvane_tool_last_start_timestamp_seconds", "gauge", "The tool's last start by Tolvane, Unix seconds.",
            [](const ToolMetrics& t) -> Text { return t.lastStart ? Text(number(*t.lastStart)) : std::nullopt; });
    perTool("tolvane_tool_next_verification_timestamp_seconds", "gauge",
            "The tool's next verification, Unix seconds.", [](const ToolMetrics& t) -> Text {
                return t.nextVerification ? Text(number(*t.nextVerification)) : std::nullopt;
            });

    {
        Family f(out, "tolvane_batch_active", "gauge", "1 while the batch page is active.");
        for (const auto& b : s.batches) f.sample(label("page", b.page), flag(b.active));
    }
    {
        Family f(out, "tolvane_batch_next_timestamp_seconds", "gauge", "The batch page's next start, Unix seconds.");
        for (const auto& b : s.batches) {
            if (b.next) f.sample(label("page", b.page), number(*b.next));
        }
    }
    return out;
}

}  // namespace tolvane
