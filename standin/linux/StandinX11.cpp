// The stand-in on Linux: behaves, as far as Tolvane can see, like one of the
// suite's programs. Plain C++ and xcb, no Qt, so thirty copies cost little.
//
// - It titles one top-level window with its own executable name (a copy named
//   VX8_Player_A titles itself "VX8_Player_A"), as WM_NAME and _NET_WM_NAME.
// - "/Veille=True" in its arguments (any case): the window is created but
//   never mapped, like a tool in standby.
// - TOLVANE_SHOW_STATE (set by Tolvane's Linux backend): "minimised" starts
//   iconic, "hidden" leaves the window unmapped, anything else maps it.
// - It appends one line to "standin.log" in its own folder per start (see
//   StandinLog.h), once its window exists, so a reader of the log knows the
//   window can be found.
// - It answers the window manager's (and Tolvane's) _NET_WM_PING, which it
//   lists in WM_PROTOCOLS, as EWMH asks: the event goes back to the root
//   window.
// - It runs until killed, until its window is closed, or until the X
//   connection is lost (then it exits with status 0), or until it restarts
//   itself when asked to (a new copy, then status 0). Without a display it
//   logs its start and exits with status 2, as a suite program could not run.
// - A sidecar file "<name>.standin" beside it changes that (StandinOptions.h).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "standin/StandinLog.h"
#include "standin/StandinOptions.h"

extern char** environ;

using tolvane::standin::StandinLogLine;
using tolvane::standin::StandinOptions;

namespace {

// Descriptors open when main starts, before we open any: tells the tests what
// the starting program let through.
std::string openDescriptorsAtStart() {
    std::set<int> fds;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return "?";
    const int own = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0' || fd == own) continue;
        fds.insert(static_cast<int>(fd));
    }
    ::closedir(dir);
    std::string out;
    for (const int fd : fds) {
        if (!out.empty()) out.push_back(',');
        out += std::to_string(fd);
    }
    return out;
}

std::string ownExecutablePath() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<std::size_t>(n));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.resize(path.size() - deleted.size());
    return path;
}

// The folder the program was started in ("" when it cannot be read).
std::string workingFolderAtStart() {
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

std::string localTimeWithMilliseconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    ::localtime_r(&ts.tv_sec, &local);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03ld", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ts.tv_nsec / 1000000);
    return buf;
}

