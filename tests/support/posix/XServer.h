#pragma once
// A real X server for one test binary: Xvfb on a display number of its own
// (the server picks a free one and reports it through -displayfd, so test
// binaries run in parallel), optionally with openbox as a real reparenting
// window manager; and XProbe, a connection of the test's own to look at and
// make windows.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::testsupport {

class XServer {
public:
    // Starts Xvfb (and openbox, waiting until it manages the screen). Throws
    // std::runtime_error when either cannot be started.
    explicit XServer(bool withWindowManager = false);
    ~XServer();  // stops and reaps both
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    const std::string& display() const { return m_display; }  // ":N"
    // Points this process's DISPLAY at the server (programs started from
    // here inherit it).
    void makeCurrent() const;
    // Ends the server at once and waits for it: "the X server went away".
    void stop();
    // Stops (SIGSTOP) and resumes the server: one that accepts connections
    // but answers nothing.
    void freeze();
    void thaw();

private:
    pid_t m_server = -1;
    pid_t m_windowManager = -1;
    std::string m_display;
};

// Does the display have a notification area (an owner of the
// _NET_SYSTEM_TRAY_S0 selection, what Qt and wine look at before docking an
// icon)? Asked on a connection of its own.
bool trayAreaOwned(const std::string& display);

// Starts trayer, a real XEmbed notification area, on this process's
// DISPLAY; its pid (a child of this process).
pid_t startTrayer();

class XProbe {
public:
    explicit XProbe(const std::string& display);
    ~XProbe();
    XProbe(const XProbe&) = delete;
    XProbe& operator=(const XProbe&) = delete;

    bool connected() const;
    std::uint32_t root() const { return m_root; }

    std::vector<std::uint32_t> children(std::uint32_t window);
    std::optional<std::uint32_t> parentOf(std::uint32_t window);
    // The window whose _NET_WM_PID is pid, searched down to three levels
    // below the root (a client inside a window manager's frame).
    std::optional<std::uint32_t> windowOfProcess(pid_t pid);
    // Raw bytes of a property (any type), nothing when absent.
    std::optional<std::string> property(std::uint32_t window, const std::string& name);
    std::optional<std::uint32_t> cardinalProperty(std::uint32_t window, const std::string& name, std::size_t index = 0);
    enum class MapState { Unmapped, Unviewable, Viewable };
    std::optional<MapState> mapState(std::uint32_t window);
    bool windowManagerRunning();
    // Maps a window of its own and tells whether a window manager framed it
    // within `timeout`; the window is destroyed again.
    bool mappedWindowGetsFramed(std::chrono::milliseconds timeout);

    // Makes a window (kept as long as this probe) under `parent` (root when
    // 0), unmapped, with the names given as (type atom name, bytes).
    std::uint32_t createWindow(std::uint32_t parent, const std::optional<std::pair<std::string, std::string>>& wmName,
                               const std::optional<std::string>& netWmName);
    void setClientList(const std::vector<std::uint32_t>& windows);
    // How many different colours the window's pixels hold (a drawn icon has
    // several; an empty square one); nothing when the server gives no image
    // (a window that is not on screen).
    std::optional<std::size_t> colourCount(std::uint32_t window);
    // The pixels of a rectangle of the window, 0xRRGGBB in the low bits (depth
    // 24 and 32 windows both come as 32 bits a pixel); nothing when the
    // server gives no image.
    std::optional<std::vector<std::uint32_t>> pixels(std::uint32_t window, int x, int y, int width, int height);
    // The windows inside trayer's panel (its top-level window is titled
    // "panel") whose WM_CLASS holds `classPart`, ASCII case-insensitively:
    // the icons docked there by that program.
    std::vector<std::uint32_t> trayPanelWindows(const std::string& classPart);
    // Holds the server for this connection alone, as a window manager or a
    // screen grabber does: every other client waits until ungrabServer().
    void grabServer();
    void ungrabServer();

private:
    std::uint32_t atom(const std::string& name);
    void* m_c = nullptr;  // xcb_connection_t, kept out of this header
    std::uint32_t m_root = 0;
};

}  // namespace tolvane::testsupport
