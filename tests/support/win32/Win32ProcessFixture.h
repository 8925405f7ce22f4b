#pragma once
// A folder "Vantorix Été" under Program Files (a blank and accents in the
// path, as on the station) and the system backend, for the tests that start
// real stand-ins.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "tests/support/win32/Win32TestSupport.h"

namespace tolvane::testsupport {

class Win32ProgramTest : public ::testing::Test {
protected:
    ProgramFolder m_folder{programFilesFolder() + "\\Vantorix \xC3\x89t\xC3\xA9"};
    std::unique_ptr<tolvane::platform::Platform> m_platform = tolvane::platform::createSystemPlatform();

    // Starts `path` and waits for the start's own line in the folder's log.
    std::optional<tolvane::standin::StandinLogLine> startAndLog(
        const std::string& path, const std::string& arguments,
        tolvane::platform::ShowState show = tolvane::platform::ShowState::Normal) {
        const std::size_t before = m_folder.log().size();
        if (!m_platform->startProgram(path, arguments, show)) return std::nullopt;
        if (!waitForLogLines(m_folder.path(), before + 1, 20s)) return std::nullopt;
        return m_folder.log().at(before);
    }

    // Waits until a process of that image name has gone and taskkill is done.
    bool waitUntilGone(const std::string& baseName) {
        const bool gone = waitUntil(
            [&] { return processesNamed(baseName + ".exe").empty() && !m_platform->topLevelWindowExists(baseName); },
            20s);
        waitForTaskkillToFinish();
        return gone;
    }
};

}  // namespace tolvane::testsupport
