#include "supervisor/ui/Frm_Main.h"

#include <QAbstractNativeEventFilter>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "supervisor/batch/BatchSchedule.h"
#include "supervisor/core/NumericText.h"
#include "supervisor/core/Startup.h"
#include "supervisor/core/TextHelpers.h"
#include "supervisor/core/VersionStamp.h"
#include "supervisor/metrics/MetricsGathering.h"
#include "supervisor/metrics/MetricsWriter.h"
#include "supervisor/settings/SettingsTable.h"
#include "supervisor/ui/QtEndNotifiers.h"

namespace tolvane {

namespace {

std::string text(const QString& s) { return s.toStdString(); }
QString qtext(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

int listIndex(const QComboBox* list) { return list->currentIndex(); }

void fillList(QComboBox* list, const std::vector<std::string>& items) {
    // Filling selects nothing and reports nothing: a selection is made only
    // by the stored value or the operator, and fires the list's reaction.
    const QSignalBlocker quiet(list);
    list->clear();
    for (const auto& item : items) list->addItem(qtext(item));
    list->setCurrentIndex(-1);
}

const QColor DisabledPanel(172, 168, 153);

// Sees the window system's messages before the toolkit does, to tell the
// operator's close (the window's own close command) from a close asked from
// outside (taskkill, the task manager), which the toolkit cannot tell apart.
// A close from outside is taken here: the toolkit would ask the quit question
// on the main window and quit the application on its hidden icon window.
class CloseMessageFilter final : public QAbstractNativeEventFilter {
public:
    CloseMessageFilter(CloseRequests& requests, std::function<void(const std::string&)> outside)
        : m_requests(requests),
          m_outside(std::move(outside)) {
        m_clock.start();
    }
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override {
        if (eventType != "windows_generic_MSG") return false;
        switch (platform::classifyWindowMessage(message)) {
            case platform::WindowMessage::CloseCommand:
                m_requests.closeCommand(static_cast<std::uint64_t>(m_clock.elapsed()));
                return false;
            case platform::WindowMessage::Close:
                // While the session is being saved a close is the session's,
                // which the window's own close handling knows.
                if (qApp->isSavingSession()) return false;
                if (m_requests.close(static_cast<std::uint64_t>(m_clock.elapsed())) == CloseRequests::Origin::Operator)
                    return false;
                if (result) *result = 0;
                m_outside("WM_CLOSE");
                return true;
            case platform::WindowMessage::Other: return false;
        }
        return false;
    }

private:
    CloseRequests& m_requests;
    std::function<void(const std::string&)> m_outside;
    QElapsedTimer m_clock;
};

}  // namespace

int boxValue(const QCheckBox* box) {
    switch (box->checkState()) {
        case Qt::Checked: return 1;
        case Qt::PartiallyChecked: return 2;
        default: return 0;
    }
}

void setBoxValue(QCheckBox* box, int value) {
    box->setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

Frm_Main::Frm_Main(platform::Platform& platform, SettingsStore& settings, QWidget* parent)
    : QWidget(parent),
      m_platform(platform),
      m_settings(settings),
      m_tickCount([&platform] { return platform.rawTickCount(); }) {
    m_supervision = std::make_unique<ToolSupervision>(m_platform, m_settings, *this, m_tickCount);
    m_batch = std::make_unique<BatchPages>(m_platform, m_settings, *this, *this, *m_supervision);
    askQuit = [this] {
        return QMessageBox::question(this, QStringLiteral("Vantorix : Tools Launcher"),
                                     QStringLiteral("Voulez-vous quitter le programme ?"),
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    makeTrayHost = [] { return std::make_unique<QtTrayIconHost>(); };
    makeAreaWatch = [] { return platform::watchNotificationArea(); };
    makeEndNotifiers = [] { return qtEndNotifiers(); };
    endProcess = [](int code) {
        // The run's closing line is in the system's log before the process
        // goes (a second at most, should the log be stuck).
        platform::flushSystemLog(std::chrono::seconds{1});
        std::fflush(nullptr);
        std::_Exit(code);
    };
    setObjectName(QStringLiteral("Frm_Main"));
    buildWindow();
    // The batch pages start inactive until their stored "Actif" says
    // otherwise; "Actif" and the frame of the next instant stay usable.
    setSchedulerPageActive(false);
    setPlannerPageActive(false);
    CheckSchedulerJour[0]->setEnabled(true);
    FrameScheduler->setEnabled(true);
    CheckPlannerJour[0]->setEnabled(true);
    FramePlanner->setEnabled(true);
    connectHandlers();
    m_closeFilter = std::make_unique<CloseMessageFilter>(
        m_closeRequests, [this](const std::string& asker) { endOnSystemRequest(asker); });
    qApp->installNativeEventFilter(m_closeFilter.get());
    // The timers run from the creation of the window; no tick can be
    // handled before loading ends, since loading runs before the event loop.
    for (QTimer* timer : {TimerLaunch, TimerCheck, TimerMemoire, Timer30s}) timer->start();
}

Frm_Main::~Frm_Main() {
    if (m_closeFilter) qApp->removeNativeEventFilter(m_closeFilter.get());
    // The window is going: the icon goes with it, nothing is shown again.
    if (m_sysTray) m_sysTray->forgetWindows();
}

void Frm_Main::connectHandlers() {
    ToolSupervision& s = *m_supervision;
    BatchPages& b = *m_batch;
    for (int i = 0; i < ToolCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        connect(CommandKillProcess[at], &QPushButton::clicked, this, [&s, i] { s.CommandKillProcess_Click(i); });
        connect(CheckLaunchWindows[at], &QCheckBox::stateChanged, this, [&s, i] { s.CheckLaunchWindows_Click(i); });
        connect(CheckMinimiser[at], &QCheckBox::stateChanged, this, [&s, i] { s.CheckMinimiser_Click(i); });
        connect(TexteTemporisation[at], &QLineEdit::textChanged, this, [&s, i] { s.TexteTemporisation_Change(i); });
        connect(TexteArguments[at], &QLineEdit::textChanged, this, [&s, i] { s.TexteArguments_Change(i); });
        connect(CheckCheck[at], &QCheckBox::stateChanged, this, [&s, i] { s.CheckCheck_Click(i); });
        connect(ComboFrequenceVerification[at], &QComboBox::currentIndexChanged, this,
                [&s, i] { s.ComboFrequenceVerification_Click(i); });
        connect(CommandImportNow[at], &QPushButton::clicked, this, [&s, i] { s.CommandImportNow_Click(i); });
        Label[at]->installEventFilter(this);
        Label[at]->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(Label[at], &QLabel::customContextMenuRequested, this,
                [this, i](const QPoint& pos) { showFreezeMenu(i, pos); });
    }
    for (int i = 0; i < 8; ++i) {
        const auto at = static_cast<std::size_t>(i);
        connect(CheckSchedulerJour[at], &QCheckBox::stateChanged, this, [&b, i] { b.CheckSchedulerJour_Click(i); });
        connect(CheckPlannerJour[at], &QCheckBox::stateChanged, this, [&b, i] { b.CheckPlannerJour_Click(i); });
    }
    for (int i = 0; i < 2; ++i) {
        const auto at = static_cast<std::size_t>(i);
        connect(ComboSchedulerTiming[at], &QComboBox::currentIndexChanged, this,
                [&b, i] { b.ComboSchedulerTiming_Click(i); });
        connect(ComboSchedulerHeure[at], &QComboBox::currentIndexChanged, this,
                [&b, i] { b.ComboSchedulerHeure_Click(i); });
        connect(ComboPlannerTiming[at], &QComboBox::currentIndexChanged, this,
                [&b, i] { b.ComboPlannerTiming_Click(i); });
    }
    connect(ComboSchedulerNoStation, &QComboBox::currentIndexChanged, this,
            [&b] { b.ComboSchedulerNoStation_Click(); });
    connect(ComboSchedulerJ, &QComboBox::currentIndexChanged, this, [&b] { b.ComboSchedulerJ_Click(); });
    connect(CheckSchedulerReprogrammer, &QCheckBox::stateChanged, this, [&b] { b.CheckSchedulerReprogrammer_Click(); });
    connect(CheckSchedulerOptDuree, &QCheckBox::stateChanged, this, [&b] { b.CheckSchedulerOptDuree_Click(); });
    connect(CommandSchedulerTest, &QPushButton::clicked, this, [&b] { b.CommandSchedulerTest_Click(); });
    connect(ComboPlannerJ, &QComboBox::currentIndexChanged, this, [&b] { b.ComboPlannerJ_Change(); });
    connect(ComboPlannerNbJour, &QComboBox::currentIndexChanged, this, [&b] { b.ComboPlannerNbJour_Click(); });
    connect(CheckPlannerReplanifier, &QCheckBox::stateChanged, this, [&b] { b.CheckPlannerReplanifier_Click(); });
    connect(CommandPlannerTest, &QPushButton::clicked, this, [&b] { b.CommandPlannerTest_Click(); });

    connect(CommandQuitter, &QPushButton::clicked, this, [this] { CommandQuitter_Click(); });
    connect(CommandVeille, &QPushButton::clicked, this, [this] { CommandVeille_Click(); });
    connect(TimerLaunch, &QTimer::timeout, this, [this] { TimerLaunch_Timer(); });
    connect(TimerCheck, &QTimer::timeout, this, [this] { TimerCheck_Timer(); });
    connect(TimerMemoire, &QTimer::timeout, this, [this] { TimerMemoire_Timer(); });
    connect(Timer30s, &QTimer::timeout, this, [this] { Timer30s_Timer(); });

    // The session ends (logout, shutdown): the system asks first (Windows'
    // WM_QUERYENDSESSION, the X session manager's SaveYourself, also sent
    // for a mere checkpoint), and that question may still be cancelled by
    // another program or the user, so it changes nothing here. Only the
    // toolkit's quit that follows a session's real end (Windows'
    // WM_ENDSESSION, the session manager's Die) is the session's end: every
    // end Tolvane chooses itself goes through EndTolvane and never returns.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { endedWithSession(); });
}

// Start-up ---------------------------------------------------------------------

void Frm_Main::setJournal(JournalSink& journal, std::function<void()> removeExpired) {
    m_journal = &journal;
    m_supervision->setJournal(journal);
    m_batch->setJournal(journal);
    m_removeExpiredJournal = std::move(removeExpired);
}

void Frm_Main::Form_Initialize() {
    const auto now = m_platform.localNow();
    // The files of today's start were looked at as Tolvane started.
    m_journalChore = JournalDailyChore(std::chrono::floor<std::chrono::days>(now));
    m_batch->HeureRedemarrage = initialRestartInstant(now);
    std::string exe = m_platform.ownExecutablePath();
    const auto sep = exe.find_last_of(platform::pathSeparator());
    m_supervision->BasePath =
        (sep == std::string::npos ? std::string() : exe.substr(0, sep)) + platform::pathSeparator();
}

bool Frm_Main::showEnforced(QWidget* control, std::string_view section, std::string_view key) {
    if (!m_settings.isEnforced(section, key)) return false;
    control->setEnabled(false);
    control->setToolTip(QStringLiteral("Défini par l'administrateur"));
    if (std::find(m_enforcedControls.begin(), m_enforcedControls.end(), control) == m_enforcedControls.end())
        m_enforcedControls.push_back(control);
    return true;
}

void Frm_Main::keepEnforcedDisabled() {
    for (QWidget* control : m_enforcedControls) control->setEnabled(false);
}

void Frm_Main::journalPolicyNotUnderstood(std::string_view section, std::string_view key, const std::string& value,
                                          std::string_view shown) {
    // A tool's own setting names its tool.
    std::optional<int> tool;
    const auto setting = storedSetting(section, key);
    if (setting && setting->count == ToolCount && setting->key.empty())
        for (int i = 0; i < ToolCount; ++i)
            if (key == indexKey(i)) tool = i;
    m_journal->record({JournalEvent::PolicyValueNotUnderstood,
                       tool,
                       {{"section", std::string(section)},
                        {"clé", std::string(key)},
                        {"valeur", value},
                        {"montré", std::string(shown)}}});
}

void Frm_Main::loadBox(QCheckBox* box, std::string_view section, std::string_view key, std::string_view defaultValue) {
    const std::string stored = m_settings.GetSetting(section, key, defaultValue);
    auto value = readInteger16(stored);
    const auto fits = [&value] { return value && *value >= 0 && *value <= 2; };
    // The administrator's value no box can hold: the default is shown.
    if (showEnforced(box, section, key) && !fits()) {
        journalPolicyNotUnderstood(section, key, stored, defaultValue);
        value = readInteger16(defaultValue);
    }
    // A box holds 0, 1 or 2; any other value is skipped and the box stays.
    if (fits()) setBoxValue(box, *value);
}

void Frm_Main::loadList(QComboBox* list, std::string_view section, std::string_view key,
                        std::string_view defaultValue) {
    const std::string stored = m_settings.GetSetting(section, key, defaultValue);
    auto value = readInteger16(stored);
    const auto fits = [&value, list] { return value && *value >= -1 && *value < list->count(); };
    if (showEnforced(list, section, key) && !fits()) {
        journalPolicyNotUnderstood(section, key, stored, defaultValue);
        value = readInteger16(defaultValue);
    }
    // -1 clears the selection; an index beyond the list is skipped. Only a
    // different value is applied: the list announces even a "change" from no
    // selection to no selection, and its reaction would store "-1" over the
    // text it was read from.
    if (fits() && *value != list->currentIndex()) list->setCurrentIndex(*value);
}

void Frm_Main::loadText(QLineEdit* field, std::string_view section, std::string_view key,
                        std::string_view defaultValue) {
    std::string stored = m_settings.GetSetting(section, key, defaultValue);
    const auto fits = [field](const std::string& text) {
        const QString value = qtext(text);
        return value.size() <= field->maxLength() && value.toStdString() == text;
    };
    if (showEnforced(field, section, key) && !fits(stored)) {
        journalPolicyNotUnderstood(section, key, stored, defaultValue);
        stored = std::string(defaultValue);
    }
    // A text the field cannot hold as it is (longer than the field takes, or
    // bytes that are not text) is skipped rather than cut or altered: the
    // field's reaction would otherwise store the altered text over it.
    if (!fits(stored)) return;
    field->setText(qtext(stored));
}

void Frm_Main::Form_Load(const std::string& commandLine) {
    // The saves of loading's reactions never copy a preset into the user's
    // store (nor anything the policy sets).
    const SettingsLoading loading(m_settings);
    ToolSupervision& s = *m_supervision;
    // Before any verification: the first window found arms its tool's watch.
    m_endNotifiers = makeEndNotifiers ? makeEndNotifiers() : nullptr;
    s.setEndNotifiers(m_endNotifiers.get());
    // 1. Caption with the version stamp.
    m_versionText = VersionText(m_platform.ownVersion());
    setWindowTitle(qtext(windowCaption(m_versionText)));
    // 2, 3. The launch delays count from here.
    s.LaunchStartTick = m_tickCount();
    s.LaunchEnabled = false;
    s.LaunchFinished = false;
    // 4. The tool table is fixed (toolTable()).
    // 5. The per-tool settings, one pass per kind over the thirty tools.
    for (int i = 0; i < ToolCount; ++i)
        loadBox(CheckLaunchWindows[static_cast<std::size_t>(i)], "Launch", indexKey(i), "0");
    for (int i = 0; i < ToolCount; ++i)
        loadBox(CheckMinimiser[static_cast<std::size_t>(i)], "Minimiser", indexKey(i), "0");
    for (int i = 0; i < ToolCount; ++i)
        loadText(TexteTemporisation[static_cast<std::size_t>(i)], "Tempo", indexKey(i), "10000");
    for (int i = 0; i < ToolCount; ++i) loadBox(CheckCheck[static_cast<std::size_t>(i)], "Check", indexKey(i), "0");
    // Read only: a tool whose restart on freeze was never chosen keeps no
    // key, and a value that means nothing is journaled, never rewritten.
    for (int i = 0; i < ToolCount; ++i) {
        const std::string stored = m_settings.GetSetting("Frozen", indexKey(i), "");
        const FreezeRestartSetting choice = freezeRestartSetting(stored);
        m_freezeRestart[static_cast<std::size_t>(i)] = choice.minutes;
        // Enforced, the choice is shown in the name's menu, which cannot
        // change it (freezeMenu); a value that is no choice reads "jamais".
        if (!choice.understood && m_settings.isEnforced("Frozen", indexKey(i)))
            journalPolicyNotUnderstood("Frozen", indexKey(i), stored, freezeRestartText(0));
        else if (!choice.understood)
            m_journal->record({JournalEvent::SettingNotUnderstood,
                               i,
                               {{"réglage", "Relancer s'il ne répond plus depuis"},
                                {"section", "Frozen"},
                                {"clé", indexKey(i)},
                                {"valeur", stored}}});
    }
    for (int i = 0; i < ToolCount; ++i)
        loadText(TexteArguments[static_cast<std::size_t>(i)], "Arguments", indexKey(i), defaultArguments(i));
    std::vector<std::string> periods;
    for (int k = 0; k < PeriodCount; ++k) periods.emplace_back(periodItemText(k));
    for (int i = 0; i < ToolCount; ++i) {
        QComboBox* list = ComboFrequenceVerification[static_cast<std::size_t>(i)];
        fillList(list, periods);
        loadList(list, "Freq", indexKey(i), "1");
        if (const auto period = periodSeconds(list->currentIndex()))
            s.NextCheck[static_cast<std::size_t>(i)] = m_platform.localNow() + std::chrono::seconds{*period};
        s.showNextCheck(i);
    }
    // 6, 7, 8. The Scheduler page.
    fillList(ComboSchedulerTiming[0], hourItems());
    fillList(ComboSchedulerTiming[1], quarterItems());
    fillList(ComboSchedulerNoStation, stationItems());
    fillList(ComboSchedulerJ, dayOffsetItems());
    fillList(ComboSchedulerHeure[0], hourItems());
    fillList(ComboSchedulerHeure[1], hourItems());
    for (int i = 0; i < 8; ++i)
        loadBox(CheckSchedulerJour[static_cast<std::size_t>(i)], "CheckSchedulerJour", indexKey(i), "0");
    for (int i = 0; i < 2; ++i)
        loadList(ComboSchedulerTiming[static_cast<std::size_t>(i)], "CheckSchedulerTiming", indexKey(i), "0");
    loadList(ComboSchedulerJ, "CheckSchedulerJ", "Nb", "0");
    loadBox(CheckSchedulerReprogrammer, "CheckSchedulerReprogrammer", "Actif", "1");
    loadBox(CheckSchedulerOptDuree, "CheckSchedulerOptDuree", "Actif", "1");
    loadList(ComboSchedulerNoStation, "CheckSchedulerNoStation", "Index", "0");
    loadList(ComboSchedulerHeure[0], "CheckSchedulerHeure", "Idx_0", "0");
    loadList(ComboSchedulerHeure[1], "CheckSchedulerHeure", "Idx_1", "23");
    m_batch->ProchainBatchScheduler();
    // 9. The Planner page.
    fillList(ComboPlannerTiming[0], hourItems());
    fillList(ComboPlannerTiming[1], quarterItems());
    fillList(ComboPlannerNbJour, dayCountItems());
    fillList(ComboPlannerJ, dayOffsetItems());
    for (int i = 0; i < 8; ++i)
        loadBox(CheckPlannerJour[static_cast<std::size_t>(i)], "CheckPlannerJour", indexKey(i), "0");
    for (int i = 0; i < 2; ++i)
        loadList(ComboPlannerTiming[static_cast<std::size_t>(i)], "CheckPlannerTiming", indexKey(i), "0");
    loadList(ComboPlannerJ, "CheckPlannerJ", "Nb", "0");
    loadBox(CheckPlannerReplanifier, "CheckPlannerReplanifier", "Actif", "1");
    loadList(ComboPlannerNbJour, "CheckPlannerNbJour", "Index", "0");
    m_batch->ProchainBatchPlanner();
    // 10. First page of each tab control in front.
    SftTabsMain->setCurrentIndex(0);
    SftTabsBatch->setCurrentIndex(0);
    // 11, 12. The launch sequence may start; the memory figures appear now.
    s.LaunchEnabled = true;
    startMetrics();
    TimerMemoire_Timer();
    // 13, 14. Shown, then standby or minimised.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    if (hasStandbySwitch(commandLine)) {
        MiseEnVeilleForcee();
        return;
    }
    showMinimized();
}

// Quitting ---------------------------------------------------------------------

void Frm_Main::closeEvent(QCloseEvent* event) {
    // A close that comes from the window system is the operator's, unless
    // the session is being saved; every other close comes from the program.
    // (A close from outside never gets here: the message filter ends
    // Tolvane first.)
    const UnloadMode mode = qApp->isSavingSession() ? UnloadMode::Session
                            : event->spontaneous()  ? UnloadMode::User
                                                    : UnloadMode::Program;
    if (Form_QueryUnload(mode))
        event->ignore();
    else
        event->accept();
}

void Frm_Main::endedWithSession() {
    if (m_closingRecorded) return;
    m_closingRecorded = true;
    m_journal->record({JournalEvent::EndedWithSession, {}, {}});
}

bool Frm_Main::Form_QueryUnload(UnloadMode mode) {
    if (mode != UnloadMode::User) return false;
    if (!askQuit()) return true;
    m_closingRecorded = true;
    m_journal->record({JournalEvent::EndedByOperator, {}, {{"par", "case de fermeture"}}});
    return false;
}

void Frm_Main::CommandQuitter_Click() {
    if (!askQuit()) return;
    m_journal->record({JournalEvent::EndedByOperator, {}, {{"par", "bouton « Quitter... »"}}});
    EndTolvane(0);
}

void Frm_Main::endOnSystemRequest(const std::string& asker) {
    if (!m_closingRecorded) {
        m_closingRecorded = true;
        m_journal->record({JournalEvent::EndedBySignal, {}, {{"par", asker}}});
    }
    EndTolvane(0);
}

bool Frm_Main::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto label = std::find(Label.begin(), Label.end(), watched);
        if (label != Label.end()) {
            const int tool = static_cast<int>(label - Label.begin());
            // A looping tool says so first, above today's restarts.
            std::string tip = restartTooltip(m_journal->restartsToday(tool));
            if (const auto loop = m_supervision->health().loopTooltip(tool)) tip = *loop + "\n" + tip;
            if (const auto frozen = m_supervision->health().freezeTooltip(tool)) tip = *frozen + "\n" + tip;
            (*label)->setToolTip(QString::fromStdString(tip));
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Frm_Main::EndTolvane(int exitCode) {
    // No ghost icon is ever left in the notification area.
    if (m_sysTray) m_sysTray->SysTrayRemoveIcon();
    endProcess(exitCode);
}

// Standby ------------------------------------------------------------------------

void Frm_Main::CommandVeille_Click() { MiseEnVeilleForcee(); }

void Frm_Main::MiseEnVeilleForcee() {
    if (!m_sysTray) {
        m_sysTray = std::make_unique<FrmSysTray>(makeTrayHost());
        m_sysTray->onAreaChanged = [this](bool present) {
            m_journal->record(
                {present ? JournalEvent::NotificationAreaBack : JournalEvent::NotificationAreaGone, {}, {}});
        };
        if (makeAreaWatch) m_sysTray->watchArea(makeAreaWatch());
    }
    m_sysTray->MinimizeToTray(this, true, QStringLiteral("Vantorix: Tools Launcher"));
}

void Frm_Main::showOnRequest() {
    if (m_sysTray && m_sysTray->inStandby()) {
        m_sysTray->MnuAfficher_Click();
        return;
    }
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

// Timers -------------------------------------------------------------------------

void Frm_Main::TimerLaunch_Timer() {
    if (!m_supervision->TimerLaunch_Timer()) TimerLaunch->stop();
}

void Frm_Main::TimerCheck_Timer() {
    // A Tolvane that stopped ticking shows in the monitoring as a heartbeat
    // that no longer moves.
    if (m_metricsWriter) m_heartbeatMs = QDateTime::currentMSecsSinceEpoch();
    m_supervision->TimerCheck_Timer();
}

void Frm_Main::TimerMemoire_Timer() {
    m_supervision->TimerMemoire_Timer();
    if (m_metricsWriter) writeMetrics();
}

// Metrics ------------------------------------------------------------------------

void Frm_Main::startMetrics() {
    m_metricsFolder = qtext(trimSpaces(m_settings.GetSetting("Metrics", "Folder", "")));
    if (m_metricsFolder.isEmpty()) return;
    m_startedUnix = QDateTime::currentSecsSinceEpoch();
    m_heartbeatMs = QDateTime::currentMSecsSinceEpoch();
    m_supervision->AskEveryWindow = true;
    m_metricsWriter = std::make_unique<MetricsWriter>();
    m_metricsWriter->done = [this](bool written, const QString& file, const QString& reason) {
        switch (metricsAlert(m_metricsFailing, written)) {
            case MetricsAlert::None: return;
            case MetricsAlert::Unwritable:
                m_journal->record({JournalEvent::MetricsFileUnwritable,
                                   {},
                                   {{"fichier", file.toStdString()}, {"raison", reason.toStdString()}}});
                return;
            case MetricsAlert::WritableAgain:
                m_journal->record({JournalEvent::MetricsFileWritableAgain, {}, {{"fichier", file.toStdString()}}});
                return;
        }
    };
}

void Frm_Main::writeMetrics() {
    MetricsContext context;
    context.version = m_versionText;
    context.startedUnix = m_startedUnix;
    context.heartbeatUnixMs = m_heartbeatMs;
    // Through the system's own rules for the local time, so an instant
    // across a change of summer time converts right.
    context.unixSeconds = [](std::chrono::local_seconds at) {
        const auto day = std::chrono::floor<std::chrono::days>(at);
        const std::chrono::year_month_day date{day};
        const std::chrono::hh_mm_ss time{at - day};
        return QDateTime(QDate(int(date.year()), int(unsigned(date.month())), int(unsigned(date.day()))),
                         QTime(int(time.hours().count()), int(time.minutes().count()), int(time.seconds().count())))
            .toSecsSinceEpoch();
    };
    // A write still running (a slow folder) makes this one be skipped.
    m_metricsWriter->write(m_metricsFolder,
                           prometheusText(gatherMetrics(*m_supervision, *this, *m_batch, *this, context)));
}

void Frm_Main::Timer30s_Timer() {
    if (m_batch->Timer30s_Timer() == BatchPages::TickOutcome::EndForRestart) EndTolvane(0);
    // Here, not on the 250 ms tick: the journal's chore costs nothing while
    // nothing happens.
    if (m_journalChore.due(m_platform.localNow()) && m_removeExpiredJournal) m_removeExpiredJournal();
}

// ToolRowsView -------------------------------------------------------------------

int Frm_Main::launchValue(int tool) { return boxValue(CheckLaunchWindows.at(static_cast<std::size_t>(tool))); }
int Frm_Main::minimiserValue(int tool) { return boxValue(CheckMinimiser.at(static_cast<std::size_t>(tool))); }
int Frm_Main::checkValue(int tool) { return boxValue(CheckCheck.at(static_cast<std::size_t>(tool))); }
std::string Frm_Main::tempoText(int tool) {
    return text(TexteTemporisation.at(static_cast<std::size_t>(tool))->text());
}
std::string Frm_Main::argumentsText(int tool) {
    return text(TexteArguments.at(static_cast<std::size_t>(tool))->text());
}
int Frm_Main::periodIndex(int tool) { return listIndex(ComboFrequenceVerification.at(static_cast<std::size_t>(tool))); }
int Frm_Main::freezeRestartMinutes(int tool) { return m_freezeRestart.at(static_cast<std::size_t>(tool)); }

std::unique_ptr<QMenu> Frm_Main::freezeMenu(int tool) {
    const auto index = static_cast<std::size_t>(tool);
    auto menu = std::make_unique<QMenu>(this);
    QMenu* restart = menu->addMenu(QStringLiteral("Relancer s'il ne répond plus depuis"));
    // One choice among five: drawn as such.
    auto* choices = new QActionGroup(restart);
    // The administrator's choice is shown, greyed: no action changes it.
    const bool enforced = m_settings.isEnforced("Frozen", indexKey(tool));
    restart->setToolTipsVisible(enforced);
    for (const int minutes : FreezeRestartChoices) {
        QAction* action = restart->addAction(qtext(freezeRestartText(minutes)));
        action->setCheckable(true);
        choices->addAction(action);
        action->setChecked(minutes == m_freezeRestart[index]);
        if (enforced) {
            action->setEnabled(false);
            action->setToolTip(QStringLiteral("Défini par l'administrateur"));
        }
        connect(action, &QAction::triggered, this, [this, tool, index, minutes] {
            // Only a change is stored (and journaled); an enforced choice
            // never changes.
            if (m_freezeRestart[index] == minutes || m_settings.isEnforced("Frozen", indexKey(tool))) return;
            m_freezeRestart[index] = minutes;
            m_supervision->FreezeRestart_Click(tool);
        });
    }
    return menu;
}

void Frm_Main::showFreezeMenu(int tool, const QPoint& at) {
    freezeMenu(tool)->exec(Label.at(static_cast<std::size_t>(tool))->mapToGlobal(at));
}

void Frm_Main::setFrozen(int tool, bool frozen) {
    // The name in a warning colour; the layout does not move.
    Label.at(static_cast<std::size_t>(tool))->setStyleSheet(frozen ? QStringLiteral("color: #c04000;") : QString());
}

void Frm_Main::setNextCheckText(int tool, const std::string& t) {
    QLabel* label = LabelNextCheck.at(static_cast<std::size_t>(tool));
    const QString value = qtext(t);
    if (label->text() != value) label->setText(value);
}

void Frm_Main::setVerificationControlsVisible(int tool, bool visible) {
    const auto at = static_cast<std::size_t>(tool);
    ComboFrequenceVerification.at(at)->setVisible(visible);
    LabelNextCheck.at(at)->setVisible(visible);
    CommandImportNow.at(at)->setVisible(visible);
}

void Frm_Main::setMemoryText(int tool, const std::string& t) {
    QLineEdit* box = TexteMemoire.at(static_cast<std::size_t>(tool));
    const QString value = qtext(t);
    if (box->text() != value) box->setText(value);
}

void Frm_Main::setOwnMemoryText(const std::string& t) {
    const QString value = qtext(t);
    if (LabelAffichageMemory->text() != value) LabelAffichageMemory->setText(value);
}
void Frm_Main::setClockText(const std::string& t) {
    m_clockText = qtext(t);
    // A label nobody sees is left alone: setting it costs a layout pass each
    // second, a good share of an idle Tolvane's work while it sits in the
    // tray.
    if (isVisible() && !isMinimized()) showClock();
}

void Frm_Main::showClock() {
    if (LabelTiming->text() != m_clockText && !m_clockText.isEmpty()) LabelTiming->setText(m_clockText);
}

void Frm_Main::showEvent(QShowEvent* event) {
    showClock();
    QWidget::showEvent(event);
}

void Frm_Main::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && !isMinimized()) showClock();
    QWidget::changeEvent(event);
}

// BatchPagesView -----------------------------------------------------------------

int Frm_Main::schedulerDay(int element) { return boxValue(CheckSchedulerJour.at(static_cast<std::size_t>(element))); }
int Frm_Main::schedulerTiming(int which) { return listIndex(ComboSchedulerTiming.at(static_cast<std::size_t>(which))); }
int Frm_Main::schedulerHeure(int which) { return listIndex(ComboSchedulerHeure.at(static_cast<std::size_t>(which))); }
int Frm_Main::schedulerStation() { return listIndex(ComboSchedulerNoStation); }
int Frm_Main::schedulerDayOffset() { return listIndex(ComboSchedulerJ); }
int Frm_Main::schedulerReprogrammer() { return boxValue(CheckSchedulerReprogrammer); }
int Frm_Main::schedulerOptDuree() { return boxValue(CheckSchedulerOptDuree); }

void Frm_Main::setSchedulerPageActive(bool active) {
    for (std::size_t i = 1; i < CheckSchedulerJour.size(); ++i) CheckSchedulerJour[i]->setEnabled(active);
    for (QLabel* label : LabelScheduler) label->setEnabled(active);
    for (QComboBox* list : ComboSchedulerTiming) list->setEnabled(active);
    for (QComboBox* list : ComboSchedulerHeure) list->setEnabled(active);
    for (QWidget* w : std::initializer_list<QWidget*>{ComboSchedulerJ, CheckSchedulerReprogrammer,
                                                      CheckSchedulerOptDuree, ComboSchedulerNoStation,
                                                      CommandSchedulerTest, PictureScheduler, FrameScheduler})
        w->setEnabled(active);
    QPalette palette = PictureScheduler->palette();
    palette.setColor(QPalette::Window, PictureScheduler->isEnabled() ? QColor(Qt::black) : DisabledPanel);
    PictureScheduler->setPalette(palette);
    // A control the administrator's policy sets stays disabled.
    keepEnforcedDisabled();
}

void Frm_Main::setSchedulerNextText(const std::string& t) { LabelScheduler[2]->setText(qtext(t)); }

int Frm_Main::plannerDay(int element) { return boxValue(CheckPlannerJour.at(static_cast<std::size_t>(element))); }
int Frm_Main::plannerTiming(int which) { return listIndex(ComboPlannerTiming.at(static_cast<std::size_t>(which))); }
int Frm_Main::plannerDayOffset() { return listIndex(ComboPlannerJ); }
int Frm_Main::plannerDayCount() { return listIndex(ComboPlannerNbJour); }
std::string Frm_Main::plannerDayCountText() { return text(ComboPlannerNbJour->currentText()); }
int Frm_Main::plannerReplanifier() { return boxValue(CheckPlannerReplanifier); }

void Frm_Main::setPlannerPageActive(bool active) {
    for (std::size_t i = 1; i < CheckPlannerJour.size(); ++i) CheckPlannerJour[i]->setEnabled(active);
    for (QLabel* label : LabelPlanner) label->setEnabled(active);
    for (QComboBox* list : ComboPlannerTiming) list->setEnabled(active);
    for (QWidget* w : std::initializer_list<QWidget*>{ComboPlannerJ, CheckPlannerReplanifier, ComboPlannerNbJour,
                                                      CommandPlannerTest, PicturePlanner, FramePlanner})
        w->setEnabled(active);
    QPalette palette = PicturePlanner->palette();
    palette.setColor(QPalette::Window, PicturePlanner->isEnabled() ? QColor(Qt::black) : DisabledPanel);
    PicturePlanner->setPalette(palette);
    keepEnforcedDisabled();
}

void Frm_Main::setPlannerNextText(const std::string& t) { LabelPlanner[2]->setText(qtext(t)); }

std::string Frm_Main::longDate(std::chrono::year_month_day date) {
    const QDate d(static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
                  static_cast<int>(static_cast<unsigned>(date.day())));
    return text(QLocale::system().toString(d, QLocale::LongFormat));
}

}  // namespace tolvane
