#include <QWinEventNotifier>

#include "supervisor/ui/QtEndNotifiers.h"

namespace tolvane {

namespace {

class NotifierSubscription final : public EndNotifiers::Subscription {
public:
    NotifierSubscription(std::intptr_t handle, std::function<void()> signalled)
        : m_notifier(new QWinEventNotifier(reinterpret_cast<Qt::HANDLE>(handle))) {
        QObject::connect(m_notifier, &QWinEventNotifier::activated, m_notifier,
                         [signalled = std::move(signalled)] { signalled(); });
    }
    ~NotifierSubscription() override {
        // Often destroyed from within its own signal: the notifier stops
        // waiting now, before the handle is closed, and goes once the event
        // loop is back.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
    }
    NotifierSubscription(const NotifierSubscription&) = delete;
    NotifierSubscription& operator=(const NotifierSubscription&) = delete;

private:
    QWinEventNotifier* m_notifier;
};

class EventNotifiers final : public EndNotifiers {
public:
    std::unique_ptr<EndNotifiers::Subscription> whenSignalled(std::intptr_t waitable,
                                                              std::function<void()> signalled) override {
        if (waitable == 0 || waitable == -1) return nullptr;
        return std::make_unique<NotifierSubscription>(waitable, std::move(signalled));
    }
};

}  // namespace

std::unique_ptr<EndNotifiers> qtEndNotifiers() { return std::make_unique<EventNotifiers>(); }

}  // namespace tolvane
