#include "tests/support/posix/XServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <stdexcept>

#include "tests/support/posix/Processes.h"

namespace tolvane::testsupport {

namespace {

xcb_connection_t* conn(void* c) { return static_cast<xcb_connection_t*>(c); }

void endAndReap(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGCONT);  // a frozen server must be able to act on SIGTERM
    ::kill(pid, SIGTERM);
    if (!waitForExit(pid, 3000ms)) {
        ::kill(pid, SIGKILL);
        waitForExit(pid, 3000ms);
    }
    pid = -1;
}

pid_t startWithEnvironment(const std::vector<std::string>& argv, int keepFd, const std::string& display) {
    std::vector<std::string> args = argv;
    std::vector<char*> cargv;
    for (auto& a : args) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(devNull, 1);
        ::dup2(devNull, 2);
        if (keepFd >= 0) {
            ::dup2(keepFd, 3);  // clears close-on-exec on the copy
            ::close_range(4, ~0u, 0);
        } else {
            ::close_range(3, ~0u, 0);
        }
        if (!display.empty()) ::setenv("DISPLAY", display.c_str(), 1);
        ::execvp(cargv[0], cargv.data());
        ::_exit(127);
    }
    return pid;
}

}  // namespace

XServer::XServer(bool withWindowManager) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    m_server = startWithEnvironment(
        {"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"}, fds[1], {});
    ::close(fds[1]);
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (number.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buf[32];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        endAndReap(m_server);
        throw std::runtime_error("Xvfb did not report a display");
    }
    m_display.assign(1, ':');
    m_display += number.substr(0, number.find('\n'));

    if (withWindowManager) {
        m_windowManager = startWithEnvironment({"openbox", "--sm-disable"}, -1, m_display);
        // openbox announces itself (_NET_SUPPORTING_WM_CHECK) a little before
        // it manages windows, and misses one mapped in between. Ready means:
        // a window mapped now gets framed.
        XProbe probe(m_display);
        const auto deadline = std::chrono::steady_clock::now() + 15s;
        bool managing = false;
        while (!managing && std::chrono::steady_clock::now() < deadline) {
            if (!probe.windowManagerRunning()) {
                waitUntil([&] { return probe.windowManagerRunning(); }, 100ms);
                continue;
            }
            managing = probe.mappedWindowGetsFramed(500ms);
        }
        if (!managing) {
            endAndReap(m_windowManager);
            endAndReap(m_server);
            throw std::runtime_error("openbox did not start");
        }
    }
}

XServer::~XServer() { stop(); }

void XServer::makeCurrent() const { ::setenv("DISPLAY", m_display.c_str(), 1); }

void XServer::freeze() {
    if (m_server > 0) ::kill(m_server, SIGSTOP);
}

void XServer::thaw() {
    if (m_server > 0) ::kill(m_server, SIGCONT);
}

void XServer::stop() {
    endAndReap(m_windowManager);
    endAndReap(m_server);
}

XProbe::XProbe(const std::string& display) {
    m_c = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(conn(m_c))) return;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(conn(m_c))).data->root;
}

XProbe::~XProbe() {
    if (m_c) xcb_disconnect(conn(m_c));
}

bool XProbe::connected() const { return m_c && !xcb_connection_has_error(conn(m_c)); }

std::uint32_t XProbe::atom(const std::string& name) {
    auto* r = xcb_intern_atom_reply(
        conn(m_c), xcb_intern_atom(conn(m_c), 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
    const std::uint32_t a = r ? r->atom : 0;
    std::free(r);
    return a;
}

std::vector<std::uint32_t> XProbe::children(std::uint32_t window) {
    std::vector<std::uint32_t> out;
    auto* r = xcb_query_tree_reply(conn(m_c), xcb_query_tree(conn(m_c), window), nullptr);
    if (!r) return out;
    const auto* kids = xcb_query_tree_children(r);
    out.assign(kids, kids + xcb_query_tree_children_length(r));
    std::free(r);
    return out;
}

std::optional<std::uint32_t> XProbe::parentOf(std::uint32_t window) {
    auto* r = xcb_query_tree_reply(conn(m_c), xcb_query_tree(conn(m_c), window), nullptr);
    if (!r) return std::nullopt;
    const std::uint32_t parent = r->parent;
    std::free(r);
    return parent;
}

std::optional<std::string> XProbe::property(std::uint32_t window, const std::string& name) {
    auto* r = xcb_get_property_reply(
        conn(m_c), xcb_get_property(conn(m_c), 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 16), nullptr);
    if (!r) return std::nullopt;
    std::optional<std::string> out;
    if (r->type != XCB_ATOM_NONE) {
        const auto* bytes = static_cast<const char*>(xcb_get_property_value(r));
        // The length is in bytes already, whatever the format.
        out = std::string(bytes, static_cast<std::size_t>(xcb_get_property_value_length(r)));
    }
    std::free(r);
    return out;
}

std::optional<std::uint32_t> XProbe::cardinalProperty(std::uint32_t window, const std::string& name,
                                                      std::size_t index) {
    const auto raw = property(window, name);
    if (!raw || raw->size() < (index + 1) * 4) return std::nullopt;
    std::uint32_t value = 0;
    std::memcpy(&value, raw->data() + index * 4, 4);
    return value;
}

std::optional<std::uint32_t> XProbe::windowOfProcess(pid_t pid) {
    std::vector<std::uint32_t> level{m_root};
    for (int depth = 0; depth < 3; ++depth) {
        std::vector<std::uint32_t> next;
        for (const auto w : level) {
            for (const auto child : children(w)) {
                if (cardinalProperty(child, "_NET_WM_PID") == static_cast<std::uint32_t>(pid)) return child;
                next.push_back(child);
            }
        }
        level = std::move(next);
    }
    return std::nullopt;
}

std::optional<XProbe::MapState> XProbe::mapState(std::uint32_t window) {
    auto* r = xcb_get_window_attributes_reply(conn(m_c), xcb_get_window_attributes(conn(m_c), window), nullptr);
    if (!r) return std::nullopt;
    const auto s = r->map_state;
    std::free(r);
    if (s == XCB_MAP_STATE_VIEWABLE) return MapState::Viewable;
    if (s == XCB_MAP_STATE_UNVIEWABLE) return MapState::Unviewable;
    return MapState::Unmapped;
}

bool trayAreaOwned(const std::string& display) {
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    bool owned = false;
    if (!xcb_connection_has_error(c)) {
        static const char name[] = "_NET_SYSTEM_TRAY_S0";
        auto* a = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
        if (a) {
            auto* o = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, a->atom), nullptr);
            owned = o && o->owner != XCB_NONE;
            std::free(o);
        }
        std::free(a);
    }
    xcb_disconnect(c);
    return owned;
}

