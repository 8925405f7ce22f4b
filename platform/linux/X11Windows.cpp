// "Is a tool running?" on X11: does a top-level window carry its title.
//
// What counts as top-level: the children of each root window, the clients the
// window manager lists in _NET_CLIENT_LIST, and the children of each root
// child, because a reparenting window manager (openbox, xfwm, mutter...) puts
// every client inside a frame of its own. Mapped or not: a tool in standby
// keeps an unmapped window, as a hidden window still counts on Windows.
//
// Tolvane asks this for up to thirty tools at a time, so a pass costs two
// round trips to the server whatever the number of windows (every request of
// a step is sent before any reply is read), and two more only when a title is
// still missing after them.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>  // xcb_poll_for_reply: waiting for a reply with a bound

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/linux/LinuxBackend.h"

namespace tolvane::platform::linuxbackend {

namespace {

// Longest one question waits for the server, connection and atoms included.
// A server that is alive answers in well under a millisecond; one that is
// grabbed by another client, stopped or swamped must not freeze Tolvane's
// window, so the question gives up, answers "unknown", and the connection is
// opened anew.
constexpr auto kPassTimeout = std::chrono::milliseconds(1000);
// After a question the server did not answer, the next ones answer
// "unknown" at once for this long instead of waiting a second each: the
// verification tick comes four times a second.
constexpr auto kQuietAfterUnknown = std::chrono::seconds(5);

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// A write to the socket of a server that has gone raises SIGPIPE, which would
// end Tolvane. libxcb usually notices the closed socket while reading first,
// but not on every path, so SIGPIPE is blocked on this thread for the length
// of a pass, and one that we caused is discarded (one that was already
// pending is left alone).
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous);
    }
    ~SigpipeGuard() {
        if (!m_wasPending) {
            sigset_t pending;
            sigemptyset(&pending);
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec zero{0, 0};
                while (sigtimedwait(&m_pipe, nullptr, &zero) < 0 && errno == EINTR) {
                }
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_previous;
    bool m_wasPending = false;
};

}  // namespace

struct X11WindowFinder::Connection {
    xcb_connection_t* c = nullptr;
    std::vector<xcb_window_t> roots;
    xcb_atom_t netWmName = XCB_ATOM_NONE;
    xcb_atom_t netClientList = XCB_ATOM_NONE;
    std::chrono::steady_clock::time_point deadline;
    bool timedOut = false;

    ~Connection() {
        if (c) xcb_disconnect(c);
    }

    // Waits for one reply without ever blocking past the deadline: xcb's own
    // wait has no timeout. Returns nullptr on an X error (a window that went
    // away between two steps, say) and on timeout or a broken connection.
    template <typename Reply>
    Reply* reply(unsigned int sequence) {
        if (timedOut) return nullptr;
        for (;;) {
            void* r = nullptr;
            xcb_generic_error_t* error = nullptr;
            if (xcb_poll_for_reply(c, sequence, &r, &error)) {
                std::free(error);
                return static_cast<Reply*>(r);
            }
            if (xcb_connection_has_error(c)) return nullptr;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0) {
                timedOut = true;
                return nullptr;
            }
            pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left) + 1);
            if (ready < 0 && errno != EINTR) return nullptr;
        }
    }

    xcb_atom_t atom(xcb_intern_atom_cookie_t cookie) {
        auto* r = reply<xcb_intern_atom_reply_t>(cookie.sequence);
        if (!r) return XCB_ATOM_NONE;
        const xcb_atom_t a = r->atom;
        std::free(r);
        return a;
    }
};

// xcb_connect has no timeout, and a server that accepts the socket but does
// not answer (stopped, swamped) would keep it forever. So it runs on a thread
// of its own; the caller waits a bounded time and, if need be, takes the
// connection at a later call. A connection nobody wants any more is closed by
// that thread.
struct X11WindowFinder::PendingConnect {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    xcb_connection_t* c = nullptr;
};

X11WindowFinder::X11WindowFinder() = default;

X11WindowFinder::~X11WindowFinder() {
    if (m_pending) {
        std::lock_guard lock(m_pending->mutex);
        m_pending->abandoned = true;
        if (m_pending->finished && m_pending->c) xcb_disconnect(m_pending->c);
    }
}

