#pragma once
// The "Scheduler" and "Planner" pages of the batch tab: their stored
// settings, their page state, the next batch instant, the batch start, and
// the thirty-second clock that starts the batches and restarts Tolvane.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "supervisor/batch/BatchClock.h"
#include "supervisor/settings/SettingsStore.h"
#include "supervisor/supervision/ToolSupervision.h"

namespace tolvane {

// The controls of both pages, as the batch logic sees them. Indexes are list
// indexes, -1 for no selection; boxes hold 0, 1 or 2.
class BatchPagesView {
public:
    virtual ~BatchPagesView() = default;

    virtual int schedulerDay(int element) = 0;   // 0 "Actif", 1..7 Monday..Sunday
    virtual int schedulerTiming(int which) = 0;  // 0 hour, 1 quarter
    virtual int schedulerHeure(int which) = 0;   // 0 start, 1 end of the hour window
    virtual int schedulerStation() = 0;
    virtual int schedulerDayOffset() = 0;
    virtual int schedulerReprogrammer() = 0;
    virtual int schedulerOptDuree() = 0;
    // Enables or disables every control of the page but "Actif" and greys
    // or blackens its separator accordingly.
    virtual void setSchedulerPageActive(bool active) = 0;
    virtual void setSchedulerNextText(const std::string& text) = 0;

    virtual int plannerDay(int element) = 0;
    virtual int plannerTiming(int which) = 0;
    virtual int plannerDayOffset() = 0;
    virtual int plannerDayCount() = 0;
    virtual std::string plannerDayCountText() = 0;  // the list's displayed text
    virtual int plannerReplanifier() = 0;
    virtual void setPlannerPageActive(bool active) = 0;
    virtual void setPlannerNextText(const std::string& text) = 0;

    // The date in the system's long date format.
    virtual std::string longDate(std::chrono::year_month_day date) = 0;
};

class BatchPages {
public:
    BatchPages(platform::Platform& platform, SettingsStore& settings, BatchPagesView& view, ToolRowsView& rows,
               ToolSupervision& supervision);

    // Scheduler page --------------------------------------------------------
    void CheckSchedulerJour_Click(int index);
    void ComboSchedulerTiming_Click(int index);
    void ComboSchedulerHeure_Click(int index);
    void ComboSchedulerNoStation_Click();
    void ComboSchedulerJ_Click();
    void CheckSchedulerReprogrammer_Click();
    void CheckSchedulerOptDuree_Click();
    void ProchainBatchScheduler();
    void CommandSchedulerTest_Click();

    // Planner page ----------------------------------------------------------
    void CheckPlannerJour_Click(int index);
    void ComboPlannerTiming_Click(int index);
    void ComboPlannerJ_Change();
    void ComboPlannerNbJour_Click();
    void CheckPlannerReplanifier_Click();
    void ProchainBatchPlanner();
    void CommandPlannerTest_Click();

    // The batch clock -------------------------------------------------------
    enum class TickOutcome { Continue, EndForRestart };
    // Daily restart first, then the Scheduler, then the Planner. A tick
    // that starts Krandel returns EndForRestart and handles no page.
    TickOutcome Timer30s_Timer();

    // Around Krandel's start for the daily restart: before it, Tolvane lets
    // go of what makes it the one Tolvane of this user, so that the Tolvane
    // Krandel starts is not turned away; after a start that failed, it takes
    // it back and goes on supervising.
    std::function<void()> beforeRestartHandOver;
    // The batch starts, the hand-over to Krandel and Krandel's refusal are
    // journaled here (the tool starts themselves by the supervision).
    void setJournal(JournalSink& journal) { m_journal = &journal; }
    std::function<void()> afterFailedHandOver;

    std::chrono::local_seconds HeureRedemarrage{};
    BatchPageClock Scheduler;
    BatchPageClock Planner;

private:
    // A batch start, from "Tester maintenant" or from the batch clock.
    void startSchedulerBatch(std::string_view trigger);
    void startPlannerBatch(std::string_view trigger);

    platform::Platform& m_platform;
    SettingsStore& m_settings;
    BatchPagesView& m_view;
    ToolRowsView& m_rows;
    ToolSupervision& m_supervision;
    JournalSink* m_journal = &noJournal();
};

}  // namespace tolvane
