// The main window over the fake platform and an in-memory store: what
// loading stores, what it shows, and how edits are written.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>

#include "platform/fake/FakePlatform.h"
#include "supervisor/settings/SettingsStore.h"
#include "supervisor/settings/SettingsTable.h"
#include "supervisor/ui/Frm_Main.h"
#include "supervisor/ui/WindowFace.h"

using namespace tolvane;
using namespace std::chrono;

namespace {

using Key = MemorySettingsStore::Key;

// What the window journals, in order.
struct RecordedJournal final : JournalSink {
    std::vector<JournalEntry> entries;
    void record(const JournalEntry& e) override { entries.push_back(e); }
    int count(JournalEvent event) const {
        return int(std::count_if(entries.begin(), entries.end(), [&](const auto& e) { return e.event == event; }));
    }
};

// A notification area the test switches on and off.
struct FakeTray final : TrayIconHost {
    bool* area;
    int* adds;
    bool shown = false;
    QString tip;
    FakeTray(bool* a, int* n) : area(a), adds(n) {}
    bool areaAvailable() override { return *area; }
    void add(const QIcon&, const QString& t) override {
        shown = true;
        tip = t;
        ++*adds;
    }
    void remove() override { shown = false; }
    bool added() const override { return shown; }
};

struct Harness {
    platform::FakePlatform platform;
    MemorySettingsStore store;
    std::unique_ptr<Frm_Main> window;

    Harness() {
        // Tuesday 8 December 2026, 10:00:00.
        platform.now = local_days{year{2026} / December / 8} + hours{10};
    }
    void set(const std::string& section, const std::string& key, const std::string& value) {
        store.values[{section, key}] = value;
    }
    bool trayArea = true;
    int trayAdds = 0;
    FakeTray* tray = nullptr;

    JournalSink* journal = nullptr;  // set before loading when a test reads what loading journals

    Frm_Main& load(const std::string& commandLine = {}) {
        window = std::make_unique<Frm_Main>(platform, store);
        window->endProcess = [](int) {};
        if (journal) window->setJournal(*journal, {});
        window->makeTrayHost = [this] {
            auto t = std::make_unique<FakeTray>(&trayArea, &trayAdds);
            tray = t.get();
            return t;
        };
        window->Form_Initialize();
        window->Form_Load(commandLine);
        return *window;
    }
    std::string value(const std::string& section, const std::string& key) const {
        const auto it = store.values.find({section, key});
        return it == store.values.end() ? std::string("<absent>") : it->second;
    }
};

std::string idx(int i) { return "Idx_" + std::to_string(i); }

// Where a label's text is drawn, in its parent's coordinates.
QRect drawnText(const QLabel* label) {
    const int flags = static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    return QFontMetrics(label->font())
        .boundingRect(label->contentsRect().translated(label->pos()), flags, label->text());
}

}  // namespace

class FrmMainTest : public QObject {
    Q_OBJECT

private slots:
    void firstRunStoresExactlyTheChangedDefaults() {
        Harness h;
        h.load();
        std::set<Key> expected;
        for (int i = 0; i < ToolCount; ++i) {
            if (i != 4) expected.insert({"Arguments", idx(i)});
            expected.insert({"Freq", idx(i)});
        }
        for (const char* k : {"Idx_0", "Idx_1"}) {
            expected.insert({"CheckSchedulerTiming", k});
            expected.insert({"CheckSchedulerHeure", k});
            expected.insert({"CheckPlannerTiming", k});
        }
        expected.insert({"CheckSchedulerJ", "Nb"});
        expected.insert({"CheckSchedulerReprogrammer", "Actif"});
        expected.insert({"CheckSchedulerOptDuree", "Actif"});
        expected.insert({"CheckSchedulerNoStation", "Index"});
        expected.insert({"CheckPlannerJ", "Nb"});
        expected.insert({"CheckPlannerReplanifier", "Actif"});
        expected.insert({"CheckPlannerNbJour", "Index"});

        std::set<Key> actual;
        for (const auto& [key, v] : h.store.values) actual.insert(key);
        QCOMPARE(actual, expected);

        QCOMPARE(h.value("Arguments", "Idx_7"), std::string("/NoBase=0"));
        QCOMPARE(h.value("Freq", "Idx_12"), std::string("1"));
        QCOMPARE(h.value("CheckSchedulerHeure", "Idx_1"), std::string("23"));
        QCOMPARE(h.value("CheckSchedulerHeure", "Idx_0"), std::string("0"));
        QCOMPARE(h.value("CheckSchedulerReprogrammer", "Actif"), std::string("1"));
    }

    // Every value an edit of the window stores is one the settings table
    // knows, and every setting of the table is stored by some control: the
    // table is what presets, policies and the policy template address.
    void everyEditStoresASettingOfTheTable() {
        Harness h;
        Frm_Main& w = h.load();
        h.store.writes.clear();
        for (QCheckBox* box : w.findChildren<QCheckBox*>()) {
            box->setEnabled(true);
            box->click();
        }
        for (QComboBox* list : w.findChildren<QComboBox*>()) {
            list->setEnabled(true);
            list->setCurrentIndex(list->currentIndex() == 0 ? 1 : 0);
        }
        for (QLineEdit* field : w.findChildren<QLineEdit*>())
            if (!field->isReadOnly()) field->setText(QStringLiteral("7"));
        for (int i = 0; i < ToolCount; ++i) w.supervision().FreezeRestart_Click(i);

        std::set<Key> written;
        for (const auto& [key, value] : h.store.writes) {
            if (!storedSetting(key.first, key.second))
                QFAIL(("not in the table: " + key.first + "/" + key.second).c_str());
            written.insert(key);
        }
        for (const auto& setting : storedSettings()) {
            if (setting.kind == SettingKind::Folder) continue;  // not on the window
            for (const auto& key : storedKeys(setting))
                if (!written.count({std::string(setting.section), key}))
                    QFAIL(("never stored: " + std::string(setting.section) + "/" + key).c_str());
        }
        // What is not a setting: another section, a key beyond the rows.
        QVERIFY(!storedSetting("Launch", "Idx_30"));
        QVERIFY(!storedSetting("Launch", "Idx_01"));
        QVERIFY(!storedSetting("Software", "InstallDir"));
    }

