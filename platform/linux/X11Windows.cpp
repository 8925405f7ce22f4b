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
//
// "Does a tool's window still answer?" on X11: _NET_WM_PING (EWMH), asked of
// the windows that search finds and that list it in WM_PROTOCOLS. A client
// sends the ping back through the root window, so the connection listens
// there; the answer to one question is read at the next one, which is why a
// question never waits for a tool. The windows found are followed from one
// question to the next instead of searched for again: their protocols are
// asked with each ping and read at the next question too, so
// that in the steady state a question neither waits for the server nor
// wakes Tolvane while its replies arrive (waiting for a search's replies one
// by one woke it a hundred times a question).
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

// The windows that carry each title, as far as the server told.
struct WindowSearch {
    std::vector<std::vector<xcb_window_t>> windows;  // per title, each window once
    // Every step was answered: a title without windows has none. Otherwise
    // the windows seen are still there, and nothing is known of the others.
    bool complete = false;
};

struct NameRequests {
    xcb_window_t window;
    std::optional<xcb_get_property_cookie_t> netWmName;
    xcb_get_property_cookie_t wmName;
};

struct X11WindowFinder::Connection {
    xcb_connection_t* c = nullptr;
    std::vector<xcb_window_t> roots;
    xcb_atom_t netWmName = XCB_ATOM_NONE;
    xcb_atom_t netClientList = XCB_ATOM_NONE;
    xcb_atom_t wmProtocols = XCB_ATOM_NONE;
    xcb_atom_t netWmPing = XCB_ATOM_NONE;
    std::chrono::steady_clock::time_point deadline;
    bool timedOut = false;

    // The windows the freeze question follows, by client window. At each
    // question, every followed window is asked for its WM_PROTOCOLS (which
    // also tells that it still exists) and, when it takes part, sent a ping;
    // both are read at the next question, by which time the server has long
    // answered, so a question in the steady state never waits for the
    // server. Its names are read again only when it did not answer: an
    // unanswered window must still be the tool's to count.
    struct Followed {
        std::string title;  // the lower-case title it carries
        bool pingable = false;
        std::uint32_t stamp = 0;  // the ping sent at the last question; 0: none
        bool answered = false;    // that ping came back
        std::optional<xcb_get_property_cookie_t> protocols;
    };
    std::unordered_map<xcb_window_t, Followed> followed;
    std::uint32_t lastStamp = 0;
    // For the titles no followed window carries: those the last full search
    // did not find, when it was made, and whether a window was created,
    // mapped or reparented on a root since (a title is searched for again
    // then, or after a minute: a window may also take a title later).
    std::unordered_set<std::string> searchedAbsent;
    std::chrono::steady_clock::time_point lastFullSearch{};
    bool structureChanged = true;
    // Whether this connection hears what clients send to the roots (where
    // the replies to pings go).
    bool hearsRoots = false;

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

    bool failed() const { return timedOut || xcb_connection_has_error(c); }

    WindowSearch findWindows(const std::vector<std::string>& titles);