// One write(2) on an O_APPEND descriptor per line: thirty copies starting at
// once never interleave their lines.
void appendLogLine(const std::string& folder, const StandinLogLine& line) {
    const std::string text = tolvane::standin::formatLogLine(line);
    const int fd = ::open((folder + "/standin.log").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t ignored = ::write(fd, text.data(), text.size());
    (void)ignored;
    ::close(fd);
}

void holdMemory(long megabytes) {
    if (megabytes <= 0) return;
    const std::size_t size = static_cast<std::size_t>(megabytes) * 1024 * 1024;
    void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return;
    // Touch every page so that it is resident, which is what a working set
    // counts. The block is kept until the process ends.
    const long page = ::sysconf(_SC_PAGESIZE);
    volatile char* bytes = static_cast<volatile char*>(block);
    for (std::size_t at = 0; at < size; at += static_cast<std::size_t>(page)) bytes[at] = 1;
}

// Stops reading the X connection, as a program stuck in a long computation
// or a deadlock: events and pings wait on the server's side. Signals keep
// their default actions, so it can still be killed. 0: for ever.
void freeze(long milliseconds) {
    if (milliseconds <= 0) {
        for (;;) ::pause();
    }
    timespec left{milliseconds / 1000, (milliseconds % 1000) * 1000000};
    while (::nanosleep(&left, &left) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void crash() {
    // A real crash, without leaving a core file in the tests' folders.
    rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    ::signal(SIGSEGV, SIG_DFL);
    ::raise(SIGSEGV);
    ::_exit(139);
}

// A new copy of this program with the same arguments, as a program that
// restarts itself does; it is not waited for.
void startNewCopy(const std::string& path, char** argv) {
    pid_t pid = 0;
    ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ);
}

class Window {
public:
    // Opens the connection and the window; nothing when there is no display.
    bool open(const std::string& title, bool mapIt, bool iconic) {
        m_c = xcb_connect(nullptr, nullptr);
        if (!m_c || xcb_connection_has_error(m_c)) return false;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        if (!screen) return false;

        const auto wmProtocols = atom("WM_PROTOCOLS");
        m_wmDeleteWindow = atom("WM_DELETE_WINDOW");
        m_netWmPing = atom("_NET_WM_PING");
        m_root = screen->root;
        const auto netWmName = atom("_NET_WM_NAME");
        const auto netWmPid = atom("_NET_WM_PID");
        const auto utf8 = atom("UTF8_STRING");

        m_window = xcb_generate_id(m_c);
        const std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 320, 60, 1,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                          values);

        bool ascii = true;
        for (const char ch : title) ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
        // ICCCM's WM_NAME is Latin-1 (STRING); a title outside ASCII goes there
        // as UTF8_STRING, which is what current toolkits do too.
        setProperty(XCB_ATOM_WM_NAME, ascii ? xcb_atom_t{XCB_ATOM_STRING} : utf8, 8, title.size(), title.data());
        setProperty(netWmName, utf8, 8, title.size(), title.data());
        static constexpr char wmClass[] = "standin\0Standin";
        setProperty(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof wmClass, wmClass);
        const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
        setProperty(netWmPid, XCB_ATOM_CARDINAL, 32, 1, &pid);
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) == 0)
            setProperty(XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 8, std::strlen(host), host);
        const xcb_atom_t protocols[] = {m_wmDeleteWindow, m_netWmPing};
        setProperty(wmProtocols, XCB_ATOM_ATOM, 32, 2, protocols);
        // WM_HINTS: flags (InputHint | StateHint), input, initial_state, then
        // six unused fields.
        const std::uint32_t hints[9] = {1u | 2u, 1u, iconic ? 3u : 1u, 0, 0, 0, 0, 0, 0};
        setProperty(XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, hints);

        m_title = title;
        openFont();
        if (mapIt) xcb_map_window(m_c, m_window);

        // Round trip: once it returns the server has the window and its
        // names, so the log line written next never runs ahead of them.
        free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
        return !xcb_connection_has_error(m_c);
    }

    int fd() const { return xcb_get_file_descriptor(m_c); }

    // Handles what arrived; false when the program should end.
    bool handleEvents() {
        while (xcb_generic_event_t* e = xcb_poll_for_event(m_c)) {
            const auto type = e->response_type & 0x7F;
            bool keepRunning = true;
            if (type == XCB_EXPOSE) {
                draw();
            } else if (type == XCB_CLIENT_MESSAGE) {
                auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
                if (m->format == 32 && m->data.data32[0] == m_wmDeleteWindow) keepRunning = false;
                if (m->format == 32 && m->data.data32[0] == m_netWmPing && m->window == m_window) answerPing(*m);
            } else if (type == XCB_DESTROY_NOTIFY) {
                keepRunning = false;
            }
            std::free(e);
            if (!keepRunning) return false;
        }
        if (xcb_connection_has_error(m_c)) return false;
        xcb_flush(m_c);
        return true;
    }

