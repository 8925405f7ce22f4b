#pragma once
// Tolvane's one window: thirty tool rows on three pages, the two batch pages,
// the bottom row and the four timers. The window owns the widgets and the
// timers; the supervision and batch classes own the decisions and read the
// controls through the two view interfaces implemented here.

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "common/MonotonicTickCount.h"
#include "journal/Journal.h"
#include "platform/platform.h"
#include "supervisor/batch/BatchPages.h"
#include "supervisor/core/ToolTable.h"
#include "supervisor/settings/SettingsStore.h"
#include "supervisor/supervision/ToolSupervision.h"
#include "supervisor/ui/CloseRequests.h"
#include "supervisor/ui/SysTray.h"

class QAbstractNativeEventFilter;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QPoint;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimer;

namespace tolvane {

class MetricsWriter;

class Frm_Main final : public QWidget, public ToolRowsView, public BatchPagesView {
public:
    Frm_Main(platform::Platform& platform, SettingsStore& settings, QWidget* parent = nullptr);
    ~Frm_Main() override;

    // Start-up, in this order, before the event loop runs.
    void Form_Initialize();
    void Form_Load(const std::string& commandLine);

    // Ends the process at once: no close handler and no unload step runs.
    // Every way Tolvane ends on purpose goes through here. Returns only when
    // a test replaced endProcess.
    void EndTolvane(int exitCode);

    // Where the window and its subsystems journal what they do; nothing is
    // recorded until this is called. `removeExpired` is run on the first
    // 30-second tick of each new day.
    void setJournal(JournalSink& journal, std::function<void()> removeExpired);

    // The system asked Tolvane to end from outside (a signal, taskkill's
    // WM_CLOSE, the task manager): journaled with what asked ("SIGTERM",
    // "WM_CLOSE"), then ended the way Tolvane always ends, without the quit
    // question, whatever the window's state.
    void endOnSystemRequest(const std::string& asker);

    // The process is ending with the session (the toolkit's quit that
    // follows the session manager's end, Windows' WM_ENDSESSION): journaled
    // once. The session's question that comes before it changes nothing,
    // since the end may still be cancelled.
    void endedWithSession();

    // Another start of Tolvane asked to see the window (an operator's double
    // click on the shortcut): out of standby exactly as "Afficher" does, or
    // restored from the taskbar, and brought to the front.
    void showOnRequest();

    // The quit question; tests replace it. Returns true for Yes.
    std::function<bool()> askQuit;
    // How the process ends; tests replace it to observe the end.
    std::function<void(int)> endProcess;
    // The notification-area icon standby uses; tests give a fake.
    std::function<std::unique_ptr<TrayIconHost>()> makeTrayHost;
    // The watch of the notification area standby follows; tests give none.
    std::function<std::unique_ptr<platform::NotificationAreaWatch>()> makeAreaWatch;
    // How the event loop hears of a watched tool's end, taken by loading;
    // tests over the fake platform give fakes or none.
    std::function<std::unique_ptr<EndNotifiers>()> makeEndNotifiers;
    // The hidden tray form, once standby has been entered.
    FrmSysTray* sysTray() { return m_sysTray.get(); }

    // Controls, named as the window has always named them ------------------
    QTabWidget* SftTabsMain = nullptr;
    QTabWidget* SftTabsBatch = nullptr;

    std::array<QLabel*, ToolCount> Label{};
    std::array<QPushButton*, ToolCount> CommandKillProcess{};
    std::array<QCheckBox*, ToolCount> CheckLaunchWindows{};
    std::array<QCheckBox*, ToolCount> CheckMinimiser{};
    std::array<QLineEdit*, ToolCount> TexteTemporisation{};
    std::array<QLineEdit*, ToolCount> TexteArguments{};
    std::array<QCheckBox*, ToolCount> CheckCheck{};
    std::array<QComboBox*, ToolCount> ComboFrequenceVerification{};
    std::array<QLabel*, ToolCount> LabelNextCheck{};
    std::array<QPushButton*, ToolCount> CommandImportNow{};
    std::array<QLineEdit*, ToolCount> TexteMemoire{};

    QLabel* LabelAffichageMemory = nullptr;
    QPushButton* CommandVeille = nullptr;
    QPushButton* CommandQuitter = nullptr;
    QLabel* LabelTiming = nullptr;

    std::array<QCheckBox*, 8> CheckSchedulerJour{};
    std::array<QComboBox*, 2> ComboSchedulerTiming{};
    std::array<QComboBox*, 2> ComboSchedulerHeure{};
    QComboBox* ComboSchedulerNoStation = nullptr;
    QComboBox* ComboSchedulerJ = nullptr;
    QCheckBox* CheckSchedulerReprogrammer = nullptr;
    QCheckBox* CheckSchedulerOptDuree = nullptr;
    QPushButton* CommandSchedulerTest = nullptr;
    std::array<QLabel*, 6> LabelScheduler{};
    QGroupBox* FrameScheduler = nullptr;
    QFrame* PictureScheduler = nullptr;

    std::array<QCheckBox*, 8> CheckPlannerJour{};
    std::array<QComboBox*, 2> ComboPlannerTiming{};
    QComboBox* ComboPlannerJ = nullptr;
    QComboBox* ComboPlannerNbJour = nullptr;
    QCheckBox* CheckPlannerReplanifier = nullptr;
    QPushButton* CommandPlannerTest = nullptr;
    std::array<QLabel*, 4> LabelPlanner{};
    QGroupBox* FramePlanner = nullptr;
    QFrame* PicturePlanner = nullptr;

    QTimer* TimerLaunch = nullptr;
    QTimer* TimerCheck = nullptr;
    QTimer* TimerMemoire = nullptr;
    QTimer* Timer30s = nullptr;

