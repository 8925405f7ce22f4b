// SIGTERM, SIGINT and SIGHUP turned into a readable descriptor: a signal
// handler may do almost nothing, so it writes one byte to a pipe and the
// event loop does the rest.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace tolvane::platform {

namespace {
int g_pipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
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

}  // namespace tolvane::platform