private:
    xcb_atom_t atom(const char* name) {
        const auto length = static_cast<std::uint16_t>(std::strlen(name));
        auto* r = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, length, name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(r);
        return a;
    }

    // EWMH: the ping goes back unchanged but for its window, which becomes
    // the root, to whoever watches the root's substructure.
    void answerPing(xcb_client_message_event_t ping) {
        ping.response_type = XCB_CLIENT_MESSAGE;  // the server sets the "sent" bit itself
        ping.window = m_root;
        xcb_send_event(m_c, 0, m_root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&ping));
    }

    void setProperty(xcb_atom_t property, xcb_atom_t type, std::uint8_t format, std::size_t count, const void* data) {
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_window, property, type, format,
                            static_cast<std::uint32_t>(count), data);
    }

    void openFont() {
        // The title drawn inside the window helps whoever looks at the demo's
        // screen; without the core "fixed" font the window stays blank.
        const xcb_font_t font = xcb_generate_id(m_c);
        const char name[] = "fixed";
        if (auto* error = xcb_request_check(m_c, xcb_open_font_checked(m_c, font, sizeof name - 1, name))) {
            std::free(error);
            return;
        }
        m_gc = xcb_generate_id(m_c);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        const std::uint32_t values[] = {screen->black_pixel, screen->white_pixel, font};
        xcb_create_gc(m_c, m_gc, m_window, XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | XCB_GC_FONT, values);
        xcb_close_font(m_c, font);
    }

    void draw() {
        if (m_gc == 0) return;
        const auto length = static_cast<std::uint8_t>(std::min<std::size_t>(m_title.size(), 255));
        xcb_image_text_8(m_c, length, m_window, m_gc, 10, 35, m_title.data());
    }

    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_window = 0;
    xcb_window_t m_root = 0;
    xcb_gcontext_t m_gc = 0;
    xcb_atom_t m_wmDeleteWindow = XCB_ATOM_NONE;
    xcb_atom_t m_netWmPing = XCB_ATOM_NONE;
    std::string m_title;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string descriptors = openDescriptorsAtStart();

    const std::string exePath = ownExecutablePath();
    const auto slash = exePath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : exePath.substr(0, slash);
    const std::string name = slash == std::string::npos ? exePath : exePath.substr(slash + 1);

    StandinOptions options;
    {
        std::ifstream sidecar(folder + "/" + name + ".standin", std::ios::binary);
        if (sidecar) {
            const std::string text((std::istreambuf_iterator<char>(sidecar)), std::istreambuf_iterator<char>());
            options = tolvane::standin::parseStandinOptions(text);
        }
    }
    if (options.ignoreSigterm) ::signal(SIGTERM, SIG_IGN);

    const auto started = std::chrono::steady_clock::now();
    holdMemory(options.holdMb);

    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const char* show = std::getenv("TOLVANE_SHOW_STATE");
    const std::string showState = show ? show : "";

    StandinLogLine line;
    line.time = localTimeWithMilliseconds();
    line.pid = static_cast<long>(::getpid());
    line.executableName = name;
    line.showState = showState;
    line.openDescriptors = descriptors;
    line.workingFolder = workingFolderAtStart();
    line.argv0 = argc > 0 ? argv[0] : "";
    line.arguments = arguments;

    Window window;
    bool haveWindow = false;
    if (!options.noWindow) {
        const bool standby = tolvane::standin::asksForStandby(arguments);
        const bool mapIt = !standby && showState != "hidden";
        haveWindow = window.open(options.title.value_or(name), mapIt, showState == "minimised");
    }
    appendLogLine(folder, line);
    if (!options.noWindow && !haveWindow) return 2;  // no display: a suite program could not run either

    // Wait for the X server, the end of the test timers, or a signal.
    const auto at = [&](const std::optional<long>& ms) {
        return ms ? std::optional(started + std::chrono::milliseconds(*ms)) : std::nullopt;
    };
    const auto exitAt = at(options.exitAfterMs);
    const auto crashAt = at(options.crashAfterMs);
    const auto restartAt = at(options.restartAfterMs);
    auto freezeAt = at(options.freezeAfterMs);
    for (;;) {
        auto now = std::chrono::steady_clock::now();
        if (freezeAt && now >= *freezeAt) {
            freeze(options.freezeForMs);
            freezeAt.reset();  // once
            now = std::chrono::steady_clock::now();
        }
        if (crashAt && now >= *crashAt) crash();
        if (exitAt && now >= *exitAt) return 0;
        if (restartAt && now >= *restartAt) {
            startNewCopy(exePath, argv);
            return 0;
        }
        int timeout = -1;
        for (const auto& due : {crashAt, exitAt, restartAt, freezeAt}) {
            if (!due) continue;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*due - now).count() + 1;
            timeout = timeout < 0 ? static_cast<int>(left) : std::min(timeout, static_cast<int>(left));
        }
        if (haveWindow) {
            if (!window.handleEvents()) return 0;
            pollfd p{window.fd(), POLLIN, 0};
            ::poll(&p, 1, timeout);
        } else {
            ::poll(nullptr, 0, timeout);
        }
    }
}