pid_t startTrayer() {
    return spawnChild("/usr/bin/trayer",
                      {"trayer", "--edge", "top", "--align", "left", "--widthtype", "request", "--height", "32"});
}

std::vector<std::uint32_t> XProbe::trayPanelWindows(const std::string& classPart) {
    const auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    std::vector<std::uint32_t> found;
    std::function<void(std::uint32_t, int, bool)> walk = [&](std::uint32_t w, int depth, bool inPanel) {
        const auto name = property(w, "WM_NAME");
        inPanel = inPanel || (name && *name == "panel");
        const auto cls = property(w, "WM_CLASS");
        if (inPanel && cls && lower(*cls).find(lower(classPart)) != std::string::npos) found.push_back(w);
        if (depth < 6)
            for (const auto child : children(w)) walk(child, depth + 1, inPanel);
    };
    walk(m_root, 0, false);
    return found;
}

std::optional<std::size_t> XProbe::colourCount(std::uint32_t window) {
    auto* geometry = xcb_get_geometry_reply(conn(m_c), xcb_get_geometry(conn(m_c), window), nullptr);
    if (!geometry) return std::nullopt;
    const auto all = pixels(window, 0, 0, geometry->width, geometry->height);
    std::free(geometry);
    if (!all) return std::nullopt;
    std::set<std::uint32_t> colours;
    for (const std::uint32_t pixel : *all) colours.insert(pixel & 0xFFFFFFu);
    return colours.size();
}

std::optional<std::vector<std::uint32_t>> XProbe::pixels(std::uint32_t window, int x, int y, int width, int height) {
    auto* image = xcb_get_image_reply(conn(m_c),
                                      xcb_get_image(conn(m_c), XCB_IMAGE_FORMAT_Z_PIXMAP, window, std::int16_t(x),
                                                    std::int16_t(y), std::uint16_t(width), std::uint16_t(height), ~0u),
                                      nullptr);
    if (!image) return std::nullopt;
    std::vector<std::uint32_t> out(static_cast<std::size_t>(xcb_get_image_data_length(image)) / 4);
    std::memcpy(out.data(), xcb_get_image_data(image), out.size() * 4);
    std::free(image);
    return out;
}

void XProbe::grabServer() {
    // A round trip after the grab: when this returns, the server holds it.
    xcb_grab_server(conn(m_c));
    std::free(xcb_get_input_focus_reply(conn(m_c), xcb_get_input_focus(conn(m_c)), nullptr));
}

void XProbe::ungrabServer() {
    xcb_ungrab_server(conn(m_c));
    xcb_flush(conn(m_c));
}

bool XProbe::mappedWindowGetsFramed(std::chrono::milliseconds timeout) {
    const std::uint32_t w = createWindow(0, std::nullopt, std::nullopt);
    xcb_map_window(conn(m_c), w);
    xcb_flush(conn(m_c));
    const bool framed = waitUntil([&] { return parentOf(w).value_or(m_root) != m_root; }, timeout);
    xcb_destroy_window(conn(m_c), w);
    std::free(xcb_get_input_focus_reply(conn(m_c), xcb_get_input_focus(conn(m_c)), nullptr));
    return framed;
}

bool XProbe::windowManagerRunning() {
    if (!connected()) return false;
    const auto check = cardinalProperty(m_root, "_NET_SUPPORTING_WM_CHECK");
    return check && parentOf(*check).has_value();
}

std::uint32_t XProbe::createWindow(std::uint32_t parent,
                                   const std::optional<std::pair<std::string, std::string>>& wmName,
                                   const std::optional<std::string>& netWmName) {
    const std::uint32_t w = xcb_generate_id(conn(m_c));
    xcb_create_window(conn(m_c), XCB_COPY_FROM_PARENT, w, parent ? parent : m_root, 0, 0, 50, 50, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    if (wmName)
        xcb_change_property(conn(m_c), XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, atom(wmName->first), 8,
                            static_cast<std::uint32_t>(wmName->second.size()), wmName->second.data());
    if (netWmName)
        xcb_change_property(conn(m_c), XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8,
                            static_cast<std::uint32_t>(netWmName->size()), netWmName->data());
    std::free(xcb_get_input_focus_reply(conn(m_c), xcb_get_input_focus(conn(m_c)), nullptr));  // sync
    return w;
}

void XProbe::setClientList(const std::vector<std::uint32_t>& windows) {
    xcb_change_property(conn(m_c), XCB_PROP_MODE_REPLACE, m_root, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 32,
                        static_cast<std::uint32_t>(windows.size()), windows.data());
    std::free(xcb_get_input_focus_reply(conn(m_c), xcb_get_input_focus(conn(m_c)), nullptr));
}

}  // namespace tolvane::testsupport
