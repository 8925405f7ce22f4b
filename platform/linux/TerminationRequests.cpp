// SIGTERM, SIGINT and SIGHUP turned into a readable descriptor: a signal
// handler may do almost nothing, so it writes the signal's number to a pipe
// and the event loop does the rest (and can say which signal asked).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace tolvane::platform {

namespace {
int g_pipe[2] = {-1, -1};

void onTerminationSignal(int sig) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(sig);
    // Non-blocking: a full pipe already says everything.
    [[maybe_unused]] const auto n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}
}  // namespace

int terminationRequests() {
    if (g_pipe[0] >= 0) return g_pipe[0];
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return -1;
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
    return g_pipe[0];
}

std::string takeTerminationRequest() {
    if (g_pipe[0] < 0) return {};
    unsigned char byte = 0;
    if (::read(g_pipe[0], &byte, 1) != 1) return {};
    switch (byte) {
        case SIGTERM: return "SIGTERM";
        case SIGINT: return "SIGINT";
        case SIGHUP: return "SIGHUP";
        default: return "signal " + std::to_string(byte);
    }
}

// X11 sends no message that asks a program to end: the window manager's
// close is the operator's close box, and the session manager speaks to the
// toolkit directly.
WindowMessage classifyWindowMessage(const void*) { return WindowMessage::Other; }

std::optional<std::uint32_t> ownSessionId() { return std::nullopt; }

}  // namespace tolvane::platform
