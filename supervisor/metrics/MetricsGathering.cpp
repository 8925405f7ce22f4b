#include "supervisor/metrics/MetricsGathering.h"

#include "supervisor/core/ToolTable.h"
#include "supervisor/supervision/ToolRules.h"

namespace tolvane {

MetricsSnapshot gatherMetrics(ToolSupervision& supervision, ToolRowsView& rows, BatchPages& batch,
                              BatchPagesView& pages, const MetricsContext& context) {
    MetricsSnapshot snapshot;
    snapshot.version = context.version;
    snapshot.started = context.startedUnix;
    snapshot.heartbeatMs = context.heartbeatUnixMs;
    snapshot.dailyRestartNext = context.unixSeconds(batch.HeureRedemarrage);
    ToolHealth& health = supervision.health();
    for (int i = 0; i < ToolCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        ToolMetrics tool;
        tool.index = i;
        tool.tool = std::string(*toolBaseName(i));
        switch (supervision.LastPresence[at]) {
            case platform::WindowPresence::Found: tool.up = true; break;
            case platform::WindowPresence::Absent: tool.up = false; break;
            case platform::WindowPresence::Unknown: break;
        }
        tool.frozen = health.freezeState(i).frozen;
        tool.looping = health.looping(i);
        tool.verifyEnabled = rows.checkValue(i) == 1;
        tool.launchEnabled = rows.launchValue(i) == 1;
        tool.workingSetBytes = supervision.LastWorkingSet[at];
        tool.starts = supervision.StartCounts[at];
        if (const auto& last = supervision.LastStart[at]) tool.lastStart = context.unixSeconds(*last);
        // Only a tool that is verified has a next verification; without a
        // period it is due at every tick and has no instant to show.
        if (tool.verifyEnabled && periodSeconds(rows.periodIndex(i)))
            tool.nextVerification = context.unixSeconds(supervision.NextCheck[at]);
        snapshot.tools.push_back(std::move(tool));
    }
    const auto page = [&](const char* name, bool active, const BatchPageClock& clock) {
        BatchMetrics metrics{name, active, {}};
        if (clock.armed) metrics.next = context.unixSeconds(clock.next);
        snapshot.batches.push_back(std::move(metrics));
    };
    page("Scheduler", pages.schedulerDay(0) == 1, batch.Scheduler);
    page("Planner", pages.plannerDay(0) == 1, batch.Planner);
    return snapshot;
}

}  // namespace tolvane
