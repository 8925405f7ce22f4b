#include "supervisor/core/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <cstdio>

namespace tolvane {

namespace {

// The conversation on the socket, one line each way and back:
//   holder  -> "tolvane <pid>"   as soon as a start connects
//   start   -> "show" or "hello"
//   holder  -> "ok"
// The pid comes first so that the start can let the holder take the
// foreground (Windows) before asking it to show its window.
constexpr char kGreeting[] = "tolvane ";
constexpr char kShow[] = "show\n";
constexpr char kHello[] = "hello\n";
constexpr char kOk[] = "ok\n";

// A line, waited for until the deadline.
QByteArray readLine(QLocalSocket& socket, const QDeadlineTimer& deadline) {
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || socket.state() != QLocalSocket::ConnectedState) return {};
        socket.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
    return socket.readLine(256);
}

}  // namespace

SingleInstance::SingleInstance(platform::Platform& platform, const std::string& application,
                               const std::string& storeLocation)
    : m_platform(platform) {
    // One name per user, program name and store: tests and demos with stores
    // of their own run side by side, and a renamed copy is another program.
    const std::string user = platform::userIdentity();
    const QByteArray key = QCryptographicHash::hash(
                               QByteArray::fromStdString(user + '\n' + application + '\n' + storeLocation),
                               QCryptographicHash::Sha256)
                               .toHex()
                               .left(16);
    const QString app = QString::fromStdString(application);
    const QString folder = QString::fromStdString(platform::privateRuntimeFolder());
    if (!folder.isEmpty()) m_lockPath = QDir(folder).filePath(QStringLiteral("Vantorix-%1-%2.lock").arg(app, key));
    // A socket file in the private folder on Linux (whose path must stay
    // short); a pipe named after the user on Windows. Either way only this
    // user can reach it.
    const QString socketName = QStringLiteral("Vantorix-%1-%2-%3").arg(app, QString::fromStdString(user), key);
    m_socketName = platform::settingsInSystemStore() || folder.isEmpty()
                       ? socketName
                       : QDir(folder).filePath(QStringLiteral("Vantorix-%1.socket").arg(QString::fromLatin1(key)));
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::locked() const { return m_lock && m_lock->isLocked(); }

bool SingleInstance::takeLock() {
    if (m_lockPath.isEmpty()) {
        m_lockUnavailable = true;
        return true;
    }
    if (!m_lock) {
        m_lock = std::make_unique<QLockFile>(m_lockPath);
        // Only a dead holder makes a lock stale: Qt's age rule would take the
        // lock of a live Tolvane whose clock runs fast.
        m_lock->setStaleLockTime(0);
    }
    if (m_lock->tryLock(0)) return true;
    if (m_lock->error() == QLockFile::LockFailedError) {
        // Qt calls a lock stale only when its process is gone. A process id
        // the system has already given to another process of the same name
        // (wine hands ids out again at once) keeps a dead Tolvane's lock
        // alive. But a live holder also holds the file itself (an open
        // handle on Windows, a native lock on Linux), which the removal
        // below respects; the age only leaves alone a lock that is being
        // written this very moment.
        const QFileInfo info(m_lockPath);
        const qint64 age = info.lastModified().msecsTo(QDateTime::currentDateTime());
        if (info.exists() && (age > 2000 || age < -2000) && m_lock->removeStaleLockFile() && m_lock->tryLock(0))
            return true;
    }
    if (m_lock->error() != QLockFile::LockFailedError) {
        // Not "held by another": the folder cannot be written. Supervising
        // without the lock is better than not supervising at all.
        m_lockUnavailable = true;
        return true;
    }
    return false;
}

bool SingleInstance::listen() {
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketName)) {
        // A socket file left by a Tolvane that was killed: the lock is ours,
        // so nobody else is behind it.
        QLocalServer::removeServer(m_socketName);
        if (!m_server->listen(m_socketName)) {
            std::fprintf(stderr, "Tolvane: cannot answer other starts on %s: %s\n", qPrintable(m_socketName),
                         qPrintable(m_server->errorString()));
            std::fflush(stderr);
            return false;
        }
    }
    QObject::connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->write(QByteArray(kGreeting) + QByteArray::number(m_platform.ownProcessId()) + '\n');
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > 64) socket->abort();  // not one of ours
                    return;
                }
                const QByteArray line = socket->readLine(64);
                if (line == kShow && onShowRequest) onShowRequest();
                if (line == kShow || line == kHello) socket->write(kOk);
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}

bool SingleInstance::askHolder(bool askToShow, std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout.count());
    QLocalSocket socket;
    socket.connectToServer(m_socketName);
    if (!socket.waitForConnected(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) return false;
    const QByteArray greeting = readLine(socket, deadline);
    if (!greeting.startsWith(kGreeting)) return false;
    if (askToShow) {
        bool ok = false;
        const auto pid = greeting.mid(int(sizeof kGreeting) - 1).trimmed().toUInt(&ok);
        if (ok) platform::allowForegroundFor(pid);
    }
    socket.write(askToShow ? kShow : kHello);
    socket.flush();
    return readLine(socket, deadline) == kOk;
}

SingleInstance::Claim SingleInstance::claim(bool askToShow, Timing timing) {
    // The lock decides. While it is held, the holder is asked; a holder that
    // has not answered within `answer` may be on its way out (the nightly
    // restart's Tolvane ends right after starting Krandel), so its lock is
    // waited for a while longer instead of turning this start away, and the
    // holder is still asked meanwhile: one that was only slow to open its
    // socket (two starts at the same instant, a loaded machine) ends the
    // wait as soon as it answers.
    const QDeadlineTimer answerDeadline(timing.answer.count());
    const QDeadlineTimer lastDeadline((timing.answer + timing.takeOver).count());
    for (;;) {
        if (takeLock()) break;
        const qint64 left = answerDeadline.hasExpired() ? std::min<qint64>(500, lastDeadline.remainingTime())
                                                        : answerDeadline.remainingTime();
        if (askHolder(askToShow, std::chrono::milliseconds(std::max<qint64>(1, left)))) return Claim::AnotherRuns;
        if (lastDeadline.hasExpired()) return Claim::AnotherRuns;
        QThread::msleep(50);
    }
    if (m_lockUnavailable) {
        std::fprintf(stderr, "Tolvane: cannot keep a lock in %s; another Tolvane started for this user would "
                             "supervise too.\n",
                     qPrintable(m_lockPath.isEmpty() ? QStringLiteral("a private folder") : m_lockPath));
        std::fflush(stderr);
    }
    listen();
    return Claim::Supervise;
}

void SingleInstance::release() {
    if (m_server) {
        m_server->close();
        m_server.reset();
    }
    if (m_lock && m_lock->isLocked()) m_lock->unlock();
}

bool SingleInstance::reclaim() {
    if (m_server) return true;
    if (!takeLock()) return false;
    return listen();
}

}  // namespace tolvane
