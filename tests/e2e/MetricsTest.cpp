// The metrics file read the way a station's monitoring reads it: the real
// Tolvane supervising the thirty stand-ins writes it, Debian's node_exporter
// serves it through its textfile collector, and the test scrapes that over
// the loopback, as Prometheus would.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>

#include "tests/support/e2e/Station.h"

using namespace tolvane::testsupport;

namespace {

// A loopback port nobody listens on now.
int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(s);
        return -1;
    }
    ::close(s);
    return ntohs(address.sin_port);
}

// The body of GET /metrics, or nothing when nothing answered.
std::optional<std::string> scrape(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(s);
        return std::nullopt;
    }
    const std::string request = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (::write(s, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        ::close(s);
        return std::nullopt;
    }
    std::string response;
    char buffer[8192];
    for (ssize_t n; (n = ::read(s, buffer, sizeof buffer)) > 0;) response.append(buffer, static_cast<std::size_t>(n));
    ::close(s);
    const auto body = response.find("\r\n\r\n");
    if (response.rfind("HTTP/1.0 200", 0) != 0 && response.rfind("HTTP/1.1 200", 0) != 0) return std::nullopt;
    return body == std::string::npos ? std::nullopt : std::optional(response.substr(body + 4));
}

// Every sample of the scrape, "name{labels}" to its value as written.
std::map<std::string, std::string> samples(const std::string& text) {
    std::map<std::string, std::string> values;
    static const std::regex line(R"(^([a-z_]+(\{[^}]*\})?) (\S+)$)");
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        const std::string one = text.substr(start, end - start);
        std::smatch m;
        if (std::regex_match(one, m, line)) values[m[1]] = m[3];
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return values;
}

std::string tool(const char* family, int index, const std::string& extra = {}) {
    return std::string(family) + "{" + extra + "index=\"" + std::to_string(index) + "\",tool=\"" +
           toolNames().at(static_cast<std::size_t>(index)) + "\"}";
}

}  // namespace

TEST(Metrics, TheMonitoringSeesEveryToolThroughTheRealCollector) {
    constexpr int kUnverified = 5;  // launched, without "Vérifier": stays down once killed
    constexpr int kVerified = 12;   // with "Vérifier": back after its end
    Station s;
    TempFolder metrics;
    for (int i = 0; i < 30; ++i) {
        s.setTool(i, "Launch", "1");
        s.setTool(i, "Tempo", "0");
        s.setTool(i, "Check", i == kUnverified ? "0" : "1");
    }
    s.set("Metrics", "Folder", metrics.path());
    s.startTolvane();
    const std::string file = metrics.path() + "/tolvane.prom";

    const int port = freePort();
    ASSERT_GT(port, 0);
    const pid_t exporter = spawnChild("/usr/bin/prometheus-node-exporter",
                                      {"prometheus-node-exporter", "--collector.disable-defaults",
                                       "--collector.textfile", "--collector.textfile.directory=" + metrics.path(),
                                       "--web.listen-address=127.0.0.1:" + std::to_string(port)});
    struct Stop {
        pid_t pid;
        ~Stop() {
            ::kill(pid, SIGKILL);
            waitForExit(pid, 5s);
        }
    } stopExporter{exporter};

    std::map<std::string, std::string> seen;
    const auto scrapeUntil = [&](const std::function<bool()>& condition) {
        return waitUntil(
            [&] {
                const auto text = scrape(port);
                if (!text) return false;
                seen = samples(*text);
                return condition();
            },
            60s);
    };
    const auto value = [&](const std::string& name) { return seen.count(name) ? seen.at(name) : "<none>"; };
    const auto allUp = [&] {
        for (int i = 0; i < 30; ++i)
            if (value(tool("tolvane_tool_up", i)) != "1") return false;
        return true;
    };
    ASSERT_TRUE(scrapeUntil(allUp)) << "tool 0 up: " << value(tool("tolvane_tool_up", 0));
    // The collector took the file as it is: a file it rejects shows here.
    EXPECT_EQ(value("node_textfile_scrape_error"), "0");
    EXPECT_EQ(value(tool("tolvane_tool_verify_enabled", kUnverified)), "0");
    EXPECT_EQ(value(tool("tolvane_tool_verify_enabled", kVerified)), "1");
    EXPECT_EQ(value(tool("tolvane_tool_launch_enabled", kUnverified)), "1");
    EXPECT_EQ(value(tool("tolvane_tool_starts_total", 0, "cause=\"launch\",")), "1");
    EXPECT_EQ(value(tool("tolvane_tool_starts_total", 0, "cause=\"end\",")), "0");
    EXPECT_NE(value(tool("tolvane_tool_working_set_bytes", kVerified)), "<none>");
    EXPECT_NE(value(tool("tolvane_tool_next_verification_timestamp_seconds", kVerified)), "<none>");
    EXPECT_EQ(value(tool("tolvane_tool_next_verification_timestamp_seconds", kUnverified)), "<none>");
    EXPECT_EQ(value("tolvane_batch_active{page=\"Scheduler\"}"), "0");
    EXPECT_NE(value("tolvane_daily_restart_next_timestamp_seconds"), "<none>");
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const double heartbeat = std::stod(value("tolvane_heartbeat_timestamp_seconds"));
    EXPECT_LT(std::abs(now - heartbeat), 30.0) << heartbeat;

    // Both killed: the one without "Vérifier" stays down, the other is
    // started again after its end.
    for (const int i : {kUnverified, kVerified})
        for (const pid_t pid : s.running(toolNames().at(i))) ::kill(pid, SIGKILL);
    ASSERT_TRUE(scrapeUntil([&] {
        return value(tool("tolvane_tool_up", kUnverified)) == "0" &&
               value(tool("tolvane_tool_starts_total", kVerified, "cause=\"end\",")) == "1" &&
               value(tool("tolvane_tool_up", kVerified)) == "1";
    })) << value(tool("tolvane_tool_up", kUnverified)) << " "
        << value(tool("tolvane_tool_starts_total", kVerified, "cause=\"end\","));
    EXPECT_EQ(value(tool("tolvane_tool_starts_total", kUnverified, "cause=\"end\",")), "0");
    EXPECT_EQ(value("node_textfile_scrape_error"), "0");
    EXPECT_EQ(std::system(("promtool check metrics < '" + file + "'").c_str()), 0);
    // Written whole each time: nothing but the file is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(metrics.path()), {}), 1);
}
