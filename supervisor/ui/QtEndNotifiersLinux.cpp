#include <QSocketNotifier>
#include <unordered_map>

#include "platform/platform.h"

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

// Every watched descriptor behind one notifier, on the system's set of
// descriptors: the event loop polls what it holds at each wake-up, and
// thirty descriptors four times a second cost more than the rest of an idle
// Tolvane. A descriptor the set refuses gets a notifier of its own.
class SocketNotifiers final : public EndNotifiers {
public:
    SocketNotifiers() : m_set(platform::createWaitableSet()) {
        if (!m_set) return;
        m_notifier = std::make_unique<QSocketNotifier>(static_cast<qintptr>(m_set->waitable()), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { fire(); });
    }

    std::unique_ptr<EndNotifiers::Subscription> whenSignalled(std::intptr_t waitable,
                                                              std::function<void()> signalled) override {
        if (waitable < 0) return nullptr;
        const std::uint64_t key = ++m_lastKey;
        if (m_set && m_set->add(waitable, key)) {
            m_callbacks.emplace(key, std::move(signalled));
            return std::make_unique<SetSubscription>(*this, waitable, key);
        }
        return std::make_unique<NotifierSubscription>(waitable, std::move(signalled));
    }

private:
    class SetSubscription final : public EndNotifiers::Subscription {
    public:
        SetSubscription(SocketNotifiers& owner, std::intptr_t waitable, std::uint64_t key)
            : m_owner(owner), m_waitable(waitable), m_key(key) {}
        ~SetSubscription() override {
            m_owner.m_set->remove(m_waitable);
            m_owner.m_callbacks.erase(m_key);
        }
        SetSubscription(const SetSubscription&) = delete;
        SetSubscription& operator=(const SetSubscription&) = delete;

    private:
        SocketNotifiers& m_owner;
        std::intptr_t m_waitable;
        std::uint64_t m_key;
    };

    void fire() {
        // A callback may end its own subscription or another's: each is
        // looked up when its turn comes.
        for (const std::uint64_t key : m_set->signalled()) {
            const auto it = m_callbacks.find(key);
            if (it == m_callbacks.end()) continue;
            const auto signalled = it->second;  // a copy: the callback may erase it
            signalled();
        }
    }

    std::unique_ptr<platform::WaitableSet> m_set;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::unordered_map<std::uint64_t, std::function<void()>> m_callbacks;
    std::uint64_t m_lastKey = 0;
};

}  // namespace

std::unique_ptr<EndNotifiers> qtEndNotifiers() { return std::make_unique<SocketNotifiers>(); }

}  // namespace tolvane
