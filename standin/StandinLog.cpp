#include "standin/StandinLog.h"

#include <charconv>
#include <fstream>
#include <iterator>

namespace tolvane::standin {

namespace {

constexpr std::size_t kFixedFields = 7;  // time, pid, name, show, descriptors, working folder, argv[0]

// Length of the valid UTF-8 sequence starting at text[i], or 0 when the bytes
// there are not one (overlong forms, surrogates and values past U+10FFFF
// included, so that only text an editor shows as such is left unescaped).
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    const unsigned char b1 = byte(i + 1);
    if (b1 < low || b1 > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string escapeLogField(std::string_view raw) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(raw.size());
    std::size_t i = 0;
    while (i < raw.size()) {
        const auto c = static_cast<unsigned char>(raw[i]);
        if (c >= 0x80) {
            if (const std::size_t n = utf8SequenceLength(raw, i)) {
                out.append(raw.substr(i, n));
                i += n;
                continue;
            }
        }
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    out += "\\x";
                    out.push_back(hex[c >> 4]);
                    out.push_back(hex[c & 0xF]);
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
        ++i;
    }
    return out;
}

std::optional<std::string> unescapeLogField(std::string_view escaped) {
    std::string out;
    out.reserve(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        if (c == '\t' || c == '\n') return std::nullopt;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++i >= escaped.size()) return std::nullopt;
        switch (escaped[i]) {
            case '\\': out.push_back('\\'); break;
            case 't': out.push_back('\t'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 'x': {
                if (i + 2 >= escaped.size()) return std::nullopt;  // two hex digits must follow
                const int h = hexValue(escaped[i + 1]);
                const int l = hexValue(escaped[i + 2]);
                if (h < 0 || l < 0) return std::nullopt;
                out.push_back(static_cast<char>(h * 16 + l));
                i += 2;
                break;
            }
            default: return std::nullopt;
        }
    }
    return out;
}

std::string formatLogLine(const StandinLogLine& line) {
    std::string out = escapeLogField(line.time);
    const auto field = [&](std::string_view value) {
        out.push_back('\t');
        out += escapeLogField(value);
    };
    field(std::to_string(line.pid));
    field(line.executableName);
    field(line.showState);
    field(line.openDescriptors);
    field(line.workingFolder);
    field(line.argv0);
    for (const auto& a : line.arguments) field(a);
    out.push_back('\n');
    return out;
}

std::optional<StandinLogLine> parseLogLine(std::string_view text) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = text.find('\t', start);
        const std::string_view raw =
            text.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        auto value = unescapeLogField(raw);
        if (!value) return std::nullopt;
        fields.push_back(std::move(*value));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    if (fields.size() < kFixedFields) return std::nullopt;

    StandinLogLine line;
    line.time = fields[0];
    const std::string& pid = fields[1];
    const auto [ptr, ec] = std::from_chars(pid.data(), pid.data() + pid.size(), line.pid);
    if (ec != std::errc{} || ptr != pid.data() + pid.size() || pid.empty()) return std::nullopt;
    line.executableName = fields[2];
    line.showState = fields[3];
    line.openDescriptors = fields[4];
    line.workingFolder = fields[5];
    line.argv0 = fields[6];
    line.arguments.assign(fields.begin() + kFixedFields, fields.end());
    return line;
}

std::vector<StandinLogLine> parseLog(std::string_view text) {
    std::vector<StandinLogLine> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) break;  // a line not yet complete
        if (auto line = parseLogLine(text.substr(start, end - start))) lines.push_back(std::move(*line));
        start = end + 1;
    }
    return lines;
}

std::vector<StandinLogLine> readLogFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parseLog(text);
}

}  // namespace tolvane::standin
