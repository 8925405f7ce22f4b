#pragma once
// One Tolvane. The first Tolvane holds a lock the system keeps (a named
// kernel mutex on Windows, an abstract-namespace socket on Linux: no folder
// has to be usable for it) and answers on a local socket; a second start of
// the same program finds the lock held, asks the running one to show its
// window when an operator started it, and ends without supervising. The
// lock decides, never the socket: two starts at the same instant cannot both
// supervise, and a Tolvane that was killed leaves no lock behind.
//
// On Linux the lock is one per user, program name and store, so stations
// with stores of their own run side by side; the socket is the lock itself.
// On Windows it is one per machine and program name (folded as Windows
// folds file names: "tolvane.exe" is Tolvane.exe): a Tolvane started in
// another session (an administrator's remote desktop logon) ends once it has
// seen the one that supervises there, while a second start in the same
// session still shows the first, through a pipe of the user's own.
//
// The nightly restart is never turned away: the Tolvane that hands over to
// Krandel lets go of the lock and stops answering first (release()), and a
// start that finds the lock held by a Tolvane that does not answer waits for
// the lock instead of giving up. When no lock can be had at all, Tolvane
// supervises all the same and says so.

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"

class QLocalServer;

namespace tolvane {

class SingleInstance final : public QObject {
public:
    // `application` is the settings' application name (the executable's
    // base name), `storeLocation` where the settings live (file or registry
    // key).
    SingleInstance(platform::Platform& platform, const std::string& application, const std::string& storeLocation);
    ~SingleInstance() override;

    enum class Claim {
        Supervise,      // this process is the one Tolvane (with the lock, or without when none could be had)
        AnotherRuns,    // another one holds the lock; this process must end
        AnotherSession  // a Tolvane supervises from another session (otherSession()); this process must end
    };
    struct Timing {
        std::chrono::milliseconds answer{2000};     // a running Tolvane answers within this
        std::chrono::milliseconds takeOver{30000};  // a silent holder's lock is waited for this long
    };
    // Takes the lock, or finds who holds it. With askToShow, a running
    // Tolvane that answers is asked to bring its window to the front.
    Claim claim(bool askToShow, Timing timing);
    Claim claim(bool askToShow) { return claim(askToShow, Timing{}); }

    // The Tolvane that made claim() answer AnotherSession.
    const platform::SessionProcess& otherSession() const { return m_otherSession; }

    // Called in the holder when a second start asks to see the window.
    std::function<void()> onShowRequest;

    // What the journal and the system's log are to be told, once each run:
    // no lock could be had (Tolvane supervises anyway), and a second start
    // cannot reach this Tolvane to show it. Told as soon as they are set, if
    // it has already happened.
    void reportTo(std::function<void(const std::string& why)> noLock,
                  std::function<void(const std::string& why)> cannotAnswer);

    // Lets go of the lock and closes the socket (the daily restart hands over
    // to Krandel); reclaim() takes both back when Krandel could not start.
    void release();
    bool reclaim();

    // Whether this process holds the lock.
    bool locked() const { return m_holding; }

    // The lock's name, for the tests and the closing line.
    const std::string& lockName() const { return m_lockName; }

private:
    bool listen();
    // Asks the holder; true when it answered.
    bool askHolder(bool askToShow, std::chrono::milliseconds timeout);
    void noteNoLock(const std::string& why);
    void noteCannotAnswer(const std::string& why);

    struct Notice {
        std::optional<std::string> pending;
        bool told = false;
        std::function<void(const std::string&)> tell;
        void note(const std::string& why);
    };

    platform::Platform& m_platform;
    std::string m_imageName;
    std::string m_lockName;
    QString m_socketName;
    std::unique_ptr<platform::InstanceLock> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    bool m_holding = false;
    platform::SessionProcess m_otherSession;
    Notice m_noLock;
    Notice m_cannotAnswer;
};

}  // namespace tolvane
