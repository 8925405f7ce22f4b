#pragma once
// ToolSupervision over the fake platform, an in-memory store and fake rows,
// with the clocks under the test's control.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/MonotonicTickCount.h"
#include "platform/fake/FakePlatform.h"
#include "supervisor/core/ToolTable.h"
#include "supervisor/settings/SettingsStore.h"
#include "supervisor/supervision/ToolSupervision.h"
#include "tests/support/fake/FakeToolRows.h"

namespace tolvane::testsupport {

inline std::chrono::local_seconds at(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
    using namespace std::chrono;
    return local_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

inline const std::string kBasePath = "/opt/vantorix/";

// The executable a start of `tool` must name.
inline std::string exePath(int tool) {
    return kBasePath + std::string(*toolBaseName(tool)) + platform::executableSuffix();
}

class SupervisionTest : public ::testing::Test {
protected:
    SupervisionTest() {
        supervision.BasePath = kBasePath;
        platform.now = at(2025, 6, 9, 8, 0, 0);  // a Monday morning
    }

    // What loading leaves behind: every row's next verification one period
    // after the start, the launch sequence counting from now and open.
    void load() {
        for (int i = 0; i < ToolCount; ++i) {
            if (const auto period = periodSeconds(rows.row(i).period))
                supervision.NextCheck[static_cast<std::size_t>(i)] = platform.now + std::chrono::seconds{*period};
        }
        supervision.LaunchStartTick = tickCount();
        supervision.LaunchEnabled = true;
    }

    platform::FakePlatform platform;
    MemorySettingsStore settings;
    FakeToolRows rows{&settings};
    MonotonicTickCount tickCount{[this] { return platform.tick; }};
    ToolSupervision supervision{platform, settings, rows, tickCount};
};

}  // namespace tolvane::testsupport