    // Both names of a window, asked for up to `lengthInWords` (longer ones
    // cannot match), and read back: `onName` gets each that was readable.
    NameRequests askNames(xcb_window_t w, std::uint32_t lengthInWords) {
        NameRequests n{w, {}, {}};
        if (netWmName != XCB_ATOM_NONE)
            n.netWmName = xcb_get_property(c, 0, w, netWmName, XCB_GET_PROPERTY_TYPE_ANY, 0, lengthInWords);
        n.wmName = xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, lengthInWords);
        return n;
    }
    template <typename OnName>
    void readNames(const NameRequests& n, OnName&& onName) {
        const auto value = [&](unsigned int sequence, bool latin1) {
            auto* r = reply<xcb_get_property_reply_t>(sequence);
            if (!r) return;
            // bytes_after > 0: longer than every title asked for.
            if (r->format == 8 && r->bytes_after == 0 && r->type != XCB_ATOM_NONE) {
                std::string_view text(static_cast<const char*>(xcb_get_property_value(r)),
                                      static_cast<std::size_t>(xcb_get_property_value_length(r)));
                // WM_NAME of type STRING is Latin-1 by ICCCM; anything else
                // we meet there (UTF8_STRING, COMPOUND_TEXT's ASCII) is
                // compared as it is.
                if (latin1 && r->type == XCB_ATOM_STRING)
                    onName(latin1ToUtf8(text));
                else
                    onName(std::string(text));
            }
            std::free(r);
        };
        if (n.netWmName) value(n.netWmName->sequence, false);
        value(n.wmName.sequence, true);
    }
    // Whether a window lists _NET_WM_PING, from its WM_PROTOCOLS; nothing
    // when the window is gone (or the server did not answer: the caller
    // checks).
    std::optional<bool> readProtocols(xcb_get_property_cookie_t cookie) {
        auto* r = reply<xcb_get_property_reply_t>(cookie.sequence);
        if (!r) return std::nullopt;
        bool listed = false;
        if (r->type == XCB_ATOM_ATOM && r->format == 32) {
            const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
            const int n = xcb_get_property_value_length(r) / 4;
            listed = std::find(atoms, atoms + n, netWmPing) != atoms + n;
        }
        std::free(r);
        return listed;
    }
    xcb_get_property_cookie_t askProtocols(xcb_window_t w) {
        return xcb_get_property(c, 0, w, wmProtocols, XCB_ATOM_ATOM, 0, 64);
    }
    // Replies asked for and no longer wanted are thrown away as they come.
    void forget(Followed& f) {
        if (f.protocols) {
            xcb_discard_reply(c, f.protocols->sequence);
            f.protocols.reset();
        }
    }
    void forgetFollowed() {
        for (auto& [w, f] : followed) forget(f);
        followed.clear();
        searchedAbsent.clear();
        structureChanged = true;
    }

    // EWMH has a client send a ping back to the root window, to the clients
    // that watch its substructure: this connection becomes one of them. That
    // also brings every map, move and restack of every top-level window,
    // which takeEvents throws away at each question, so nothing piles up
    // while questions are asked.
    void hearRoots() {
        if (hearsRoots) return;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        for (const xcb_window_t root : roots) xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        hearsRoots = true;
    }

    // Reads everything the server has sent, keeps the replies to our own
    // pings (a reply to an older ping, or to the window manager's, is not an
    // answer to the question asked last), notes a change of the roots'
    // windows, and drops the rest.
    void takeEvents() {
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
            switch (e->response_type & 0x7F) {
                case XCB_CLIENT_MESSAGE: {
                    const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(e);
                    if (m->format == 32 && m->type == wmProtocols && netWmPing != XCB_ATOM_NONE &&
                        m->data.data32[0] == netWmPing) {
                        const auto it = followed.find(m->data.data32[2]);
                        if (it != followed.end() && it->second.stamp != 0 &&
                            it->second.stamp == m->data.data32[1])
                            it->second.answered = true;
                    }
                    break;
                }
                case XCB_CREATE_NOTIFY:
                case XCB_MAP_NOTIFY:
                case XCB_REPARENT_NOTIFY: structureChanged = true; break;
                default: break;
            }
            std::free(e);
        }
    }

    // The stamp a ping carries back: ours, never 0 (CurrentTime).
    std::uint32_t nextStamp() {
        if (++lastStamp == 0) ++lastStamp;
        return lastStamp;
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
    const auto wmProtocols = intern("WM_PROTOCOLS");
    const auto netWmPing = intern("_NET_WM_PING");
    xcb_flush(c);
    conn->netWmName = conn->atom(netWmName);
    conn->netClientList = conn->atom(netClientList);
    conn->wmProtocols = conn->atom(wmProtocols);
    conn->netWmPing = conn->atom(netWmPing);
    if (conn->timedOut || xcb_connection_has_error(c)) return false;
    m_connection = std::move(conn);
    return true;
}

