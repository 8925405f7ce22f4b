#pragma once
// The journal on disk and in the system's log: a daily UTF-8 file under the
// user's local data folder (Vantorix/<program>/journal/2026-12-08.log),
// opened for each event only long enough to append its line, so it can be
// read, copied or deleted while Tolvane runs. A journal that cannot be
// written never stops supervision: the line is dropped, and standard error
// and the system's log say so once for each run of failures.

#include <functional>
#include <string>

#include "journal/Journal.h"
#include "platform/platform.h"

namespace tolvane {

// How the system's log ranks an event (the Windows event log's type and the
// severity bits of its message ID, syslog's priority).
platform::LogSeverity systemLogSeverity(JournalEvent event);

class JournalFiles final : public JournalSink {
public:
    // `folder` defaults to the standard place: $XDG_DATA_HOME (or
    // ~/.local/share) on Linux, %LOCALAPPDATA% on Windows, then
    // "Vantorix/<application>/journal".
    explicit JournalFiles(std::string application, std::string folder = {});
    static std::string standardFolder(const std::string& application);

    void record(const JournalEntry& entry) override;
    void fold(const JournalEntry& entry) override;
    RestartsToday restartsToday(int tool) override;
    // Removes the files older than 31 days.
    void removeExpiredFiles();

    // The start of a run: how the previous one ended (from the last line of
    // the newest file), today's restarts counted from today's file, the
    // expired files removed, then the start line. Whatever the files hold,
    // reading them costs at most the tally, never the start.
    void beginRun(const std::vector<JournalDetail>& details);

    // What only standard error would hear otherwise (on Windows both
    // programs are windowed: started from the logon or from Explorer they
    // have none): `complaint` there, and the line of `entry` in the system's
    // log, not in the day's file. Once per run for each event, until
    // rearmAlert(event) says the trouble is over.
    void alert(const JournalEntry& entry, const std::string& complaint);
    void rearmAlert(JournalEvent event);

    const std::string& folder() const { return m_folder; }

    // Run before a closing line is written, so that it stays the last line
    // of the run (the texts the operator was still typing are recorded).
    // The repeats still merged away are written then too.
    std::function<void()> beforeClosingLine;

    // Seams for the tests: the clock, the system's log and standard error.
    std::function<JournalClock()> clock;
    std::function<platform::SystemLogResult(platform::LogSeverity, const std::string&)> systemLog;
    std::function<void(const std::string&)> complain;

private:
    bool appendLine(const JournalClock& at, const std::string& line);
    void fileFailed(const std::string& why);
    void sendToSystemLog(JournalEvent event, const std::string& line);
    void writeLine(const JournalClock& at, const JournalEntry& entry, int merged);
    void readToday();

    std::string m_application;
    std::string m_folder;
    JournalRepeats m_repeats;
    JournalDayCap m_cap;
    RestartTally m_restarts;
    bool m_fileFailing = false;
    int m_linesLost = 0;  // while the file fails
    bool m_systemLogFailing = false;
    std::vector<JournalEvent> m_alerted;
};

}  // namespace tolvane
