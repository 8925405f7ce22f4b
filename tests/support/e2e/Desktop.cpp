#include "tests/support/e2e/Desktop.h"

#include <cstdio>
#include <sstream>
#include <string>

#include "tests/support/posix/Processes.h"

namespace tolvane::testsupport {

namespace {
std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}
}  // namespace

std::string Desktop::run(const std::string& command) {
    const std::string full = "DISPLAY=" + m_display + " " + command + " 2>/dev/null";
    std::string out;
    if (FILE* p = ::popen(full.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

std::optional<std::string> Desktop::findWindow(const std::string& titlePattern) {
    std::istringstream ids(run("xdotool search --name " + quote(titlePattern)));
    std::string id;
    if (ids >> id) return id;
    return std::nullopt;
}

std::optional<std::string> Desktop::waitForWindow(const std::string& titlePattern, std::chrono::milliseconds timeout) {
    std::optional<std::string> found;
    testsupport::waitUntil([&] { return (found = findWindow(titlePattern)).has_value(); }, timeout);
    return found;
}

void Desktop::closeWindow(const std::string& window) { run("wmctrl -i -c " + window); }

void Desktop::activate(const std::string& window) {
    run("xdotool windowmap " + window);
    run("wmctrl -i -a " + window);
    testsupport::waitUntil([&] { return viewable(window); }, std::chrono::seconds(3));
    // Where the window manager places a window it maps again depends on the
    // pointer: put it in a known place, wholly on the screen, and wait until
    // it holds still there.
    run("wmctrl -i -r " + window + " -e 0,40,40,-1,-1");
    testsupport::waitUntil(
        [&] {
            const auto [x, y] = clientCorner(window);
            return x >= 40 && x < 60 && y >= 40 && y < 90;
        },
        std::chrono::seconds(3));
}

std::pair<int, int> Desktop::clientCorner(const std::string& window) {
    int ax = -1, ay = -1;
    std::istringstream lines(run("xwininfo -id " + window));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("Absolute upper-left X:") != std::string::npos) ax = std::stoi(line.substr(line.find(':') + 1));
        if (line.find("Absolute upper-left Y:") != std::string::npos) ay = std::stoi(line.substr(line.find(':') + 1));
    }
    return {ax, ay};
}

void Desktop::key(const std::string& window, const std::string& keys) {
    testsupport::waitUntil([&] { return viewable(window); }, std::chrono::seconds(3));
    run("wmctrl -i -a " + window);
    run("xdotool windowfocus --sync " + window + " key " + keys);
}

void Desktop::clickClient(const std::string& window, int x, int y, int button) {
    // The client area's corner from xwininfo: xdotool's own window-relative
    // moves count a reparenting window manager's frame twice.
    const auto [ax, ay] = clientCorner(window);
    // "mousemove --sync" waits for a motion that never comes when the
    // pointer is already there (seconds, on a second click at one spot).
    if (pointer() != std::pair{ax + x, ay + y})
        run("xdotool mousemove --sync " + std::to_string(ax + x) + " " + std::to_string(ay + y));
    run("xdotool click " + std::to_string(button));
}

std::pair<int, int> Desktop::pointer() {
    // "x:12 y:34 screen:0 window:5678"
    int px = -1, py = -1;
    std::istringstream fields(run("xdotool getmouselocation"));
    std::string field;
    while (fields >> field) {
        if (field.rfind("x:", 0) == 0) px = std::stoi(field.substr(2));
        if (field.rfind("y:", 0) == 0) py = std::stoi(field.substr(2));
    }
    return {px, py};
}

bool Desktop::viewable(const std::string& window) {
    return run("xwininfo -id " + window).find("IsViewable") != std::string::npos;
}

}  // namespace tolvane::testsupport
