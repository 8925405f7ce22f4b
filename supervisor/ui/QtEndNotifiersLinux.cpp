#include <QSocketNotifier>

#include "supervisor/ui/QtEndNotifiers.h"

namespace tolvane {

namespace {

class NotifierSubscription final : public EndNotifiers::Subscription {
public:
    NotifierSubscription(std::intptr_t descriptor, std::function<void()> signalled)
        : m_notifier(new QSocketNotifier(static_cast<qintptr>(descriptor), QSocketNotifier::Read)) {
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier,
                         [signalled = std::move(signalled)] { signalled(); });
    }
    ~NotifierSubscription() override {
        // Often destroyed from within its own signal: the notifier stops
        // now, before the descriptor is closed, and goes once the event loop
        // is back.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
    }
    NotifierSubscription(const NotifierSubscription&) = delete;
    NotifierSubscription& operator=(const NotifierSubscription&) = delete;

private:
    QSocketNotifier* m_notifier;
};

class SocketNotifiers final : public EndNotifiers {
public:
    std::unique_ptr<EndNotifiers::Subscription> whenSignalled(std::intptr_t waitable,
                                                              std::function<void()> signalled) override {
        if (waitable < 0) return nullptr;
        return std::make_unique<NotifierSubscription>(waitable, std::move(signalled));
    }
};

}  // namespace

std::unique_ptr<EndNotifiers> qtEndNotifiers() { return std::make_unique<SocketNotifiers>(); }

}  // namespace tolvane