// Every question runs through here: an Unknown for every title during the
// quiet time after an unanswered question, or when no connection can be had
// in time; otherwise `pass` runs on the connection with the question's
// deadline and returns its answers and whether they are settled. Unsettled
// answers start a quiet time, and a connection that timed out or broke is
// dropped (with what it remembered of pings).
template <typename Answer, typename Pass>
std::vector<Answer> X11WindowFinder::ask(std::size_t count, Answer unknown, Pass pass) {
    try {
        std::lock_guard lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        if (now < m_quietUntil) return std::vector<Answer>(count, unknown);
        bool settled = false;
        struct Quiet {
            bool& settled;
            std::chrono::steady_clock::time_point& until;
            ~Quiet() {
                if (!settled) until = std::chrono::steady_clock::now() + kQuietAfterUnknown;
            }
        } quiet{settled, m_quietUntil};

        SigpipeGuard sigpipe;
        const auto deadline = now + kPassTimeout;
        if (m_connection && xcb_connection_has_error(m_connection->c)) m_connection.reset();
        if (!m_connection && !connect(deadline)) return std::vector<Answer>(count, unknown);

        Connection& x = *m_connection;
        x.deadline = deadline;
        x.timedOut = false;
        auto [answers, complete] = pass(x);
        if (x.failed()) m_connection.reset();
        settled = complete;
        return std::move(answers);
    } catch (...) {
        // Allocation failure: nothing is known, and nothing is thrown into
        // the verification timer.
        return std::vector<Answer>(count, unknown);
    }
}

WindowSearch X11WindowFinder::Connection::findWindows(const std::vector<std::string>& titles) {
    WindowSearch search;
    search.windows.resize(titles.size());

    // Titles by their lower-case form; several titles may share one.
    std::unordered_map<std::string, std::vector<std::size_t>> wanted;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        if (titles[i].empty()) continue;  // an untitled window is no tool's
        wanted[lowerAscii(titles[i])].push_back(i);
        longest = std::max(longest, titles[i].size());
    }
    if (wanted.empty()) {
        search.complete = true;
        return search;
    }
    // Ask for a little more than the longest title: a longer name cannot
    // match, and reading it whole would only cost bandwidth.
    const auto lengthInWords = static_cast<std::uint32_t>(longest / 4 + 2);

    // Step 1: the root windows' children and the window manager's list.
    std::vector<xcb_query_tree_cookie_t> rootTrees;
    std::vector<xcb_get_property_cookie_t> clientLists;
    for (const xcb_window_t root : roots) {
        rootTrees.push_back(xcb_query_tree(c, root));
        if (netClientList != XCB_ATOM_NONE)
            clientLists.push_back(xcb_get_property(c, 0, root, netClientList, XCB_ATOM_WINDOW, 0, 1u << 16));
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
        if (auto* r = reply<xcb_query_tree_reply_t>(cookie.sequence)) {
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
        if (auto* r = reply<xcb_get_property_reply_t>(cookie.sequence)) {
            if (r->type == XCB_ATOM_WINDOW && r->format == 32) {
                const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(r));
                const int n = xcb_get_property_value_length(r) / 4;
                for (int i = 0; i < n; ++i) addCandidate(windows[i]);
            }
            std::free(r);
        }
    }
    if (failed() || !rootsRead) return search;

    const auto check = [&](xcb_window_t w, const std::string& name) {
        if (name.empty()) return;
        if (auto it = wanted.find(lowerAscii(name)); it != wanted.end()) {
            for (const std::size_t i : it->second) {
                // Both names of one window may match: it is still one window.
                auto& carriers = search.windows[i];
                if (carriers.empty() || carriers.back() != w) carriers.push_back(w);
            }
        }
    };
    const auto readNamesOf = [&](const NameRequests& n) {
        readNames(n, [&](const std::string& name) { check(n.window, name); });
    };

    // Step 2: the names of the root children and the listed clients.
    // With every tool running, the answer is complete here.
    std::vector<NameRequests> names;
    names.reserve(candidates.size());
    for (const xcb_window_t w : candidates) names.push_back(askNames(w, lengthInWords));
    xcb_flush(c);
    for (const auto& n : names) readNamesOf(n);

    const auto allFound = [&] {
        for (const auto& [lowered, indexes] : wanted) {
            if (search.windows[indexes.front()].empty()) return false;
        }
        return true;
    };
    if (!allFound() && !failed()) {
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
            if (auto* r = reply<xcb_query_tree_reply_t>(cookie.sequence)) {
                const xcb_window_t* kids = xcb_query_tree_children(r);
                const int n = xcb_query_tree_children_length(r);
                for (int i = 0; i < n; ++i) {
                    if (seen.insert(kids[i]).second) inFrames.push_back(kids[i]);
                }
                std::free(r);
            }
        }
        names.clear();
        for (const xcb_window_t w : inFrames) names.push_back(askNames(w, lengthInWords));
        xcb_flush(c);
        for (const auto& n : names) readNamesOf(n);
    }
    search.complete = !failed();
    return search;
}

