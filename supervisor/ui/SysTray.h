#pragma once
// Standby behind the notification-area icon: the icon with its one-item
// right-button menu "Afficher", the list of the windows standby hid
// (ListeFrm), and the way in and out.

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

#include "platform/platform.h"

class QMenu;
class QSocketNotifier;
class QSystemTrayIcon;
class QWidget;

namespace tolvane {

// The notification-area icon as standby uses it; the window tests use a
// fake, Tolvane uses Qt's.
class TrayIconHost {
public:
    virtual ~TrayIconHost() = default;
    // Is there a notification area to show the icon in right now?
    virtual bool areaAvailable() = 0;
    // Shows the icon (or, with no area yet, shows it when one appears).
    virtual void add(const QIcon& icon, const QString& tip) = 0;
    virtual void remove() = 0;
    virtual bool added() const = 0;
    // Called when the operator chooses "Afficher".
    std::function<void()> onAfficher;
};

// QSystemTrayIcon: a right-button press opens the menu; every other mouse
// event on the icon does nothing.
class QtTrayIconHost final : public TrayIconHost {
public:
    QtTrayIconHost();
    ~QtTrayIconHost() override;
    bool areaAvailable() override;
    void add(const QIcon& icon, const QString& tip) override;
    void remove() override;
    bool added() const override;

private:
    std::unique_ptr<QMenu> m_MnuFlottant;
    std::unique_ptr<QSystemTrayIcon> m_icon;
};

// The hidden form that owns the menu and the list of hidden windows.
class FrmSysTray final : public QObject {
public:
    explicit FrmSysTray(std::unique_ptr<TrayIconHost> host);
    ~FrmSysTray() override;

    // Names (objectName) of the windows standby hid, in the order hidden.
    QStringList ListeFrm;

    // Enters standby: the icon, then every visible window hidden. With no
    // notification area the window to hide is minimised instead, so the
    // operator can always reach it from the taskbar.
    void MinimizeToTray(QWidget* formToHide, bool hideAll, const QString& tip);

    // Leaves standby: the main window first, shown and focused, then the
    // other hidden windows; the list emptied; the icon removed.
    void RestoreFromTray();

    void MnuAfficher_Click() { RestoreFromTray(); }
    void SysTrayAddIcon(const QIcon& icon, const QString& tip);
    void SysTrayRemoveIcon();

    // Unloading the form while in standby brings the windows back.
    void Form_Unload();

    bool iconShown() const { return m_host->added(); }
    // Windows are hidden (or the main window minimised in their stead).
    bool inStandby() const { return !m_hiddenForms.isEmpty() || m_minimisedInstead; }

    // The main window is being destroyed: remove the icon, show nothing.
    void forgetWindows();

    // Follows the notification area while Tolvane runs.
    void watchArea(std::unique_ptr<platform::NotificationAreaWatch> watch);
    // Told each time the watched area goes (false) or comes back (true).
    std::function<void(bool present)> onAreaChanged;
    // The area went away: hidden windows would be out of the operator's
    // reach, so standby falls back to what it does without an area (the main
    // window minimised, the icon shown again when an area comes back).
    void notificationAreaGone();

private:
    void areaAnswered(std::optional<bool> present);

    std::unique_ptr<TrayIconHost> m_host;
    bool m_areaPresent = true;  // as last answered; taken as there until told otherwise
    // The windows behind the names of ListeFrm: two windows may share a
    // name, and a window may go away while hidden.
    QList<QPointer<QWidget>> m_hiddenForms;
    QPointer<QWidget> m_mainForm;
    // The main window was minimised instead of hidden (no area at the time).
    QPointer<QWidget> m_minimisedInstead;
    std::unique_ptr<platform::NotificationAreaWatch> m_watch;
    std::unique_ptr<QSocketNotifier> m_watchNotifier;
};

}  // namespace tolvane
