#pragma once
// The snapshot the metrics file is written from, gathered from the
// supervision, the batch pages and the window's controls as the memory pass
// left them. No Qt: the conversion of the local wall clock to Unix seconds
// comes in from the caller.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "supervisor/batch/BatchPages.h"
#include "supervisor/metrics/MetricsText.h"
#include "supervisor/supervision/ToolSupervision.h"

namespace tolvane {

struct MetricsContext {
    std::string version;
    std::int64_t startedUnix = 0;
    std::int64_t heartbeatUnixMs = 0;
    // A local wall-clock instant as Unix seconds (UTC).
    std::function<std::int64_t(std::chrono::local_seconds)> unixSeconds;
};

MetricsSnapshot gatherMetrics(ToolSupervision& supervision, ToolRowsView& rows, BatchPages& batch,
                              BatchPagesView& pages, const MetricsContext& context);

}  // namespace tolvane