std::vector<WindowPresence> X11WindowFinder::windowsPresence(const std::vector<std::string>& titles) {
    if (titles.empty()) return {};
    return ask(titles.size(), WindowPresence::Unknown, [&](Connection& x) {
        const WindowSearch search = x.findWindows(titles);
        // Replies to pings may be among what came meanwhile: they count at
        // the next windowsResponse.
        x.takeEvents();
        std::vector<WindowPresence> answers(titles.size(), WindowPresence::Unknown);
        // What was seen stays seen when the server stops answering midway.
        for (std::size_t i = 0; i < titles.size(); ++i) {
            if (!search.windows[i].empty())
                answers[i] = WindowPresence::Found;
            else if (search.complete)
                answers[i] = WindowPresence::Absent;
        }
        return std::pair{std::move(answers), search.complete};
    });
}

std::vector<WindowResponse> X11WindowFinder::windowsResponse(const std::vector<std::string>& titles) {
    if (titles.empty()) {
        // Nothing asked about: nothing to follow.
        std::lock_guard lock(m_mutex);
        if (m_connection) m_connection->forgetFollowed();
        return {};
    }
    return ask(titles.size(), WindowResponse::Unknown, [&](Connection& x) {
        std::vector<WindowResponse> answers(titles.size(), WindowResponse::Unknown);
        const auto unsettled = [&] {
            // The pings out can no longer be told apart from the next ones:
            // start again, every window Unknown at the next question.
            x.forgetFollowed();
            return std::pair{answers, false};
        };
        if (x.wmProtocols == XCB_ATOM_NONE || x.netWmPing == XCB_ATOM_NONE) return unsettled();
        x.hearRoots();
        const auto now = std::chrono::steady_clock::now();

        // 1. What the requests sent at the last question tell: a window gone
        //    is no longer followed.
        for (auto it = x.followed.begin(); it != x.followed.end();) {
            auto& f = it->second;
            bool exists = true;
            if (f.protocols) {
                const auto cookie = *f.protocols;
                f.protocols.reset();
                const auto read = x.readProtocols(cookie);
                if (x.failed()) return unsettled();
                exists = read.has_value();
                f.pingable = read.value_or(false);
            }
            if (!exists) {
                it = x.followed.erase(it);
            } else {
                ++it;
            }
        }
        // 2. The answers to the last pings, which came after those replies.
        x.takeEvents();
        // 3. A window that did not answer may have gone since it was last
        //    read, or its id may now be another's, and a gone window is
        //    unknown, never "not answering": those alone are read again now,
        //    names included (a freeze is rare; the steady state does not
        //    wait here).
        std::vector<std::pair<xcb_window_t, NameRequests>> recheck;
        for (const auto& [w, f] : x.followed) {
            if (f.stamp != 0 && !f.answered)
                recheck.emplace_back(w, x.askNames(w, static_cast<std::uint32_t>(f.title.size() / 4 + 2)));
        }
        if (!recheck.empty()) {
            xcb_flush(x.c);
            for (const auto& [w, names] : recheck) {
                auto& f = x.followed.at(w);
                bool titled = false;
                x.readNames(names, [&](const std::string& name) { titled = titled || lowerAscii(name) == f.title; });
                if (x.failed()) return unsettled();
                if (!titled) x.followed.erase(w);
            }
        }

        // 4. The answer for each title: it answers if one of its pinged
        //    windows did, it does not if none of them did.
        std::unordered_map<std::string, std::vector<std::size_t>> asked;
        for (std::size_t i = 0; i < titles.size(); ++i) {
            if (!titles[i].empty()) asked[lowerAscii(titles[i])].push_back(i);
        }
        std::unordered_set<std::string> carried;
        for (const auto& [w, f] : x.followed) {
            const auto it = asked.find(f.title);
            if (it == asked.end()) continue;
            carried.insert(f.title);
            if (f.stamp == 0) continue;  // not asked before: nothing to tell yet
            for (const std::size_t i : it->second) {
                if (f.answered)
                    answers[i] = WindowResponse::Answers;
                else if (answers[i] != WindowResponse::Answers)
                    answers[i] = WindowResponse::NotAnswering;
            }
        }

        // 5. The titles no followed window carries: searched for when they
        //    were not searched for last time, when the roots' windows changed
        //    since, or after a minute. Windows found are followed from now.
        std::vector<std::string> missing;
        bool searchDue = x.structureChanged || now - x.lastFullSearch >= std::chrono::minutes(1);
        for (const auto& [title, indexes] : asked) {
            if (carried.count(title)) continue;
            missing.push_back(title);
            if (!x.searchedAbsent.count(title)) searchDue = true;
        }
        if (!missing.empty() && searchDue) {
            x.structureChanged = false;  // what changes during the search is heard next time
            const WindowSearch search = x.findWindows(missing);
            if (!search.complete) return unsettled();
            x.lastFullSearch = now;
            x.searchedAbsent.clear();
            std::vector<std::pair<xcb_window_t, xcb_get_property_cookie_t>> protocolRequests;
            for (std::size_t k = 0; k < missing.size(); ++k) {
                if (search.windows[k].empty()) x.searchedAbsent.insert(missing[k]);
                for (const xcb_window_t w : search.windows[k]) {
                    if (x.followed.count(w)) continue;  // carries two titles asked: followed for the first
                    x.followed[w].title = missing[k];
                    protocolRequests.emplace_back(w, x.askProtocols(w));
                }
            }
            xcb_flush(x.c);
            for (const auto& [w, cookie] : protocolRequests) x.followed[w].pingable = x.readProtocols(cookie).value_or(false);
            if (x.failed()) return unsettled();
        }

        // 6. Ask again, of the windows of the titles asked now only: their
        //    protocols, read at the next question, and a ping.
        const std::uint32_t stamp = x.nextStamp();
        for (auto it = x.followed.begin(); it != x.followed.end();) {
            auto& f = it->second;
            if (!asked.count(f.title)) {
                x.forget(f);
                it = x.followed.erase(it);
                continue;
            }
            const xcb_window_t w = it->first;
            f.protocols = x.askProtocols(w);
            f.stamp = 0;
            f.answered = false;
            if (f.pingable) {
                xcb_client_message_event_t ping{};
                ping.response_type = XCB_CLIENT_MESSAGE;
                ping.format = 32;
                ping.window = w;
                ping.type = x.wmProtocols;
                ping.data.data32[0] = x.netWmPing;
                ping.data.data32[1] = stamp;
                ping.data.data32[2] = w;
                // No event mask: the event goes to the client that made the
                // window, whatever it selected.
                xcb_send_event(x.c, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ping));
                f.stamp = stamp;
            }
            ++it;
        }
        xcb_flush(x.c);
        return std::pair{std::move(answers), true};
    });
}

}  // namespace tolvane::platform::linuxbackend
