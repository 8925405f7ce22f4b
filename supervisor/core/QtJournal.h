#pragma once
// The journal on disk and in the system's log: a daily UTF-8 file under the
// user's local data folder (Vantorix/<program>/journal/2026-12-08.log),
// opened for each event only long enough to append its line, so it can be
// read, copied or deleted while Tolvane runs. A journal that cannot be
// written never stops supervision: the line is dropped and standard error
// says so once.

#include <functional>
#include <string>

#include "platform/platform.h"
#include "supervisor/core/Journal.h"

namespace tolvane {

// How the system's log ranks an event (the Windows event log's type and the
// severity bits of its message ID, syslog's priority).
platform::LogSeverity systemLogSeverity(JournalEvent event);

class QtJournal final : public JournalSink {
public:
    // `folder` defaults to the standard place: $XDG_DATA_HOME (or
    // ~/.local/share) on Linux, %LOCALAPPDATA% on Windows, then
    // "Vantorix/<application>/journal".
    explicit QtJournal(std::string application, std::string folder = {});
    static std::string standardFolder(const std::string& application);

    void record(const JournalEntry& entry) override;
    RestartsToday restartsToday(int tool) override;
    // Removes the files older than 31 days.
    void removeExpiredFiles();

    // The start of a run: how the previous one ended (from the last line of
    // the newest file), today's restarts counted from today's file, the
    // expired files removed, then the start line.
    void beginRun(const std::vector<JournalDetail>& details);

    const std::string& folder() const { return m_folder; }

    // Run before a closing line is written, so that it stays the last line
    // of the run (the texts the operator was still typing are recorded).
    std::function<void()> beforeClosingLine;

    // Seams for the tests: the clock, the system's log and standard error.
    std::function<JournalClock()> clock;
    std::function<platform::SystemLogResult(platform::LogSeverity, const std::string&)> systemLog;
    std::function<void(const std::string&)> complain;

private:
    bool appendLine(const JournalClock& at, const std::string& line);
    void fileFailed(const std::string& why);

    std::string m_application;
    std::string m_folder;
    JournalRepeats m_repeats;
    JournalDayCap m_cap;
    RestartTally m_restarts;
    bool m_fileFailing = false;
    bool m_systemLogFailing = false;
};

}  // namespace tolvane