    void firstRunShowsTheDefaults() {
        Harness h;
        Frm_Main& w = h.load();
        for (int i = 0; i < ToolCount; ++i) {
            const auto at = static_cast<std::size_t>(i);
            QCOMPARE(boxValue(w.CheckLaunchWindows[at]), 0);
            QCOMPARE(boxValue(w.CheckMinimiser[at]), 0);
            QCOMPARE(boxValue(w.CheckCheck[at]), 0);
            QCOMPARE(w.TexteTemporisation[at]->text(), QStringLiteral("10000"));
            QCOMPARE(w.TexteArguments[at]->text(), i == 4 ? QString() : QStringLiteral("/NoBase=0"));
            QCOMPARE(w.ComboFrequenceVerification[at]->currentText(), QStringLiteral("05 Min"));
            QVERIFY(w.ComboFrequenceVerification[at]->isHidden());
            QVERIFY(w.LabelNextCheck[at]->isHidden());
            QVERIFY(w.CommandImportNow[at]->isHidden());
            // Next verification five minutes after loading.
            QCOMPARE(w.LabelNextCheck[at]->text(), QStringLiteral("10:05:00"));
        }
        QCOMPARE(w.ComboSchedulerTiming[0]->currentText(), QStringLiteral("  00H"));
        QCOMPARE(w.ComboSchedulerTiming[1]->currentText(), QStringLiteral(" 00"));
        QCOMPARE(w.ComboSchedulerJ->currentText(), QStringLiteral(" 1"));
        QCOMPARE(w.ComboSchedulerNoStation->currentText(), QStringLiteral("  01"));
        QCOMPARE(w.ComboSchedulerHeure[0]->currentText(), QStringLiteral("  00H"));
        QCOMPARE(w.ComboSchedulerHeure[1]->currentText(), QStringLiteral("  23H"));
        QCOMPARE(w.ComboPlannerNbJour->currentText(), QStringLiteral("  001"));
        QCOMPARE(w.ComboPlannerJ->currentText(), QStringLiteral(" 1"));
        QCOMPARE(boxValue(w.CheckSchedulerReprogrammer), 1);
        QCOMPARE(boxValue(w.CheckSchedulerOptDuree), 1);
        QCOMPARE(boxValue(w.CheckPlannerReplanifier), 1);
        for (int d = 0; d < 8; ++d) {
            QCOMPARE(boxValue(w.CheckSchedulerJour[static_cast<std::size_t>(d)]), 0);
            QCOMPARE(boxValue(w.CheckPlannerJour[static_cast<std::size_t>(d)]), 0);
        }
        // Inactive pages: only "Actif" and the frame are usable, no instant.
        QVERIFY(w.CheckSchedulerJour[0]->isEnabled());
        QVERIFY(!w.CheckSchedulerJour[1]->isEnabled());
        QVERIFY(!w.CommandSchedulerTest->isEnabled());
        QVERIFY(!w.ComboPlannerNbJour->isEnabled());
        QCOMPARE(w.LabelScheduler[2]->text(), QString());
        QVERIFY(!w.batch().Scheduler.armed);
        QCOMPARE(w.SftTabsMain->currentIndex(), 0);
        QCOMPARE(w.SftTabsBatch->currentIndex(), 0);
        QCOMPARE(w.windowTitle(), QStringLiteral("Vantorix: Tools Launcher - 2026.1207.2330"));
        QVERIFY(w.supervision().LaunchEnabled);
        QVERIFY(!w.supervision().LaunchFinished);
    }

    void storedValuesThatDoNotFitAreSkipped() {
        Harness h;
        h.set("Freq", "Idx_3", "9");
        h.set("Check", "Idx_3", "1");
        h.set("Tempo", "Idx_5", "abc");
        h.set("Launch", "Idx_6", "1.5");
        h.set("Launch", "Idx_7", "0.5");
        h.set("Minimiser", "Idx_8", "3");
        h.set("CheckSchedulerNoStation", "Index", "10");
        h.set("CheckPlannerNbJour", "Index", "30");
        Frm_Main& w = h.load();

        QCOMPARE(w.ComboFrequenceVerification[3]->currentIndex(), -1);
        QCOMPARE(w.LabelNextCheck[3]->text(), QStringLiteral("00:00:00"));
        QVERIFY(!w.ComboFrequenceVerification[3]->isHidden());
        QCOMPARE(h.value("Freq", "Idx_3"), std::string("9"));  // never rewritten

        QCOMPARE(w.TexteTemporisation[5]->text(), QStringLiteral("abc"));
        QCOMPARE(boxValue(w.CheckLaunchWindows[6]), 2);  // 1.5 reads 2 (greyed)
        QCOMPARE(boxValue(w.CheckLaunchWindows[7]), 0);  // 0.5 reads 0
        QCOMPARE(boxValue(w.CheckMinimiser[8]), 0);
        QCOMPARE(h.value("Minimiser", "Idx_8"), std::string("3"));
        QCOMPARE(w.ComboSchedulerNoStation->currentIndex(), -1);
        QCOMPARE(w.ComboPlannerNbJour->currentIndex(), -1);
        QCOMPARE(h.value("CheckSchedulerNoStation", "Index"), std::string("10"));
    }

