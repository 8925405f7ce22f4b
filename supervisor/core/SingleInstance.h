#pragma once
// One Tolvane per user and settings store. The first Tolvane holds a lock
// file and answers on a local socket; a second start of the same program
// (the same executable name, the same store) finds the lock held, asks the
// running one to show its window when an operator started it, and ends
// without supervising. The lock decides, never the socket: two starts at
// the same instant cannot both supervise, and a lock left by a Tolvane that
// was killed is taken over at once.
//
// The nightly restart is never turned away: the Tolvane that hands over to
// Krandel lets go of the lock and stops answering first (release()), and a
// start that finds the lock held by a Tolvane that does not answer waits for
// the lock instead of giving up.

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

class QLocalServer;
class QLockFile;

namespace tolvane {

class SingleInstance final : public QObject {
public:
    // `application` is the settings' application name, `storeLocation` where
    // the settings live (file or registry key).
    SingleInstance(platform::Platform& platform, const std::string& application, const std::string& storeLocation);
    ~SingleInstance() override;

    enum class Claim {
        Supervise,   // this process holds the lock: it is the one Tolvane
        AnotherRuns  // another one holds it; this process must end
    };
    struct Timing {
        std::chrono::milliseconds answer{2000};    // a running Tolvane answers within this
        std::chrono::milliseconds takeOver{30000}; // a silent holder's lock is waited for this long
    };
    // Takes the lock, or finds who holds it. With askToShow, a running
    // Tolvane that answers is asked to bring its window to the front.
    Claim claim(bool askToShow, Timing timing);
    Claim claim(bool askToShow) { return claim(askToShow, Timing{}); }

    // Called in the holder when a second start asks to see the window.
    std::function<void()> onShowRequest;

    // Lets go of the lock and closes the socket (the daily restart hands over
    // to Krandel); reclaim() takes both back when Krandel could not start.
    void release();
    bool reclaim();

    // Whether a lock could be had at all. When the folder for it cannot be
    // written, Tolvane supervises without one rather than not at all.
    bool locked() const;

    // The names used, for the tests and the closing line.
    QString lockPath() const { return m_lockPath; }
    QString socketName() const { return m_socketName; }

private:
    bool takeLock();
    bool listen();
    // Asks the holder; true when it answered.
    bool askHolder(bool askToShow, std::chrono::milliseconds timeout);

    platform::Platform& m_platform;
    QString m_lockPath;
    QString m_socketName;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    bool m_lockUnavailable = false;
};

}  // namespace tolvane
