#pragma once
// Starting, verifying, killing and measuring the thirty tools, and the
// handlers of the per-tool controls. The window implements ToolRowsView; this
// class reads the controls through it, decides with the pure rules of
// ToolRules.h and acts through the platform and the settings store.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/MonotonicTickCount.h"
#include "journal/Journal.h"
#include "platform/platform.h"
#include "supervisor/core/ToolTable.h"
#include "supervisor/metrics/MetricsText.h"
#include "supervisor/settings/SettingsStore.h"
#include "supervisor/supervision/ToolHealth.h"

namespace tolvane {

// The per-tool controls of the window, as the supervision sees them.
class ToolRowsView {
public:
    virtual ~ToolRowsView() = default;
    virtual int launchValue(int tool) = 0;     // "Lancer": 0, 1 or 2 (greyed)
    virtual int minimiserValue(int tool) = 0;  // "Minimiser"
    virtual int checkValue(int tool) = 0;      // "Vérifier"
    virtual std::string tempoText(int tool) = 0;
    virtual std::string argumentsText(int tool) = 0;
    virtual int periodIndex(int tool) = 0;  // -1 for no selection
    // Minutes without an answer after which a frozen tool is restarted; 0:
    // never (the choice on the tool's name).
    virtual int freezeRestartMinutes(int tool) = 0;
    virtual void setNextCheckText(int tool, const std::string& text) = 0;
    virtual void setVerificationControlsVisible(int tool, bool visible) = 0;
    virtual void setMemoryText(int tool, const std::string& text) = 0;
    virtual void setOwnMemoryText(const std::string& text) = 0;
    virtual void setClockText(const std::string& text) = 0;
    // The tool's window no longer answers (its name in a warning colour), or
    // answers again.
    virtual void setFrozen(int tool, bool frozen) = 0;
};

// Why a tool is being started, for its journal line: the event of a start
// that went through and what the line adds (a batch's trigger, ...).
struct StartCause {
    JournalEvent event = JournalEvent::ToolStartedByBatch;
    std::vector<JournalDetail> details;
};

class ToolSupervision {
public:
    ToolSupervision(platform::Platform& platform, SettingsStore& settings, ToolRowsView& view,
                    MonotonicTickCount& tickCount);

    // Where starts, refusals, kills, ends and the display's silences are
    // reported.
    void setJournal(JournalSink& journal) {
        m_journal = &journal;
        m_health.setJournal(journal);
    }
    // How the event loop tells of a watched process's end; without it, a
    // tool's end is only noticed by its periodic verification.
    void setEndNotifiers(EndNotifiers* notifiers) { m_health.setNotifiers(notifiers); }
    ToolHealth& health() { return m_health; }

    // State shared with loading and the batch pages -------------------------
    std::string BasePath;  // Tolvane's folder + separator
    std::int64_t LaunchStartTick = 0;
    bool LaunchEnabled = false;
    bool LaunchFinished = false;
    std::array<bool, ToolCount> ToolLaunched{};
    std::array<std::chrono::local_seconds, ToolCount> NextCheck;

    // Launch and kill -------------------------------------------------------

    // Starts the tool, minimised, with its arguments ("/Veille=True" added
    // for a standby start), and journals the start or the system's refusal
    // as `cause` says. False for an index outside 0..29 or a start the
    // system refused.
    bool LaunchProcess(int index, bool standby, const std::string& arguments, const StartCause& cause = {});

    // Starts the tool only when no window titled with its base name exists,
    // then moves its next verification one period ahead and shows it. When
    // the system cannot say whether the window exists, nothing is started
    // and nothing moves. Returns false in that case only. `startEvent` is
    // the journal's name for a start made here.
    bool CheckProcess(int index, bool standby, const std::string& arguments,
                      JournalEvent startEvent = JournalEvent::ToolStartedByCheckButton);

    void CommandKillProcess_Click(int index);

    // Launch sequence: one pass per tick. Returns false once the sequence has
    // ended, so the caller stops its timer.
    bool TimerLaunch_Timer();

    // Verification ----------------------------------------------------------
    void TimerCheck_Timer();
    void CommandImportNow_Click(int index);
    void CheckCheck_Click(int index);
    // The operator chose when the tool is restarted once it no longer answers.
    void FreezeRestart_Click(int index);
    void ComboFrequenceVerification_Click(int index);

    // Settings of a row -----------------------------------------------------
    void CheckLaunchWindows_Click(int index);
    void CheckMinimiser_Click(int index);
    void TexteTemporisation_Change(int index);
    void TexteArguments_Change(int index);

    // Memory ----------------------------------------------------------------
    // The figures, then one sweep for the windows of the tools not yet
    // watched, so a tool verified every "05 Min" is watched within fifteen
    // seconds of its start.
    void TimerMemoire_Timer();
    int MemoryUsage();

    // What the station's monitoring reads ---------------------------------
    // Set, the memory pass asks for the windows of all thirty tools, not
    // only of those still to be watched, so that tools without "Vérifier"
    // are known too.
    bool AskEveryWindow = false;
    // The starts of each tool since Tolvane started, by way, and the last.
    std::array<std::array<std::uint64_t, StartWayCount>, ToolCount> StartCounts{};
    std::array<std::optional<std::chrono::local_seconds>, ToolCount> LastStart{};
    // What the last memory pass found: each tool's window (Unknown when it
    // was not asked or not answered) and its working set.
    std::array<platform::WindowPresence, ToolCount> LastPresence{};
    std::array<std::optional<std::uint64_t>, ToolCount> LastWorkingSet{};

    // The next verification instant a period after now, or unchanged.
    void restartCountdown(int index);
    void showNextCheck(int index);

private:
    // The second the clock shows: four ticks a second, one new text.
    std::optional<std::chrono::local_seconds> m_clockShown;
    // Acts on the answer for one tool (start, reschedule, show); false when
    // the answer was unknown and nothing was done.
    bool applyCheck(int index, platform::WindowPresence presence, bool standby, const std::string& arguments,
                    JournalEvent startEvent);
    // Journals the display going silent and coming back, once each way,
    // whatever the number of questions in between.
    void noteDisplayAnswer(platform::WindowPresence presence);
    // The trimmed argument text of a row.
    std::string rowArguments(int index);
    // The verifications due after a tool's end (ToolHealth), on the tick.
    void verifyAfterEnds();

    platform::Platform& m_platform;
    SettingsStore& m_settings;
    ToolRowsView& m_view;
    MonotonicTickCount& m_tickCount;
    JournalSink* m_journal = &noJournal();
    ToolHealth m_health{m_platform, m_view, m_tickCount, LaunchFinished};
    // Until told otherwise the display is taken to answer, so its first
    // silence is journaled.
    bool m_displayAnswering = true;
};

// The way a start counts for the monitoring, from its journal event; a
// restart after an end is a restart on freeze when Tolvane ended the tool
// because it no longer answered.
std::optional<StartWay> startWay(JournalEvent startEvent, bool afterFreezeKill);

// NextCheck before anything set it: its time of day reads 00:00:00 and it
// lies in the past, so a tool with no period is due at every tick.
std::chrono::local_seconds unsetNextCheck();

}  // namespace tolvane