    void storedActivePageShowsTheNextInstant() {
        Harness h;
        h.set("CheckSchedulerJour", "Idx_0", "1");
        Frm_Main& w = h.load();
        QVERIFY(w.CheckSchedulerJour[1]->isEnabled());
        QVERIFY(w.CommandSchedulerTest->isEnabled());
        QCOMPARE(w.LabelScheduler[2]->text(), QString());  // no day ticked yet
        QVERIFY(!w.batch().Scheduler.armed);

        Harness h2;
        h2.set("CheckSchedulerJour", "Idx_0", "1");
        h2.set("CheckSchedulerJour", "Idx_4", "1");  // Thursday
        h2.set("CheckSchedulerTiming", "Idx_0", "6");
        h2.set("CheckSchedulerTiming", "Idx_1", "1");
        Frm_Main& w2 = h2.load();
        const QString date = QLocale::system().toString(QDate(2026, 12, 10), QLocale::LongFormat);
        QCOMPARE(w2.LabelScheduler[2]->text(), date + QStringLiteral(" 06h 15"));
        QVERIFY(w2.batch().Scheduler.armed);
    }

    void unticingActifDisablesThePage() {
        Harness h;
        h.set("CheckPlannerJour", "Idx_0", "1");
        h.set("CheckPlannerJour", "Idx_2", "1");
        Frm_Main& w = h.load();
        QVERIFY(w.batch().Planner.armed);
        QVERIFY(!w.LabelPlanner[2]->text().isEmpty());
        QTest::mouseClick(w.CheckPlannerJour[0], Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(boxValue(w.CheckPlannerJour[0]), 0);
        QCOMPARE(h.value("CheckPlannerJour", "Idx_0"), std::string("0"));
        QVERIFY(!w.CheckPlannerJour[2]->isEnabled());
        QVERIFY(!w.CommandPlannerTest->isEnabled());
        QVERIFY(!w.batch().Planner.armed);
        QCOMPARE(w.LabelPlanner[2]->text(), QString());
        QVERIFY(w.CheckPlannerJour[0]->isEnabled());
    }

    void typingADelayWritesEveryKeystroke() {
        Harness h;
        Frm_Main& w = h.load();
        h.store.writes.clear();
        QLineEdit* delay = w.TexteTemporisation[0];
        delay->clear();
        QTest::keyClicks(delay, QStringLiteral("15000"));
        std::vector<std::string> written;
        for (const auto& [key, v] : h.store.writes)
            if (key == Key{"Tempo", "Idx_0"}) written.push_back(v);
        const std::vector<std::string> expected{"", "1", "15", "150", "1500", "15000"};
        QCOMPARE(written, expected);
    }

    void verificationBoxShowsTheRowControlsAndStores() {
        Harness h;
        Frm_Main& w = h.load();
        QTest::mouseClick(w.CheckCheck[12], Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(h.value("Check", "Idx_12"), std::string("1"));
        QVERIFY(!w.ComboFrequenceVerification[12]->isHidden());
        QVERIFY(!w.LabelNextCheck[12]->isHidden());
        QVERIFY(!w.CommandImportNow[12]->isHidden());
        QVERIFY(w.ComboFrequenceVerification[11]->isHidden());

        // Choosing "20 Min" restarts the countdown from now and stores 3.
        h.platform.now += minutes{1};
        w.ComboFrequenceVerification[12]->setCurrentIndex(3);
        QCOMPARE(h.value("Freq", "Idx_12"), std::string("3"));
        QCOMPARE(w.LabelNextCheck[12]->text(), QStringLiteral("10:21:00"));

        QTest::mouseClick(w.CheckCheck[12], Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(h.value("Check", "Idx_12"), std::string("0"));
        QVERIFY(w.ComboFrequenceVerification[12]->isHidden());
    }

    void storedVerificationShowsItsControlsAtLoad() {
        Harness h;
        h.set("Check", "Idx_20", "1");
        h.set("Freq", "Idx_20", "0");
        Frm_Main& w = h.load();
        QVERIFY(!w.ComboFrequenceVerification[20]->isHidden());
        QCOMPARE(w.LabelNextCheck[20]->text(), QStringLiteral("10:01:00"));
        QCOMPARE(h.value("Check", "Idx_20"), std::string("1"));
    }

    void greyedBoxClickTicksIt() {
        Harness h;
        h.set("Launch", "Idx_1", "2");
        Frm_Main& w = h.load();
        QCOMPARE(boxValue(w.CheckLaunchWindows[1]), 2);
        QTest::mouseClick(w.CheckLaunchWindows[1], Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(boxValue(w.CheckLaunchWindows[1]), 1);
        QTest::mouseClick(w.CheckLaunchWindows[1], Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(boxValue(w.CheckLaunchWindows[1]), 0);
        QCOMPARE(h.value("Launch", "Idx_1"), std::string("0"));
    }

    void textsThatTheFieldsCannotHoldAreLeftInTheStore() {
        Harness h;
        const std::string huge(100000, 'x');
        h.set("Arguments", "Idx_0", huge);
        h.set("Arguments", "Idx_1",
              std::string("a\xff\xfe"
                          "b"));
        Frm_Main& w = h.load();
        QCOMPARE(w.TexteArguments[0]->text(), QString());
        QCOMPARE(h.value("Arguments", "Idx_0"), huge);
        QCOMPARE(h.value("Arguments", "Idx_1"), std::string("a\xff\xfe"
                                                            "b"));
        QCOMPARE(w.TexteArguments[1]->text(), QString());
    }

    void quitQuestion() {
        Harness h;
        Frm_Main& w = h.load();
        int asked = 0;
        bool answer = false;
        w.askQuit = [&] {
            ++asked;
            return answer;
        };
        int ended = -1;
        w.endProcess = [&](int code) { ended = code; };

        // The operator's close asks; No cancels and leaves everything running.
        QVERIFY(w.Form_QueryUnload(Frm_Main::UnloadMode::User));
        QCOMPARE(asked, 1);
        QVERIFY(w.TimerLaunch->isActive() && w.TimerCheck->isActive() && w.TimerMemoire->isActive() &&
                w.Timer30s->isActive());
        // A close by the program or while the session is being saved never
        // asks.
        QVERIFY(!w.Form_QueryUnload(Frm_Main::UnloadMode::Program));
        QVERIFY(!w.Form_QueryUnload(Frm_Main::UnloadMode::Session));
        QCOMPARE(asked, 1);
        {
            // One closing line whatever the order of the steps: the session's
            // end is journaled only by the quit that really ends the process,
            // a close from outside names what asked, and a close while the
            // session was saved (an end later cancelled) journals nothing and
            // leaves the close box asking.
            struct Closings final : JournalSink {
                std::vector<std::string> lines;
                void record(const JournalEntry& entry) override {
                    std::string line = std::to_string(static_cast<int>(entry.event));
                    for (const auto& d : entry.details) line += " " + d.label + "=" + d.value;
                    lines.push_back(line);
                }
            };
            enum Step { SessionClose, OperatorYes, OperatorNo, Outside, Quit };
            const struct {
                std::vector<Step> steps;
                std::vector<std::string> lines;
                int asked;
            } cases[] = {
                {{SessionClose, Quit}, {"1004"}, 0},
                {{SessionClose, OperatorNo, Quit}, {"1004"}, 1},
                {{OperatorYes, Quit}, {"1001 par=case de fermeture"}, 1},
                {{SessionClose, Outside, Quit}, {"1003 par=WM_CLOSE"}, 0},
                {{Outside, Outside}, {"1003 par=WM_CLOSE"}, 0},
            };
            for (const auto& c : cases) {
                Closings journal;
                Harness other;
                Frm_Main& e = other.load();
                e.setJournal(journal, {});
                int questions = 0;
                bool yes = false;
                e.askQuit = [&] {
                    ++questions;
                    return yes;
                };
                e.endProcess = [](int) {};
                for (const Step step : c.steps) {
                    switch (step) {
                        case SessionClose: QVERIFY(!e.Form_QueryUnload(Frm_Main::UnloadMode::Session)); break;
                        case OperatorYes:
                            yes = true;
                            QVERIFY(!e.Form_QueryUnload(Frm_Main::UnloadMode::User));
                            break;
                        case OperatorNo:
                            yes = false;
                            QVERIFY(e.Form_QueryUnload(Frm_Main::UnloadMode::User));
                            break;
                        case Outside: e.endOnSystemRequest("WM_CLOSE"); break;
                        case Quit: e.endedWithSession(); break;
                    }
                }
                QCOMPARE(journal.lines, c.lines);
                QCOMPARE(questions, c.asked);
            }
        }
        answer = true;
        QVERIFY(!w.Form_QueryUnload(Frm_Main::UnloadMode::User));

        // "Quitter...": No does nothing, Yes ends the process at once.
        answer = false;
        w.CommandQuitter->click();
        QCOMPARE(ended, -1);
        answer = true;
        w.CommandQuitter->click();
        QCOMPARE(ended, 0);
    }

    void programCloseDoesNotAsk() {
        Harness h;
        Frm_Main& w = h.load();
        int asked = 0;
        w.askQuit = [&] {
            ++asked;
            return false;
        };
        QVERIFY(w.close());
        QCOMPARE(asked, 0);
    }

    void standbySwitchHidesTheWindowBehindTheIcon() {
        Harness h;
        Frm_Main& w = h.load("/Base=Current /VEILLE=true");
        QVERIFY(w.sysTray());
        QVERIFY(h.tray->shown);
        QCOMPARE(h.tray->tip, QStringLiteral("Vantorix: Tools Launcher"));
        QVERIFY(!w.isVisible());
        QCOMPARE(w.sysTray()->ListeFrm, QStringList{QStringLiteral("Frm_Main")});
        // Standby changes nothing else: every timer goes on.
        QVERIFY(w.TimerLaunch->isActive() && w.TimerCheck->isActive() && w.TimerMemoire->isActive() &&
                w.Timer30s->isActive());
    }

    void withoutTheSwitchTheWindowIsMinimisedWithNoIcon() {
        Harness h;
        Frm_Main& w = h.load("/Base=Current /Veille=Truth");
        QVERIFY(!w.sysTray());
        QVERIFY(w.isVisible());
        QVERIFY(w.isMinimized());
    }

    void afficherBringsTheSamePageBackAndRemovesTheIcon() {
        Harness h;
        Frm_Main& w = h.load();
        w.showNormal();
        w.SftTabsMain->setCurrentIndex(2);
        w.CommandVeille->click();
        QVERIFY(!w.isVisible());
        QVERIFY(h.tray->shown);
        // Entering twice keeps the window's entry, so "Afficher" still
        // brings it back.
        w.MiseEnVeilleForcee();
        QCOMPARE(w.sysTray()->ListeFrm, QStringList{QStringLiteral("Frm_Main")});
        QVERIFY(h.tray->shown);
        w.sysTray()->MnuAfficher_Click();
        QVERIFY(w.isVisible());
        QVERIFY(!h.tray->shown);
        w.hide();

        Harness h2;
        Frm_Main& w2 = h2.load();
        w2.showNormal();
        w2.SftTabsMain->setCurrentIndex(2);
        w2.CommandVeille->click();
        w2.sysTray()->MnuAfficher_Click();
        QVERIFY(w2.isVisible());
        QCOMPARE(w2.SftTabsMain->currentIndex(), 2);
        QVERIFY(w2.sysTray()->ListeFrm.isEmpty());
        QVERIFY(!h2.tray->shown);
        // Restoring with an empty list shows nothing more and keeps the icon off.
        w2.hide();
        w2.sysTray()->RestoreFromTray();
        QVERIFY(!w2.isVisible());
        QVERIFY(!h2.tray->shown);
    }

    void windowsHiddenBeforeStandbyStayHidden() {
        Harness h;
        Frm_Main& w = h.load();
        w.showNormal();
        QWidget other;
        other.setObjectName(QStringLiteral("Other"));
        other.show();
        QWidget hidden;
        hidden.setObjectName(QStringLiteral("Hidden"));
        w.CommandVeille->click();
        QVERIFY(!other.isVisible());
        QVERIFY(w.sysTray()->ListeFrm.contains(QStringLiteral("Other")));
        QVERIFY(!w.sysTray()->ListeFrm.contains(QStringLiteral("Hidden")));
        w.sysTray()->MnuAfficher_Click();
        QVERIFY(w.isVisible());
        QVERIFY(other.isVisible());
        QVERIFY(!hidden.isVisible());
    }

    void noNotificationAreaMinimisesInstead() {
        Harness h;
        h.trayArea = false;
        Frm_Main& w = h.load("/Veille=True");
        // Reachable from the taskbar, and the icon is still asked for.
        QVERIFY(w.isVisible());
        QVERIFY(w.isMinimized());
        QVERIFY(w.sysTray()->ListeFrm.isEmpty());
        QCOMPARE(h.trayAdds, 1);
        w.sysTray()->MnuAfficher_Click();
        QVERIFY(!w.isMinimized());
        QVERIFY(!h.tray->shown);
    }

    void unloadingTheTrayFormInStandbyRestores() {
        Harness h;
        Frm_Main& w = h.load("/Veille=True");
        w.sysTray()->Form_Unload();
        QVERIFY(w.isVisible());
        QVERIFY(!h.tray->shown);
        // In the normal state it does nothing.
        w.showMinimized();
        w.sysTray()->Form_Unload();
        QVERIFY(w.isMinimized());
    }

    void endingRemovesTheIcon() {
        Harness h;
        Frm_Main& w = h.load("/Veille=True");
        int ended = -1;
        w.endProcess = [&](int code) { ended = code; };
        QVERIFY(h.tray->shown);
        w.EndTolvane(0);
        QCOMPARE(ended, 0);
        QVERIFY(!h.tray->shown);
    }

    void timersHaveTheirIntervals() {
        Harness h;
        Frm_Main& w = h.load();
        QCOMPARE(w.TimerLaunch->interval(), 100);
        QCOMPARE(w.TimerCheck->interval(), 250);
        QCOMPARE(w.TimerMemoire->interval(), 15000);
        QCOMPARE(w.Timer30s->interval(), 30000);
        QCOMPARE(w.size(), QSize(734, 414));
    }

    // A bitmap face (Windows' own "MS Sans Serif") only comes in a few sizes
    // and cuts the captions at 125-175 %: its outline twin is taken instead.
    void windowFaceIsAnInstalledScalableOne() {
        const FaceFacts bitmap{true, false}, outline{true, true};
        const struct {
            std::map<std::string, FaceFacts> machine;
            std::string face;
        } cases[] = {
            {{{"MS Sans Serif", bitmap}, {"Microsoft Sans Serif", outline}, {"Arial", outline}},
             "Microsoft Sans Serif"},
            {{{"MS Sans Serif", outline}, {"Microsoft Sans Serif", outline}}, "MS Sans Serif"},
            {{{"MS Sans Serif", bitmap}, {"Liberation Sans", outline}, {"Arial", outline}}, "Liberation Sans"},
            {{{"Microsoft Sans Serif", {false, true}}, {"Arial", outline}}, "Arial"},
            {{{"MS Sans Serif", bitmap}}, ""},
        };
        for (const auto& c : cases) {
            const auto face = windowFaceFamily([&](std::string_view family) {
                const auto it = c.machine.find(std::string(family));
                return it == c.machine.end() ? FaceFacts{} : it->second;
            });
            QCOMPARE(face, c.face);
        }
    }

    // Two headings drawn a word space apart read as one line ("vérification
    // vérification manuelle"); none is cut by its own label either.
    void neighbouringHeadingsStandApart() {
        Harness h;
        Frm_Main& w = h.load();
        for (int p = 0; p < 3; ++p) {
            QList<QLabel*> headings = w.SftTabsMain->widget(p)->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
            headings.removeIf([](QLabel* label) { return !label->wordWrap(); });
            std::sort(headings.begin(), headings.end(), [](QLabel* a, QLabel* b) { return a->x() < b->x(); });
            QCOMPARE(headings.size(), 7);
            for (qsizetype k = 0; k < headings.size(); ++k) {
                const QRect drawn = drawnText(headings[k]);
                QVERIFY(drawn.left() >= headings[k]->x() && drawn.right() <= headings[k]->geometry().right());
                const int twoSpaces = 2 * QFontMetrics(headings[k]->font()).horizontalAdvance(QLatin1Char(' '));
                if (k > 0)
                    QVERIFY2(drawn.left() - drawnText(headings[k - 1]).right() > twoSpaces,
                             qPrintable(headings[k - 1]->text() + QStringLiteral(" | ") + headings[k]->text()));
            }
        }
    }

    // The clock, whole and clear of the window's edge, stands level with the
    // tab captions and above the page frame.
    void clockStandsLevelWithTheTabCaptions() {
        Harness h;
        Frm_Main& w = h.load();
        w.showNormal();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect box = w.LabelTiming->geometry();
        const QRect drawn = drawnText(w.LabelTiming);
        QVERIFY(drawn.left() >= box.left() && drawn.right() <= box.right() && drawn.right() < w.width() - 2);
        QVERIFY(box.top() >= 0);

        const QTabBar* bar = w.SftTabsMain->tabBar();
        QStyleOptionTabWidgetFrame frame;
        frame.initFrom(w.SftTabsMain);
        frame.shape = bar->shape();
        frame.lineWidth = w.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w.SftTabsMain);
        frame.tabBarSize = bar->sizeHint();
        frame.tabBarRect = bar->geometry();
        const QRect pane = w.style()->subElementRect(QStyle::SE_TabWidgetTabPane, &frame, w.SftTabsMain);
        QVERIFY2(box.bottom() < w.SftTabsMain->mapTo(&w, pane.topLeft()).y(), "the clock reaches the page frame");
        const QPoint barAt = bar->mapTo(&w, QPoint(0, 0));
        QVERIFY(std::abs(box.center().y() - bar->tabRect(0).translated(barAt).center().y()) <= 3);
        QVERIFY(box.left() > bar->tabRect(bar->count() - 1).translated(barAt).right());
    }

    void everyToolHasOneRowOnItsPage() {
        Harness h;
        Frm_Main& w = h.load();
        QCOMPARE(w.SftTabsMain->count(), 4);
        const QStringList pages{QStringLiteral("Général"), QStringLiteral("Player"), QStringLiteral("Tools"),
                                QStringLiteral("Batch")};
        for (int p = 0; p < 4; ++p) QCOMPARE(w.SftTabsMain->tabText(p), pages[p]);
        QCOMPARE(w.SftTabsBatch->tabText(0), QStringLiteral("Scheduler"));
        QCOMPARE(w.SftTabsBatch->tabText(1), QStringLiteral("Planner"));
        std::array<int, 3> rows{};
        for (int i = 0; i < ToolCount; ++i) {
            const auto at = static_cast<std::size_t>(i);
            const int page = static_cast<int>(toolTable()[at].page);
            QCOMPARE(w.SftTabsMain->indexOf(w.CheckCheck[at]->parentWidget()), page);
            ++rows[static_cast<std::size_t>(page)];
            QCOMPARE(w.CommandKillProcess[at]->toolTip(), QStringLiteral("Tuer la tâche"));
        }
        QCOMPARE(rows, (std::array<int, 3>{8, 9, 13}));
        // The empty fifth row of "Général": Broadcaster stands two pitches below Planner.
        QCOMPARE(w.Label[4]->y() - w.Label[3]->y(), 2 * 24);
        QCOMPARE(w.Label[12]->text(), QStringLiteral("Player A"));
        QCOMPARE(w.LabelAffichageMemory->toolTip(), QStringLiteral("Mémoire occupée par le programme (en Mo)"));
    }

    void toolNameTellsTodaysRestartsWhenThePointerRestsOnIt() {
        struct Restarts final : JournalSink {
            RestartsToday today{3, std::chrono::hours{3} + std::chrono::minutes{12} + std::chrono::seconds{45}};
            RestartsToday restartsToday(int tool) override { return tool == 5 ? today : RestartsToday{}; }
        } journal;
        Harness h;
        Frm_Main& w = h.load();
        w.setJournal(journal, {});
        const auto tooltipOf = [&](int tool) {
            QHelpEvent hover(QEvent::ToolTip, QPoint(1, 1),
                             w.Label[static_cast<std::size_t>(tool)]->mapToGlobal(QPoint(1, 1)));
            QCoreApplication::sendEvent(w.Label[static_cast<std::size_t>(tool)], &hover);
            return w.Label[static_cast<std::size_t>(tool)]->toolTip();
        };
        QCOMPARE(tooltipOf(5), QStringLiteral("Relancé 3 fois aujourd'hui, la dernière fois à 03:12:45"));
        QCOMPARE(tooltipOf(6), QStringLiteral("Aucune relance aujourd'hui"));
        // Read again at each rest of the pointer, not kept from the first.
        journal.today = {4, std::chrono::hours{4}};
        QCOMPARE(tooltipOf(5), QStringLiteral("Relancé 4 fois aujourd'hui, la dernière fois à 04:00:00"));
        // Started again three times within ten minutes, it loops: said first.
        for (int k = 0; k < 3; ++k) {
            h.platform.tick += 60'000;
            w.supervision().LaunchProcess(5, false, "", {JournalEvent::ToolRestartedByVerification, {}});
        }
        QCOMPARE(tooltipOf(5), QStringLiteral("Redémarre en boucle : 3 fois en 10 min\nRelancé 4 fois aujourd'hui, la "
                                              "dernière fois à 04:00:00"));
        QCOMPARE(tooltipOf(6), QStringLiteral("Aucune relance aujourd'hui"));
    }

    // The metrics folder gone, then back: one line when writing stops, one
    // when it works again, whatever the number of passes in between.
    void metricsFileThatCannotBeWrittenIsJournaledOnceEachWay() {
        RecordedJournal journal;
        QTemporaryDir parent;
        const QString folder = parent.path() + QStringLiteral("/mesures");
        Harness h;
        h.set("Metrics", "Folder", "  " + folder.toStdString() + " ");
        h.journal = &journal;
        Frm_Main& w = h.load();
        QCOMPARE(w.metricsFolder(), folder);
        QTRY_COMPARE(journal.count(JournalEvent::MetricsFileUnwritable), 1);

        QVERIFY(QDir().mkpath(folder));
        QTRY_VERIFY((w.TimerMemoire_Timer(), journal.count(JournalEvent::MetricsFileWritableAgain) == 1));
        QFile file(folder + QStringLiteral("/tolvane.prom"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.contains("tolvane_tool_up{index=\"0\",tool=\"VX8_Library\"} 0"), text.constData());
        QCOMPARE(journal.count(JournalEvent::MetricsFileUnwritable), 1);
    }

    void restartOnFreezeIsReadNeverWrittenAndChosenFromTheNamesMenu() {
        RecordedJournal journal;
        Harness h;
        h.set("Frozen", idx(3), "5");
        h.set("Frozen", idx(4), "7");  // not a choice: never, said once
        h.set("Frozen", idx(5), "0");
        h.journal = &journal;
        Frm_Main& w = h.load();
        QCOMPARE(w.freezeRestartMinutes(3), 5);
        QCOMPARE(w.freezeRestartMinutes(4), 0);
        QCOMPARE(w.freezeRestartMinutes(5), 0);
        QCOMPARE(w.freezeRestartMinutes(6), 0);
        int notUnderstood = 0;
        for (const auto& e : journal.entries) {
            if (e.event != JournalEvent::SettingNotUnderstood) continue;
            ++notUnderstood;
            QVERIFY(e.tool == 4);
        }
        QCOMPARE(notUnderstood, 1);
        for (const auto& [key, value] : h.store.writes) QVERIFY(key.first != "Frozen");
        QCOMPARE(h.value("Frozen", idx(4)), std::string("7"));
        QCOMPARE(h.value("Frozen", idx(6)), std::string("<absent>"));

        // The menu ticks the current choice; a new one is applied and stored.
        const auto menu = w.freezeMenu(3);
        QCOMPARE(menu->actions().size(), 1);
        QMenu* restart = menu->actions().front()->menu();
        QVERIFY(restart);
        QCOMPARE(menu->actions().front()->text(), QStringLiteral("Relancer s'il ne répond plus depuis"));
        QStringList texts, ticked;
        for (QAction* a : restart->actions()) {
            texts << a->text();
            if (a->isChecked()) ticked << a->text();
        }
        QCOMPARE(texts, (QStringList{"jamais", "1 min", "2 min", "5 min", "10 min"}));
        QCOMPARE(ticked, QStringList{"5 min"});
        restart->actions().at(0)->trigger();
        QCOMPARE(w.freezeRestartMinutes(3), 0);
        QCOMPARE(h.value("Frozen", idx(3)), std::string("0"));
        w.freezeMenu(6)->actions().front()->menu()->actions().at(4)->trigger();
        QCOMPARE(h.value("Frozen", idx(6)), std::string("10"));
        const std::size_t writes = h.store.writes.size();
        w.freezeMenu(6)->actions().front()->menu()->actions().at(4)->trigger();  // the same again: nothing
        QCOMPARE(h.store.writes.size(), writes);

        // A frozen tool's name is drawn in a warning colour, and back.
        const QColor normal = w.Label[7]->palette().color(QPalette::WindowText);
        w.setFrozen(7, true);
        w.Label[7]->ensurePolished();
        QVERIFY(w.Label[7]->palette().color(QPalette::WindowText) != normal);
        w.setFrozen(7, false);
        w.Label[7]->ensurePolished();
        QCOMPARE(w.Label[7]->palette().color(QPalette::WindowText), normal);
    }

    // The administrator's policy: the value shown whatever the user's store
    // holds, the control disabled with the tooltip (whatever enables its
    // page or shows it later), nothing written for it by loading or by any
    // reaction; a value no control can hold gives the default and a line.
    void enforcedControlsShowThePolicyStayDisabledAndWriteNothing() {
        const QString tip = QStringLiteral("Défini par l'administrateur");
        RecordedJournal journal;
        Harness h;
        h.journal = &journal;
        h.store.policy = {{{"Launch", idx(3)}, "1"},
                          {{"Tempo", idx(3)}, "2000"},
                          {{"Check", idx(3)}, "1"},
                          {{"Freq", idx(3)}, "0"},
                          {{"Arguments", idx(3)}, "/Politique=1"},
                          {{"Frozen", idx(3)}, "5"},
                          {{"CheckSchedulerJour", idx(0)}, "1"},
                          {{"CheckSchedulerNoStation", "Index"}, "3"},
                          {{"CheckPlannerJour", idx(4)}, "1"},
                          {{"CheckPlannerReplanifier", "Actif"}, "0"},
                          {{"Metrics", "Folder"}, "/srv/metrics"},
                          // None of these can be held.
                          {{"Launch", idx(4)}, "7"},
                          {{"Freq", idx(4)}, "99"},
                          {{"Arguments", idx(4)}, std::string(100000, 'x')},
                          {{"Frozen", idx(4)}, "7"},
                          {{"CheckSchedulerHeure", idx(1)}, "40"}};
        // The user's own values under the policy, kept as they are.
        h.set("Launch", idx(3), "0");
        h.set("Tempo", idx(3), "9999");
        h.set("Frozen", idx(3), "10");
        h.set("Freq", idx(4), "2");
        Frm_Main& w = h.load();

        QCOMPARE(boxValue(w.CheckLaunchWindows[3]), 1);
        QCOMPARE(w.TexteTemporisation[3]->text(), QStringLiteral("2000"));
        QCOMPARE(w.ComboFrequenceVerification[3]->currentIndex(), 0);
        QCOMPARE(w.TexteArguments[3]->text(), QStringLiteral("/Politique=1"));
        QCOMPARE(w.freezeRestartMinutes(3), 5);
        QCOMPARE(w.ComboSchedulerNoStation->currentIndex(), 3);
        QCOMPARE(boxValue(w.CheckPlannerReplanifier), 0);
        QCOMPARE(boxValue(w.CheckLaunchWindows[4]), 0);
        QCOMPARE(w.ComboFrequenceVerification[4]->currentIndex(), 1);
        QCOMPARE(w.TexteArguments[4]->text(), QString());
        QCOMPARE(w.freezeRestartMinutes(4), 0);
        QCOMPARE(w.ComboSchedulerHeure[1]->currentIndex(), 23);
        std::set<std::string> refused;
        for (const auto& e : journal.entries)
            if (e.event == JournalEvent::PolicyValueNotUnderstood) refused.insert(e.details.at(0).value);
        QCOMPARE(refused, (std::set<std::string>{"Launch", "Freq", "Arguments", "Frozen", "CheckSchedulerHeure"}));

        const std::vector<QWidget*> enforced{
            w.CheckLaunchWindows[3],  w.TexteTemporisation[3],       w.CheckCheck[3],
            w.ComboFrequenceVerification[3], w.TexteArguments[3], w.CheckSchedulerJour[0],
            w.ComboSchedulerNoStation, w.ComboSchedulerHeure[1],    w.CheckPlannerJour[4],
            w.CheckPlannerReplanifier, w.CheckLaunchWindows[4]};
        auto firstNotEnforced = [&] {
            for (QWidget* c : enforced)
                if (c->isEnabled() || c->toolTip() != tip) return QString(c->metaObject()->className());
            return QString();
        };
        QCOMPARE(firstNotEnforced(), QString());
        QVERIFY(w.CheckLaunchWindows[2]->isEnabled() && w.CheckLaunchWindows[2]->toolTip().isEmpty());
        QVERIFY(w.CheckSchedulerJour[1]->isEnabled());  // the policy made the page active
        w.setSchedulerPageActive(true);
        w.setPlannerPageActive(false);
        w.setPlannerPageActive(true);
        w.setVerificationControlsVisible(3, true);
        QCOMPARE(firstNotEnforced(), QString());
        QVERIFY(w.CheckPlannerJour[1]->isEnabled());

        // The freeze choice: ticked, greyed, and no action changes it.
        const auto menu = w.freezeMenu(3);
        QMenu* restart = menu->actions().front()->menu();
        for (QAction* a : restart->actions()) {
            QVERIFY(!a->isEnabled() && a->toolTip() == tip);
            QCOMPARE(a->isChecked(), a->text() == QStringLiteral("5 min"));
            a->trigger();
        }
        QCOMPARE(w.freezeRestartMinutes(3), 5);
        QVERIFY(w.freezeMenu(2)->actions().front()->menu()->actions().front()->isEnabled());

        w.supervision().CheckLaunchWindows_Click(3);
        w.supervision().TexteTemporisation_Change(3);
        w.supervision().ComboFrequenceVerification_Click(3);
        w.batch().CheckSchedulerJour_Click(0);
        for (const auto& [key, v] : h.store.writes)
            QVERIFY2(!h.store.policy.count(key), (key.first + "/" + key.second).c_str());
        QCOMPARE(h.value("Launch", idx(3)), std::string("0"));
        QCOMPARE(h.value("Tempo", idx(3)), std::string("9999"));
        QCOMPARE(h.value("Frozen", idx(3)), std::string("10"));
        QCOMPARE(h.value("Freq", idx(4)), std::string("2"));
    }

    // Machine presets: shown to a user who never chose a value, never copied
    // into the user's store by loading, so a changed preset reaches the
    // user; an edit is the user's own and is written.
    void presetsAreShownNotCopiedAndAnEditIsWritten() {
        Harness h;
        h.store.presets = {{{"Tempo", idx(0)}, "2500"},
                           {{"Freq", idx(1)}, "3"},
                           {{"Freq", idx(2)}, "4"},
                           {{"CheckSchedulerReprogrammer", "Actif"}, "0"},
                           {{"Launch", idx(5)}, "1"}};
        h.set("Freq", idx(2), "2");  // the user's own, over a preset
        Frm_Main& w = h.load();

        QCOMPARE(w.TexteTemporisation[0]->text(), QStringLiteral("2500"));
        QCOMPARE(w.ComboFrequenceVerification[1]->currentIndex(), 3);
        QCOMPARE(w.ComboFrequenceVerification[2]->currentIndex(), 2);
        QCOMPARE(boxValue(w.CheckSchedulerReprogrammer), 0);
        QCOMPARE(boxValue(w.CheckLaunchWindows[5]), 1);
        QVERIFY(w.TexteTemporisation[0]->isEnabled() && w.TexteTemporisation[0]->toolTip().isEmpty());
        // What a first run without presets stores, less the keys a preset gives.
        for (const auto& [key, value] : h.store.presets)
            if (key != Key{"Freq", idx(2)}) QVERIFY2(!h.store.values.count(key), (key.first + "/" + key.second).c_str());
        QCOMPARE(h.value("Freq", idx(2)), std::string("2"));
        QCOMPARE(h.value("Freq", idx(3)), std::string("1"));

        // The operator's edit of a preset key is written, and wins from now on.
        w.TexteTemporisation[0]->setText(QStringLiteral("2600"));
        QCOMPARE(h.value("Tempo", idx(0)), std::string("2600"));
        QTest::mouseClick(w.CheckSchedulerJour[0], Qt::LeftButton, {}, QPoint(4, 4));  // the page made active
        QTest::mouseClick(w.CheckSchedulerReprogrammer, Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(h.value("CheckSchedulerReprogrammer", "Actif"), std::string("1"));

        // A changed preset reaches a user who never chose: loaded again.
        Harness again;
        again.store.values = h.store.values;
        again.store.presets = h.store.presets;
        again.store.presets[{"Freq", idx(1)}] = "2";
        again.store.presets[{"Tempo", idx(0)}] = "7000";
        Frm_Main& w2 = again.load();
        QCOMPARE(w2.ComboFrequenceVerification[1]->currentIndex(), 2);
        QCOMPARE(w2.TexteTemporisation[0]->text(), QStringLiteral("2600"));
    }
};

QTEST_MAIN(FrmMainTest)
#include "FrmMainTest.moc"