    // The folder the metrics file is written to, from section "Metrics",
    // key "Folder"; empty: none is written.
    const QString& metricsFolder() const { return m_metricsFolder; }

    // The subsystems the window composes.
    ToolSupervision& supervision() { return *m_supervision; }
    BatchPages& batch() { return *m_batch; }
    MonotonicTickCount& tickCount() { return m_tickCount; }

    // Why the window is being closed: only the operator's own close (the
    // close box or the system menu) asks the quit question.
    enum class UnloadMode { User, Program, Session };
    // Returns true to cancel the close.
    bool Form_QueryUnload(UnloadMode mode);

    // Handlers of the window itself.
    void CommandQuitter_Click();
    void CommandVeille_Click();
    void MiseEnVeilleForcee();
    void TimerLaunch_Timer();
    void TimerCheck_Timer();
    void TimerMemoire_Timer();
    void Timer30s_Timer();

    // ToolRowsView ----------------------------------------------------------
    int launchValue(int tool) override;
    int minimiserValue(int tool) override;
    int checkValue(int tool) override;
    std::string tempoText(int tool) override;
    std::string argumentsText(int tool) override;
    int periodIndex(int tool) override;
    int freezeRestartMinutes(int tool) override;
    void setNextCheckText(int tool, const std::string& text) override;
    void setVerificationControlsVisible(int tool, bool visible) override;
    void setMemoryText(int tool, const std::string& text) override;
    void setOwnMemoryText(const std::string& text) override;
    void setClockText(const std::string& text) override;
    void setFrozen(int tool, bool frozen) override;

    // The menu on a tool's name: "Relancer s'il ne répond plus depuis", the
    // current choice ticked; a choice is applied and stored when triggered.
    std::unique_ptr<QMenu> freezeMenu(int tool);

    // BatchPagesView --------------------------------------------------------
    int schedulerDay(int element) override;
    int schedulerTiming(int which) override;
    int schedulerHeure(int which) override;
    int schedulerStation() override;
    int schedulerDayOffset() override;
    int schedulerReprogrammer() override;
    int schedulerOptDuree() override;
    void setSchedulerPageActive(bool active) override;
    void setSchedulerNextText(const std::string& text) override;
    int plannerDay(int element) override;
    int plannerTiming(int which) override;
    int plannerDayOffset() override;
    int plannerDayCount() override;
    std::string plannerDayCountText() override;
    int plannerReplanifier() override;
    void setPlannerPageActive(bool active) override;
    void setPlannerNextText(const std::string& text) override;
    std::string longDate(std::chrono::year_month_day date) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    // A tool's name shows today's restarts by verification as its tooltip,
    // whether it loops and since when it no longer answers, read when the
    // pointer rests on it (nothing is kept up to date on the ticks).
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The clock is set when the window shows again (see setClockText).
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void showClock();
    QString m_clockText;
    void buildWindow();
    void buildToolPages();
    void buildBatchPage(QWidget* page);
    void buildSchedulerPage(QWidget* page);
    void buildPlannerPage(QWidget* page);
    void buildBottomRow();
    void buildTimers();
    void connectHandlers();

    void loadBox(QCheckBox* box, std::string_view section, std::string_view key, std::string_view defaultValue);
    void loadList(QComboBox* list, std::string_view section, std::string_view key, std::string_view defaultValue);
    void loadText(QLineEdit* text, std::string_view section, std::string_view key, std::string_view defaultValue);
    // A control whose value the administrator's policy sets: disabled, with
    // the tooltip that says so, and kept disabled whatever enables its page.
    // Returns whether the key is enforced.
    bool showEnforced(QWidget* control, std::string_view section, std::string_view key);
    void keepEnforcedDisabled();
    // A policy value no control can hold: journaled; the default is shown.
    void journalPolicyNotUnderstood(std::string_view section, std::string_view key, const std::string& value,
                                    std::string_view shown);
    void showFreezeMenu(int tool, const QPoint& at);
    // The metrics file, on the memory pass, when a folder is set.
    void startMetrics();
    void writeMetrics();

    platform::Platform& m_platform;
    SettingsStore& m_settings;
    MonotonicTickCount m_tickCount;
    // Declared before the supervision: it outlives the subscriptions held
    // there.
    std::unique_ptr<EndNotifiers> m_endNotifiers;
    std::unique_ptr<ToolSupervision> m_supervision;
    std::unique_ptr<BatchPages> m_batch;
    std::unique_ptr<FrmSysTray> m_sysTray;
    JournalSink* m_journal = &noJournal();
    std::function<void()> m_removeExpiredJournal;
    JournalDailyChore m_journalChore{std::chrono::local_days{}};
    bool m_closingRecorded = false;  // the run's last line is written
    // The restart chosen for each tool once frozen, in minutes (0: never).
    std::array<int, ToolCount> m_freezeRestart{};
    // The controls the administrator's policy sets (see showEnforced).
    std::vector<QWidget*> m_enforcedControls;
    CloseRequests m_closeRequests;
    std::unique_ptr<QAbstractNativeEventFilter> m_closeFilter;
    QString m_metricsFolder;
    std::unique_ptr<MetricsWriter> m_metricsWriter;
    bool m_metricsFailing = false;
    std::string m_versionText;
    std::int64_t m_startedUnix = 0;
    std::int64_t m_heartbeatMs = 0;  // the last 250 ms tick, Unix milliseconds
};

// The value of a check box as the settings store it: 0, 1 or 2 (greyed).
int boxValue(const QCheckBox* box);
void setBoxValue(QCheckBox* box, int value);

}  // namespace tolvane
