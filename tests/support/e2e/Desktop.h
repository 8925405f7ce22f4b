#pragma once
// What an operator does at the keyboard and mouse, through the real X tools
// (xdotool, wmctrl, xwininfo): find a window by its title, close it with its
// close box, press a key, click a point of its client area.

#include <chrono>
#include <optional>
#include <string>
#include <utility>

namespace tolvane::testsupport {

class Desktop {
public:
    explicit Desktop(std::string display) : m_display(std::move(display)) {}

    // The first window whose title matches the regular expression.
    std::optional<std::string> findWindow(const std::string& titlePattern);
    std::optional<std::string> waitForWindow(const std::string& titlePattern, std::chrono::milliseconds timeout);

    // The window manager's close request, as the close box sends it.
    void closeWindow(const std::string& window);
    void activate(const std::string& window);
    void key(const std::string& window, const std::string& keys);
    void clickClient(const std::string& window, int x, int y, int button = 1);
    // Is the window mapped and viewable (shown on screen)?
    bool viewable(const std::string& window);
    // Runs an X command on this display; its standard output.
    std::string run(const std::string& command);

    // Where the pointer is, on the root window.
    std::pair<int, int> pointer();

private:
    std::pair<int, int> clientCorner(const std::string& window);

    std::string m_display;
};

}  // namespace tolvane::testsupport
