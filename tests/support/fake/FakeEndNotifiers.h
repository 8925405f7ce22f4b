#pragma once
// The event loop's notifiers of a watched process's end, fired by the test:
// signal(waitable) does what the toolkit does once the system signals it.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "supervisor/supervision/ToolHealth.h"

namespace tolvane::testsupport {

class FakeEndNotifiers final : public EndNotifiers {
public:
    std::unique_ptr<Subscription> whenSignalled(std::intptr_t waitable, std::function<void()> signalled) override {
        auto subscription = std::make_unique<Waiting>(*this);
        m_waiting[subscription.get()] = {waitable, std::move(signalled)};
        return subscription;
    }

    // Calls every subscription waiting on `waitable`; how many there were.
    int signal(std::intptr_t waitable) {
        std::vector<std::pair<const Waiting*, std::function<void()>>> due;
        for (const auto& [subscription, entry] : m_waiting)
            if (entry.first == waitable) due.emplace_back(subscription, entry.second);
        for (auto& [subscription, call] : due) {
            // A callback may have ended another subscription already.
            if (m_waiting.count(subscription)) call();
        }
        return static_cast<int>(due.size());
    }

    // Subscriptions not yet destroyed.
    std::size_t waiting() const { return m_waiting.size(); }

private:
    class Waiting final : public Subscription {
    public:
        explicit Waiting(FakeEndNotifiers& owner) : m_owner(owner) {}
        ~Waiting() override { m_owner.m_waiting.erase(this); }

    private:
        FakeEndNotifiers& m_owner;
    };
    std::map<const Waiting*, std::pair<std::intptr_t, std::function<void()>>> m_waiting;
};

}  // namespace tolvane::testsupport