bool X11WindowFinder::connect(std::chrono::steady_clock::time_point deadline) {
    if (!m_pending) {
        // $DISPLAY is read at each (re)connection, so a Tolvane whose server
        // was restarted finds the new one.
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) return false;
        auto pending = std::make_shared<PendingConnect>();
        std::thread([pending, name = std::string(display)] {
            xcb_connection_t* c = xcb_connect(name.c_str(), nullptr);
            std::lock_guard lock(pending->mutex);
            pending->finished = true;
            if (pending->abandoned)
                xcb_disconnect(c);
            else
                pending->c = c;
            pending->done.notify_all();
        }).detach();
        m_pending = std::move(pending);
    }

    xcb_connection_t* c = nullptr;
    {
        std::unique_lock lock(m_pending->mutex);
        if (!m_pending->done.wait_until(lock, deadline, [&] { return m_pending->finished; })) return false;
        c = m_pending->c;
    }
    m_pending.reset();

    auto conn = std::make_unique<Connection>();
    conn->c = c;
    if (!c || xcb_connection_has_error(c)) return false;  // the Connection closes it
    conn->deadline = deadline;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it))
        conn->roots.push_back(it.data->root);
    const auto intern = [&](std::string_view name) {
        return xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data());
    };
    const auto netWmName = intern("_NET_WM_NAME");
    const auto netClientList = intern("_NET_CLIENT_LIST");
    xcb_flush(c);
    conn->netWmName = conn->atom(netWmName);
    conn->netClientList = conn->atom(netClientList);
    if (conn->timedOut || xcb_connection_has_error(c)) return false;
    m_connection = std::move(conn);
    return true;
}

