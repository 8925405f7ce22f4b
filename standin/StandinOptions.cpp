#include "standin/StandinOptions.h"

#include <charconv>

namespace tolvane::standin {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::optional<long> number(std::string_view s) {
    long value = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc{} || ptr != s.data() + s.size() || value < 0) return std::nullopt;
    return value;
}

bool flag(std::string_view s) { return s == "1" || s == "true" || s == "yes"; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

StandinOptions parseStandinOptions(std::string_view text) {
    StandinOptions options;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string_view line =
            trim(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        start = end == std::string_view::npos ? text.size() + 1 : end + 1;
        if (line.empty() || line.front() == '#') continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = trim(line.substr(0, eq));
        const std::string_view value = trim(line.substr(eq + 1));
        if (key == "title") {
            options.title = std::string(value);
        } else if (key == "nowindow") {
            options.noWindow = flag(value);
        } else if (key == "exit_after_ms") {
            options.exitAfterMs = number(value);
        } else if (key == "crash_after_ms") {
            options.crashAfterMs = number(value);
        } else if (key == "hold_mb") {
            options.holdMb = number(value).value_or(0);
        } else if (key == "ignore_sigterm") {
            options.ignoreSigterm = flag(value);
        } else if (key == "restart_after_ms") {
            options.restartAfterMs = number(value);
        } else if (key == "freeze_after_ms") {
            options.freezeAfterMs = number(value);
        } else if (key == "freeze_for_ms") {
            options.freezeForMs = number(value).value_or(0);
        }
    }
    return options;
}

bool asksForStandby(const std::vector<std::string>& arguments) {
    std::string joined;
    for (const auto& a : arguments) {
        if (!joined.empty()) joined.push_back(' ');
        joined += a;
    }
    constexpr std::string_view needle = "/veille=true";
    if (joined.size() < needle.size()) return false;
    for (std::size_t i = 0; i + needle.size() <= joined.size(); ++i) {
        std::size_t k = 0;
        while (k < needle.size() && lower(joined[i + k]) == needle[k]) ++k;
        if (k == needle.size()) return true;
    }
    return false;
}

}  // namespace tolvane::standin
