#include "supervisor/app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cstdio>

#include "supervisor/app/InstanceClaim.h"

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
    : m_platform(platform),
      m_imageName(application + platform::executableSuffix()) {
    // Per user (Linux), the name carries the user, the program and the
    // store: tests and demos with stores of their own run side by side, and
    // a renamed copy is another program. Per machine (Windows), the program
    // and the store as Windows compares them, and no user: every user's
    // registry store of that name is one station.
    const std::string user = platform::userIdentity();
    const bool machineWide = platform::instanceLockIsMachineWide();
    const std::string app = platform::foldedFileName(application);
    const std::string store = platform::foldedFileName(storeLocation);
    const std::string owner = machineWide ? std::string() : user + '-';
    const QByteArray key = QCryptographicHash::hash(QByteArray::fromStdString(owner + '\n' + app + '\n' + store),
                                                    QCryptographicHash::Sha256)
                               .toHex()
                               .left(16);
    // The key first: a name the system cuts short keeps what tells it apart.
    m_lockName = "Vantorix-" + owner + key.toStdString() + '-' + app;
    m_lock = platform::createInstanceLock(m_lockName);
    // On Linux the lock's own socket answers. Elsewhere a pipe named after
    // the user, so that only this user reaches it, and a second start in the
    // same session finds the running one.
    if (!m_lock || !m_lock->isSocket())
        m_socketName = QStringLiteral("Vantorix-%1-%2-%3")
                           .arg(QString::fromStdString(app), QString::fromStdString(user), QString::fromLatin1(key));
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::Notice::note(const std::string& why) {
    if (told || pending) return;
    pending = why;
    if (tell) {
        told = true;
        tell(*pending);
    }
}

void SingleInstance::reportTo(std::function<void(const std::string&)> noLock,
                              std::function<void(const std::string&)> cannotAnswer) {
    for (auto [notice, tell] : {std::pair{&m_noLock, std::move(noLock)}, {&m_cannotAnswer, std::move(cannotAnswer)}}) {
        notice->tell = std::move(tell);
        if (notice->pending && !notice->told && notice->tell) {
            notice->told = true;
            notice->tell(*notice->pending);
        }
    }
}

void SingleInstance::noteNoLock(const std::string& why) {
    std::fprintf(stderr,
                 "Tolvane: no lock could be had (%s); another Tolvane started for this program would "
                 "supervise too.\n",
                 why.c_str());
    std::fflush(stderr);
    m_noLock.note(why);
}

void SingleInstance::noteCannotAnswer(const std::string& why) {
    std::fprintf(stderr, "Tolvane: cannot answer other starts: %s\n", why.c_str());
    std::fflush(stderr);
    m_cannotAnswer.note(why);
}

bool SingleInstance::listen() {
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (m_lock && m_lock->isSocket()) {
        // The lock is the socket: without the lock there is nothing to
        // answer on, and a second start cannot find this Tolvane.
        const std::intptr_t fd = m_lock->listeningDescriptor();
        if (fd < 0 || !m_server->listen(static_cast<qintptr>(fd))) {
            noteCannotAnswer(fd < 0 ? std::string("pas de verrou, donc pas de socket où répondre")
                                    : m_server->errorString().toStdString());
            m_server.reset();
            return false;
        }
    } else if (!m_server->listen(m_socketName)) {
        // A pipe still open in a Tolvane on its way out: the lock is ours,
        // so nobody else is behind it.
        QLocalServer::removeServer(m_socketName);
        if (!m_server->listen(m_socketName)) {
            noteCannotAnswer(m_socketName.toStdString() + ": " + m_server->errorString().toStdString());
            m_server.reset();
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
    if (m_lock && m_lock->isSocket()) {
        // The connection the lock made to learn who holds it.
        const std::intptr_t fd = m_lock->holderConnection();
        if (fd < 0 || !socket.setSocketDescriptor(static_cast<qintptr>(fd))) return false;
    } else {
        socket.connectToServer(m_socketName);
    }
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
    ClaimSituation situation;
    situation.machineWide = platform::instanceLockIsMachineWide();
    for (;;) {
        situation.attempt = m_lock ? m_lock->tryTake() : platform::InstanceLockAttempt::Failed;
        situation.answerTimeOver = answerDeadline.hasExpired();
        situation.takeOverTimeOver = lastDeadline.hasExpired();
        const bool notOurs = situation.attempt == platform::InstanceLockAttempt::Held ||
                             situation.attempt == platform::InstanceLockAttempt::Foreign;
        if (situation.machineWide && notOurs) {
            situation.others = platform::processesInSessions(m_imageName);
            situation.ownSession = platform::ownSession();
        }
        const ClaimDecision decision = decideClaim(situation);
        switch (decision.step) {
            case ClaimStep::Supervise:
                m_holding = true;
                listen();
                return Claim::Supervise;
            case ClaimStep::SuperviseWithoutLock:
                noteNoLock(m_lock ? m_lock->failure() : std::string("aucun verrou sur ce système"));
                listen();
                return Claim::Supervise;
            case ClaimStep::EndForOtherSession: m_otherSession = decision.otherSession; return Claim::AnotherSession;
            case ClaimStep::AskHolder: {
                const qint64 left = answerDeadline.hasExpired() ? std::min<qint64>(500, lastDeadline.remainingTime())
                                                                : answerDeadline.remainingTime();
                if (askHolder(askToShow, std::chrono::milliseconds(std::max<qint64>(1, left))))
                    return Claim::AnotherRuns;
                if (lastDeadline.hasExpired()) return Claim::AnotherRuns;
                break;
            }
            case ClaimStep::WaitForLock: break;
        }
        QThread::msleep(50);
    }
}

void SingleInstance::release() {
    if (m_server) {
        m_server->close();
        m_server.reset();
    }
    if (m_lock) m_lock->letGo();
    m_holding = false;
}

bool SingleInstance::reclaim() {
    if (m_server) return true;
    // A Tolvane that had no lock goes on without one; one that had it must
    // have it back before it answers again.
    const bool noLockBefore = m_noLock.pending.has_value();
    m_holding = m_lock && m_lock->tryTake() == platform::InstanceLockAttempt::Taken;
    if (!m_holding && !noLockBefore) return false;
    return listen();
}

}  // namespace tolvane
