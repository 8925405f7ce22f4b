#include "supervisor/batch/BatchPages.h"

#include <array>

#include "supervisor/batch/BatchSchedule.h"

namespace tolvane {

namespace {
constexpr int SchedulerTool = 2;
constexpr int PlannerTool = 3;
constexpr std::string_view RestarterBaseName = "Krandel";
constexpr std::string_view ButtonTrigger = "bouton « Tester maintenant »";
constexpr std::string_view ClockTrigger = "horloge batch";

std::string decimal(int value) { return std::to_string(value); }
}  // namespace

BatchPages::BatchPages(platform::Platform& platform, SettingsStore& settings, BatchPagesView& view, ToolRowsView& rows,
                       ToolSupervision& supervision)
    : m_platform(platform),
      m_settings(settings),
      m_view(view),
      m_rows(rows),
      m_supervision(supervision) {}

// Scheduler page -------------------------------------------------------------

void BatchPages::CheckSchedulerJour_Click(int index) {
    if (index < 0 || index > 7) return;
    m_settings.SaveSetting("CheckSchedulerJour", indexKey(index), decimal(m_view.schedulerDay(index)));
    if (index == 0) m_view.setSchedulerPageActive(m_view.schedulerDay(0) == 1);
    ProchainBatchScheduler();
}

void BatchPages::ComboSchedulerTiming_Click(int index) {
    if (index < 0 || index > 1) return;
    m_settings.SaveSetting("CheckSchedulerTiming", indexKey(index), decimal(m_view.schedulerTiming(index)));
    ProchainBatchScheduler();
}

void BatchPages::ComboSchedulerHeure_Click(int index) {
    if (index < 0 || index > 1) return;
    m_settings.SaveSetting("CheckSchedulerHeure", indexKey(index), decimal(m_view.schedulerHeure(index)));
}

void BatchPages::ComboSchedulerNoStation_Click() {
    m_settings.SaveSetting("CheckSchedulerNoStation", "Index", decimal(m_view.schedulerStation()));
}

void BatchPages::ComboSchedulerJ_Click() {
    m_settings.SaveSetting("CheckSchedulerJ", "Nb", decimal(m_view.schedulerDayOffset()));
}

void BatchPages::CheckSchedulerReprogrammer_Click() {
    m_settings.SaveSetting("CheckSchedulerReprogrammer", "Actif", decimal(m_view.schedulerReprogrammer()));
}

void BatchPages::CheckSchedulerOptDuree_Click() {
    m_settings.SaveSetting("CheckSchedulerOptDuree", "Actif", decimal(m_view.schedulerOptDuree()));
}

void BatchPages::ProchainBatchScheduler() {
    Scheduler.armed = false;
    m_view.setSchedulerNextText("");
    if (m_view.schedulerDay(0) != 1) return;
    std::array<bool, 8> days{};
    for (int i = 1; i <= 7; ++i) days[static_cast<std::size_t>(i)] = m_view.schedulerDay(i) == 1;
    // Instants already started are passed over: in the repeated hour of the
    // autumn change, a click would otherwise plan today's instant once more.
    const auto next = nextBatchInstant(m_platform.localNow(), days, m_view.schedulerTiming(0),
                                       quarterMinute(m_view.schedulerTiming(1)), Scheduler.startedInstants);
    if (!next) return;
    Scheduler.next = *next;
    m_view.setSchedulerNextText(
        nextBatchLabel(*next, [this](std::chrono::year_month_day d) { return m_view.longDate(d); }));
    Scheduler.armed = true;
}

void BatchPages::CommandSchedulerTest_Click() { startSchedulerBatch(ButtonTrigger); }

void BatchPages::startSchedulerBatch(std::string_view trigger) {
    SchedulerOptions options;
    options.reprogrammer = m_view.schedulerReprogrammer();
    options.stationIndex = m_view.schedulerStation();
    options.startHourIndex = m_view.schedulerHeure(0);
    options.endHourIndex = m_view.schedulerHeure(1);
    options.optDuree = m_view.schedulerOptDuree();
    options.dayOffsetIndex = m_view.schedulerDayOffset();
    // The start has always stored the duration option as it goes.
    CheckSchedulerOptDuree_Click();
    const std::string arguments = schedulerCommandLine(options);
    const StartCause cause{JournalEvent::ToolStartedByBatch, {{"déclencheur", std::string(trigger)}}};
    switch (batchStartFor(m_rows.minimiserValue(SchedulerTool))) {
        case BatchStart::Standby: m_supervision.LaunchProcess(SchedulerTool, true, arguments, cause); break;
        case BatchStart::Normal: m_supervision.LaunchProcess(SchedulerTool, false, arguments, cause); break;
        case BatchStart::None: break;
    }
}

// Planner page ---------------------------------------------------------------

void BatchPages::CheckPlannerJour_Click(int index) {
    if (index < 0 || index > 7) return;
    m_settings.SaveSetting("CheckPlannerJour", indexKey(index), decimal(m_view.plannerDay(index)));
    if (index == 0) m_view.setPlannerPageActive(m_view.plannerDay(0) == 1);
    ProchainBatchPlanner();
}

void BatchPages::ComboPlannerTiming_Click(int index) {
    if (index < 0 || index > 1) return;
    m_settings.SaveSetting("CheckPlannerTiming", indexKey(index), decimal(m_view.plannerTiming(index)));
    ProchainBatchPlanner();
}

void BatchPages::ComboPlannerJ_Change() {
    m_settings.SaveSetting("CheckPlannerJ", "Nb", decimal(m_view.plannerDayOffset()));
}

void BatchPages::ComboPlannerNbJour_Click() {
    m_settings.SaveSetting("CheckPlannerNbJour", "Index", decimal(m_view.plannerDayCount()));
}

void BatchPages::CheckPlannerReplanifier_Click() {
    m_settings.SaveSetting("CheckPlannerReplanifier", "Actif", decimal(m_view.plannerReplanifier()));
}

void BatchPages::ProchainBatchPlanner() {
    Planner.armed = false;
    m_view.setPlannerNextText("");
    if (m_view.plannerDay(0) != 1) return;
    std::array<bool, 8> days{};
    for (int i = 1; i <= 7; ++i) days[static_cast<std::size_t>(i)] = m_view.plannerDay(i) == 1;
    const auto next = nextBatchInstant(m_platform.localNow(), days, m_view.plannerTiming(0),
                                       quarterMinute(m_view.plannerTiming(1)), Planner.startedInstants);
    if (!next) return;
    Planner.next = *next;
    m_view.setPlannerNextText(
        nextBatchLabel(*next, [this](std::chrono::year_month_day d) { return m_view.longDate(d); }));
    Planner.armed = true;
}

void BatchPages::CommandPlannerTest_Click() { startPlannerBatch(ButtonTrigger); }

void BatchPages::startPlannerBatch(std::string_view trigger) {
    PlannerOptions options;
    options.replanifier = m_view.plannerReplanifier();
    options.dayCountText = m_view.plannerDayCountText();
    options.dayOffsetIndex = m_view.plannerDayOffset();
    const std::string arguments = plannerCommandLine(options);
    const StartCause cause{JournalEvent::ToolStartedByBatch, {{"déclencheur", std::string(trigger)}}};
    switch (batchStartFor(m_rows.minimiserValue(PlannerTool))) {
        case BatchStart::Standby: m_supervision.LaunchProcess(PlannerTool, true, arguments, cause); break;
        case BatchStart::Normal: m_supervision.LaunchProcess(PlannerTool, false, arguments, cause); break;
        case BatchStart::None: break;
    }
}

// The batch clock ------------------------------------------------------------

BatchPages::TickOutcome BatchPages::Timer30s_Timer() {
    const auto now = m_platform.localNow();
    const std::string restarter =
        m_supervision.BasePath + std::string(RestarterBaseName) + platform::executableSuffix();
    const RestartAction restart = dailyRestartTick(HeureRedemarrage, now, m_platform.fileExists(restarter));
    if (restart == RestartAction::StartRestarter) {
        // Ending is only safe once Krandel runs: if it cannot be started,
        // Tolvane keeps supervising and tries again the next day.
        if (beforeRestartHandOver) beforeRestartHandOver();
        // In its folder, as every program Tolvane starts.
        const auto started =
            m_platform.startProgram(restarter, "", platform::ShowState::Normal, m_supervision.BasePath);
        if (started) {
            m_journal->record({JournalEvent::EndedForDailyRestart, {}, {}});
            return TickOutcome::EndForRestart;
        }
        m_journal->record(
            {JournalEvent::RestarterStartRefused, {}, {{"programme", restarter}, {"raison", started.failure}}});
        if (afterFailedHandOver) afterFailedHandOver();
    } else if (restart == RestartAction::NoRestarter) {
        // No restart tonight either: the morning's reader must learn why.
        m_journal->record(
            {JournalEvent::RestarterStartRefused, {}, {{"programme", restarter}, {"raison", "fichier introuvable"}}});
    }
    switch (batchPageTick(Scheduler, now)) {
        case PageTickAction::StartBatch: startSchedulerBatch(ClockTrigger); break;
        case PageTickAction::Replan: ProchainBatchScheduler(); break;
        case PageTickAction::None: break;
    }
    switch (batchPageTick(Planner, now)) {
        case PageTickAction::StartBatch: startPlannerBatch(ClockTrigger); break;
        case PageTickAction::Replan: ProchainBatchPlanner(); break;
        case PageTickAction::None: break;
    }
    return TickOutcome::Continue;
}

}  // namespace tolvane
