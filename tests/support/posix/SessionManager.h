#pragma once
// A real X session manager for the tests, speaking the ICE/XSMP protocol
// through libSM's manager side: programs started with its address in
// SESSION_MANAGER register with it as with any desktop's, and the test then
// asks the session's question (SaveYourself) and either cancels the end or
// ends the session (Die), as a logout does.

#include <chrono>
#include <memory>
#include <string>

namespace tolvane::testsupport {

class SessionManager {
public:
    SessionManager();
    ~SessionManager();
    SessionManager(const SessionManager&) = delete;
    SessionManager& operator=(const SessionManager&) = delete;

    // The value of SESSION_MANAGER that reaches this manager; empty when it
    // could not listen.
    const std::string& address() const;

    // Waits until a client has registered.
    bool waitForClient(std::chrono::milliseconds timeout);
    // The session's question to every client (a shutdown, without
    // interaction); true once each has answered.
    bool saveYourself(std::chrono::milliseconds timeout);
    // The end was cancelled (another program refused, the user pressed
    // Cancel).
    void shutdownCancelled();
    // The session ends: every client is told to die.
    void die();

    // What libSM's callbacks update.
    struct State;

private:
    std::unique_ptr<State> m_state;
};

}  // namespace tolvane::testsupport
