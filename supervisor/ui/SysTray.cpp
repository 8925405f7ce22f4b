#include "supervisor/ui/SysTray.h"

#include <QApplication>
#include <QMenu>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QWidget>

namespace tolvane {

namespace {
// The program's own forms: its windows and dialog boxes. Never the toolkit's
// own window that draws the notification-area icon (hidden, the icon turns
// into an empty square), nor a menu or a tip.
bool isOwnForm(const QWidget* form) {
    if (form->inherits("QSystemTrayIconSys")) return false;
    const Qt::WindowType type = form->windowType();
    return type == Qt::Window || type == Qt::Dialog;
}
}  // namespace

QtTrayIconHost::QtTrayIconHost()
    : m_MnuFlottant(std::make_unique<QMenu>(QStringLiteral("Flottant"))),
      m_icon(std::make_unique<QSystemTrayIcon>()) {
    QAction* afficher = m_MnuFlottant->addAction(QStringLiteral("Afficher"));
    QObject::connect(afficher, &QAction::triggered, [this] {
        if (onAfficher) onAfficher();
    });
    // The menu opens on the right button only; a left click, a double click
    // or a wheel over the icon are deliberately left without an effect.
    m_icon->setContextMenu(m_MnuFlottant.get());
}

QtTrayIconHost::~QtTrayIconHost() { m_icon->hide(); }

bool QtTrayIconHost::areaAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void QtTrayIconHost::add(const QIcon& icon, const QString& tip) {
    m_icon->setIcon(icon);
    m_icon->setToolTip(tip);
    m_icon->show();
}

void QtTrayIconHost::remove() { m_icon->hide(); }

bool QtTrayIconHost::added() const { return m_icon->isVisible(); }

FrmSysTray::FrmSysTray(std::unique_ptr<TrayIconHost> host) : m_host(std::move(host)) {
    m_host->onAfficher = [this] { MnuAfficher_Click(); };
}

FrmSysTray::~FrmSysTray() { Form_Unload(); }

void FrmSysTray::SysTrayAddIcon(const QIcon& icon, const QString& tip) { m_host->add(icon, tip); }

void FrmSysTray::SysTrayRemoveIcon() { m_host->remove(); }

void FrmSysTray::MinimizeToTray(QWidget* formToHide, bool hideAll, const QString& tip) {
    const bool area = m_host->areaAvailable();
    SysTrayAddIcon(formToHide->windowIcon(), tip);
    if (!hideAll) return;
    m_mainForm = formToHide;
    // Entering again while in standby must not forget the windows already
    // hidden, or "Afficher" could never bring them back.
    if (m_hiddenForms.isEmpty()) ListeFrm.clear();
    if (!area) {
        // Hidden with no icon to bring it back, the window would be lost to
        // the operator: minimise it instead. The icon stays requested and
        // appears with the first notification area.
        formToHide->showMinimized();
        m_minimisedInstead = formToHide;
        return;
    }
    const QWidgetList forms = QApplication::topLevelWidgets();
    for (auto it = forms.crbegin(); it != forms.crend(); ++it) {
        QWidget* form = *it;
        if (!form->isVisible() || !isOwnForm(form)) continue;
        form->hide();
        ListeFrm.append(form->objectName());
        m_hiddenForms.append(form);
    }
}

void FrmSysTray::RestoreFromTray() {
    // Pass 0 brings the main window back first and gives it the focus;
    // pass 1 every other window standby hid, in the order they were hidden.
    for (int pass = 0; pass < 2; ++pass) {
        for (qsizetype at = 0; at < m_hiddenForms.size();) {
            QWidget* form = m_hiddenForms[at];
            const bool isMain = form && form == m_mainForm.data();
            if (form && pass == 0 && !isMain) {
                ++at;
                continue;
            }
            if (form) {
                form->show();
                if (isMain) {
                    form->raise();
                    form->activateWindow();
                }
            }
            m_hiddenForms.removeAt(at);
            ListeFrm.removeAt(at);
        }
    }
    ListeFrm.clear();
    if (m_minimisedInstead) {
        m_minimisedInstead->showNormal();
        m_minimisedInstead->raise();
        m_minimisedInstead->activateWindow();
        m_minimisedInstead = nullptr;
    }
    SysTrayRemoveIcon();
}

void FrmSysTray::forgetWindows() {
    ListeFrm.clear();
    m_hiddenForms.clear();
    m_minimisedInstead = nullptr;
    SysTrayRemoveIcon();
}

void FrmSysTray::watchArea(std::unique_ptr<platform::NotificationAreaWatch> watch) {
    m_watchNotifier.reset();
    m_watch = std::move(watch);
    if (!m_watch || m_watch->descriptor() < 0) return;
    m_watchNotifier = std::make_unique<QSocketNotifier>(m_watch->descriptor(), QSocketNotifier::Read);
    QObject::connect(m_watchNotifier.get(), &QSocketNotifier::activated, this,
                     [this] { areaAnswered(m_watch->areaPresent()); });
    // What happened before the notifier was there.
    areaAnswered(m_watch->areaPresent());
}

void FrmSysTray::areaAnswered(std::optional<bool> present) {
    // Unknown (the display did not answer) changes nothing.
    if (!present) return;
    if (!*present) notificationAreaGone();
    if (*present == m_areaPresent) return;
    m_areaPresent = *present;
    if (onAreaChanged) onAreaChanged(*present);
}

void FrmSysTray::notificationAreaGone() {
    if (m_hiddenForms.isEmpty()) return;
    QWidget* main = m_mainForm.data();
    for (QWidget* form : std::as_const(m_hiddenForms)) {
        if (form && form != main) form->show();
    }
    m_hiddenForms.clear();
    ListeFrm.clear();
    if (main) {
        main->showMinimized();
        m_minimisedInstead = main;
    }
}

void FrmSysTray::Form_Unload() {
    if (!m_hiddenForms.isEmpty() || m_minimisedInstead) RestoreFromTray();
}

}  // namespace tolvane