std::vector<WindowPresence> X11WindowFinder::windowsPresence(const std::vector<std::string>& titles) {
    std::vector<WindowPresence> answers(titles.size(), WindowPresence::Unknown);
    if (titles.empty()) return answers;
    try {
        std::lock_guard lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        if (now < m_quietUntil) return answers;
        // Whatever is not settled by the end is unknown, and the next
        // questions keep quiet for a while.
        bool settled = false;
        struct Quiet {
            bool& settled;
            std::chrono::steady_clock::time_point& until;
            ~Quiet() {
                if (!settled) until = std::chrono::steady_clock::now() + kQuietAfterUnknown;
            }
        } quiet{settled, m_quietUntil};
        std::vector<bool> found(titles.size(), false);
        const auto answer = [&] {
            for (std::size_t i = 0; i < titles.size(); ++i)
                answers[i] = found[i] ? WindowPresence::Found : WindowPresence::Absent;
            settled = true;
            return answers;
        };
        // What was seen stays seen when the server stops answering midway.
        const auto partial = [&] {
            for (std::size_t i = 0; i < titles.size(); ++i)
                if (found[i]) answers[i] = WindowPresence::Found;
            return answers;
        };

        SigpipeGuard sigpipe;
        const auto deadline = now + kPassTimeout;
        if (m_connection && xcb_connection_has_error(m_connection->c)) m_connection.reset();
        if (!m_connection && !connect(deadline)) return answers;

        Connection& x = *m_connection;
        xcb_connection_t* const c = x.c;
        x.deadline = deadline;
        x.timedOut = false;

        // Titles by their lower-case form; several titles may share one.
        std::unordered_map<std::string, std::vector<std::size_t>> wanted;
        std::size_t longest = 0;
        for (std::size_t i = 0; i < titles.size(); ++i) {
            if (titles[i].empty()) continue;  // an untitled window is no tool's: absent
            wanted[lowerAscii(titles[i])].push_back(i);
            longest = std::max(longest, titles[i].size());
        }
        if (wanted.empty()) return answer();
        // Ask for a little more than the longest title: a longer name cannot
        // match, and reading it whole would only cost bandwidth.
        const auto lengthInWords = static_cast<std::uint32_t>(longest / 4 + 2);

        // Step 1: the root windows' children and the window manager's list.
        std::vector<xcb_query_tree_cookie_t> rootTrees;
        std::vector<xcb_get_property_cookie_t> clientLists;
        for (const xcb_window_t root : x.roots) {
            rootTrees.push_back(xcb_query_tree(c, root));
            if (x.netClientList != XCB_ATOM_NONE)
                clientLists.push_back(xcb_get_property(c, 0, root, x.netClientList, XCB_ATOM_WINDOW, 0, 1u << 16));
        }
        xcb_flush(c);

        std::vector<xcb_window_t> rootChildren;
        std::vector<xcb_window_t> candidates;
        std::unordered_set<xcb_window_t> seen;
        const auto addCandidate = [&](xcb_window_t w) {
            if (w != XCB_WINDOW_NONE && seen.insert(w).second) candidates.push_back(w);
        };
        bool rootsRead = true;
        for (const auto& cookie : rootTrees) {
            if (auto* r = x.reply<xcb_query_tree_reply_t>(cookie.sequence)) {
                const xcb_window_t* kids = xcb_query_tree_children(r);
                const int n = xcb_query_tree_children_length(r);
                for (int i = 0; i < n; ++i) {
                    rootChildren.push_back(kids[i]);
                    addCandidate(kids[i]);
                }
                std::free(r);
            } else {
                rootsRead = false;  // a root's list of windows that cannot be read
            }
        }
        for (const auto& cookie : clientLists) {
            if (auto* r = x.reply<xcb_get_property_reply_t>(cookie.sequence)) {
                if (r->type == XCB_ATOM_WINDOW && r->format == 32) {
                    const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(r));
                    const int n = xcb_get_property_value_length(r) / 4;
                    for (int i = 0; i < n; ++i) addCandidate(windows[i]);
                }
                std::free(r);
            }
        }
        if (x.timedOut || xcb_connection_has_error(c)) {
            m_connection.reset();
            return answers;
        }
        if (!rootsRead) return answers;

        struct NameRequests {
            std::optional<xcb_get_property_cookie_t> netWmName;
            xcb_get_property_cookie_t wmName;
        };
        const auto askNames = [&](xcb_window_t w) {
            NameRequests n{};
            if (x.netWmName != XCB_ATOM_NONE)
                n.netWmName = xcb_get_property(c, 0, w, x.netWmName, XCB_GET_PROPERTY_TYPE_ANY, 0, lengthInWords);
            n.wmName = xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, lengthInWords);
            return n;
        };
        const auto check = [&](const std::string& name) {
            if (name.empty()) return;
            if (auto it = wanted.find(lowerAscii(name)); it != wanted.end()) {
                for (const std::size_t i : it->second) found[i] = true;
            }
        };
        const auto readNames = [&](const NameRequests& n) {
            const auto value = [&](unsigned int sequence, bool latin1) {
                auto* r = x.reply<xcb_get_property_reply_t>(sequence);
                if (!r) return;
                // bytes_after > 0: longer than every title asked for.
                if (r->format == 8 && r->bytes_after == 0 && r->type != XCB_ATOM_NONE) {
                    std::string_view text(static_cast<const char*>(xcb_get_property_value(r)),
                                          static_cast<std::size_t>(xcb_get_property_value_length(r)));
                    // WM_NAME of type STRING is Latin-1 by ICCCM; anything else
                    // we meet there (UTF8_STRING, COMPOUND_TEXT's ASCII) is
                    // compared as it is.
                    if (latin1 && r->type == XCB_ATOM_STRING)
                        check(latin1ToUtf8(text));
                    else
                        check(std::string(text));
                }
                std::free(r);
            };
            if (n.netWmName) value(n.netWmName->sequence, false);
            value(n.wmName.sequence, true);
        };

        // Step 2: the names of the root children and the listed clients.
        // With every tool running, the answer is complete here.
        std::vector<NameRequests> names;
        names.reserve(candidates.size());
        for (const xcb_window_t w : candidates) names.push_back(askNames(w));
        xcb_flush(c);
        for (const auto& n : names) readNames(n);

        const auto allFound = [&] {
            for (const auto& [lowered, indexes] : wanted) {
                if (!found[indexes.front()]) return false;
            }
            return true;
        };
        if (!allFound() && !x.timedOut && !xcb_connection_has_error(c)) {
            // Steps 3 and 4, only for a title still missing: one level down
            // under each root child, where a reparenting window manager's
            // frames hold their clients (one that keeps no _NET_CLIENT_LIST,
            // or one caught between framing a client and listing it). Frames
            // hold dozens of decoration windows each, which is why this is
            // not done on every pass.
            std::vector<xcb_query_tree_cookie_t> frameTrees;
            frameTrees.reserve(rootChildren.size());
            for (const xcb_window_t w : rootChildren) frameTrees.push_back(xcb_query_tree(c, w));
            xcb_flush(c);
            std::vector<xcb_window_t> inFrames;
            for (const auto& cookie : frameTrees) {
                if (auto* r = x.reply<xcb_query_tree_reply_t>(cookie.sequence)) {
                    const xcb_window_t* kids = xcb_query_tree_children(r);
                    const int n = xcb_query_tree_children_length(r);
                    for (int i = 0; i < n; ++i) {
                        if (seen.insert(kids[i]).second) inFrames.push_back(kids[i]);
                    }
                    std::free(r);
                }
            }
            names.clear();
            for (const xcb_window_t w : inFrames) names.push_back(askNames(w));
            xcb_flush(c);
            for (const auto& n : names) readNames(n);
        }

        // We select no events, but drop anything the server may have queued
        // so that the connection never accumulates memory.
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) std::free(e);

        if (x.timedOut || xcb_connection_has_error(c)) {
            m_connection.reset();
            return partial();
        }
        return answer();
    } catch (...) {
        // Allocation failure: nothing is known, and nothing is thrown into
        // the verification timer.
        return std::vector<WindowPresence>(titles.size(), WindowPresence::Unknown);
    }
}

}  // namespace tolvane::platform::linuxbackend
