#include "tests/support/posix/SessionManager.h"

#include <X11/SM/SMlib.h>
// After SMlib.h (it brings ICElib.h):
#include <X11/ICE/ICEutil.h>
#include <poll.h>

#include <cstdlib>
#include <vector>

namespace tolvane::testsupport {

struct SessionManager::State {
    std::string address;
    std::vector<IceListenObj> listeners;
    IceListenObj* listenArray = nullptr;
    int listenCount = 0;
    std::vector<IceConn> connections;
    std::vector<SmsConn> clients;
    int registered = 0;
    int saveDone = 0;

    // Takes in whatever arrived on the listening sockets and the clients'
    // connections, waiting at most `wait`.
    void pump(std::chrono::milliseconds wait) {
        std::vector<pollfd> fds;
        for (int i = 0; i < listenCount; ++i) fds.push_back({IceGetListenConnectionNumber(listenArray[i]), POLLIN, 0});
        for (IceConn c : connections) fds.push_back({IceConnectionNumber(c), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), static_cast<int>(wait.count())) <= 0) return;
        for (int i = 0; i < listenCount; ++i) {
            if (!(fds[static_cast<std::size_t>(i)].revents & POLLIN)) continue;
            IceAcceptStatus status{};
            if (IceConn c = IceAcceptConnection(listenArray[i], &status)) connections.push_back(c);
        }
        for (std::size_t i = 0; i < connections.size(); ++i) {
            if (!(fds[static_cast<std::size_t>(listenCount) + i].revents & (POLLIN | POLLHUP))) continue;
            Bool replied = False;
            if (IceProcessMessages(connections[i], nullptr, &replied) == IceProcessMessagesIOError) {
                IceCloseConnection(connections[i]);
                connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(i));
                return;
            }
        }
    }
    template <class Done>
    bool pumpUntil(Done done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            pump(std::chrono::milliseconds{50});
        }
        return true;
    }
};

namespace {

SessionManager::State* g_state = nullptr;  // libSM's callbacks carry a pointer; this keeps one manager per process

Status registerClient(SmsConn conn, SmPointer, char*) {
    char* id = SmsGenerateClientID(conn);
    const Status status = SmsRegisterClientReply(conn, id);
    std::free(id);
    ++g_state->registered;
    return status;
}
void interactRequest(SmsConn conn, SmPointer, int) { SmsInteract(conn); }
void interactDone(SmsConn, SmPointer, Bool) {}
void saveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}
void saveYourselfPhase2Request(SmsConn conn, SmPointer) { SmsSaveYourselfPhase2(conn); }
void saveYourselfDone(SmsConn, SmPointer, Bool) { ++g_state->saveDone; }
void closeConnection(SmsConn conn, SmPointer, int count, char** reasons) {
    SmFreeReasons(count, reasons);
    SmsCleanUp(conn);
}
void setProperties(SmsConn, SmPointer, int count, SmProp** props) {
    for (int i = 0; i < count; ++i) SmFreeProperty(props[i]);
    std::free(props);
}
void deleteProperties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i) std::free(names[i]);
    std::free(names);
}
void getProperties(SmsConn conn, SmPointer) { SmsReturnProperties(conn, 0, nullptr); }

Status newClient(SmsConn conn, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**) {
    g_state->clients.push_back(conn);
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask | SmsSaveYourselfDoneProcMask |
            SmsCloseConnectionProcMask | SmsSetPropertiesProcMask | SmsDeletePropertiesProcMask |
            SmsGetPropertiesProcMask;
    callbacks->register_client.callback = registerClient;
    callbacks->interact_request.callback = interactRequest;
    callbacks->interact_done.callback = interactDone;
    callbacks->save_yourself_request.callback = saveYourselfRequest;
    callbacks->save_yourself_phase2_request.callback = saveYourselfPhase2Request;
    callbacks->save_yourself_done.callback = saveYourselfDone;
    callbacks->close_connection.callback = closeConnection;
    callbacks->set_properties.callback = setProperties;
    callbacks->delete_properties.callback = deleteProperties;
    callbacks->get_properties.callback = getProperties;
    return 1;
}

// Local connections of the test's own user only: nothing else reaches the
// socket's folder anyway.
Bool acceptLocal(char*) { return True; }

}  // namespace

SessionManager::SessionManager() : m_state(std::make_unique<State>()) {
    g_state = m_state.get();
    char error[256] = {};
    if (!SmsInitialize("tolvane-tests", "1", newClient, nullptr, acceptLocal, sizeof error, error)) return;
    if (!IceListenForConnections(&m_state->listenCount, &m_state->listenArray, sizeof error, error)) return;
    for (int i = 0; i < m_state->listenCount; ++i) IceSetHostBasedAuthProc(m_state->listenArray[i], acceptLocal);
    char* ids = IceComposeNetworkIdList(m_state->listenCount, m_state->listenArray);
    if (ids) m_state->address = ids;
    std::free(ids);
}

SessionManager::~SessionManager() {
    for (IceConn c : m_state->connections) IceCloseConnection(c);
    if (m_state->listenArray) IceFreeListenObjs(m_state->listenCount, m_state->listenArray);
    g_state = nullptr;
}

const std::string& SessionManager::address() const { return m_state->address; }

bool SessionManager::waitForClient(std::chrono::milliseconds timeout) {
    return m_state->pumpUntil([this] { return m_state->registered > 0; }, timeout);
}

bool SessionManager::saveYourself(std::chrono::milliseconds timeout) {
    const int before = m_state->saveDone;
    for (SmsConn c : m_state->clients) SmsSaveYourself(c, SmSaveBoth, True, SmInteractStyleNone, False);
    const int expected = before + static_cast<int>(m_state->clients.size());
    return m_state->pumpUntil([&] { return m_state->saveDone >= expected; }, timeout);
}

void SessionManager::shutdownCancelled() {
    for (SmsConn c : m_state->clients) SmsShutdownCancelled(c);
    m_state->pump(std::chrono::milliseconds{0});
}

void SessionManager::die() {
    for (SmsConn c : m_state->clients) SmsDie(c);
    m_state->pump(std::chrono::milliseconds{0});
}

}  // namespace tolvane::testsupport
