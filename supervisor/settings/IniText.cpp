#include "supervisor/settings/IniText.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

// ---------------------------------------------------------------------------
// INI text, without Qt.
//
// The line structure, escapes and quoting are those Qt's INI files have
// always had, so that a file written by either side reads the same on the
// other. Two things differ on purpose: a value is bytes, not UTF-16 (what
// is not UTF-8 stays as it is), and a comma is an ordinary character (Qt
// reads "a,b" as a list and gives it back as "a, b"; a setting here is one
// text).

namespace tolvane::ini {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Blanks that the line reader steps over between lines.
bool isLineSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Blanks that QByteArray::trimmed() takes off keys and section names.
bool isTrimSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool isLineSpecial(char c) { return c == '\n' || c == '\r' || c == '"' || c == ';' || c == '=' || c == '\\'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int octValue(char c) { return (c >= '0' && c <= '7') ? c - '0' : -1; }

bool isKeyPlain(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isTrimSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isTrimSpace(s.back())) s.remove_suffix(1);
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The next code point of UTF-8 text; nothing for a byte that does not start
// a valid sequence (one byte is then consumed).
std::optional<char32_t> nextCodePoint(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int length = 0;
    char32_t c = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        c = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        c = b0 & 0x07;
    } else {
        ++i;
        return std::nullopt;
    }
    if (i + static_cast<std::size_t>(length) > s.size()) {
        ++i;
        return std::nullopt;
    }
    for (int k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return std::nullopt;
        }
        c = (c << 6) | (b & 0x3F);
    }
    const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
    if (overlong || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return std::nullopt;
    }
    i += static_cast<std::size_t>(length);
    return c;
}

// What Qt makes of a text when it takes it as Latin-1 bytes ("@ByteArray",
// "@Variant"): each character's low byte, "?" where there is none.
std::string toLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto c = nextCodePoint(utf8, i);
        out += (c && *c <= 0xFF) ? static_cast<char>(*c) : '?';
    }
    return out;
}

// UTF-16 code units from "\x" and octal escapes, turned into UTF-8; a pair
// of surrogates makes one character, as it does in a QString.
class TextBuilder {
public:
    std::string text;

    void bytes(std::string_view s) {
        flush();
        text += s;
    }
    void unit(char16_t u) {
        if (m_high != 0) {
            const char16_t high = m_high;
            m_high = 0;
            if (u >= 0xDC00 && u <= 0xDFFF) {
                appendUtf8(text, 0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) +
                                     (static_cast<char32_t>(u) - 0xDC00));
                return;
            }
            appendUtf8(text, 0xFFFD);
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            m_high = u;
            return;
        }
        appendUtf8(text, (u >= 0xDC00 && u <= 0xDFFF) ? char32_t{0xFFFD} : char32_t{u});
    }
    std::size_t size() {
        flush();
        return text.size();
    }
    void chopBlanks(std::size_t limit) {
        flush();
        while (text.size() > limit && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    }
    void flush() {
        if (m_high != 0) appendUtf8(text, 0xFFFD);
        m_high = 0;
    }

private:
    char16_t m_high = 0;
};

// A value's text: quotes and escapes undone, blanks around an unquoted
// value dropped. The steps are those of Qt's reader, commas aside.
std::string unescape(std::string_view s) {
    TextBuilder out;
    std::size_t i = 0;
    bool inQuotes = false;
    bool quoted = false;
    std::size_t chopLimit = 0;
    const std::size_t n = s.size();

    enum class State { SkipBlanks, Normal, Hex, Oct, End };
    State state = State::SkipBlanks;
    char16_t escape = 0;
    while (state != State::End) {
        switch (state) {
            case State::SkipBlanks:
                while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
                state = State::Normal;
                break;
            case State::Normal: {
                chopLimit = out.size();
                state = State::End;
                bool chop = true;
                while (i < n) {
                    const char c = s[i];
                    if (c == '\\') {
                        ++i;
                        if (i >= n) {
                            chop = false;
                            break;
                        }
                        const char e = s[i++];
                        const char* simple = nullptr;
                        switch (e) {
                            case 'a': simple = "\a"; break;
                            case 'b': simple = "\b"; break;
                            case 'f': simple = "\f"; break;
                            case 'n': simple = "\n"; break;
                            case 'r': simple = "\r"; break;
                            case 't': simple = "\t"; break;
                            case 'v': simple = "\v"; break;
                            case '"': simple = "\""; break;
                            case '?': simple = "?"; break;
                            case '\'': simple = "'"; break;
                            case '\\': simple = "\\"; break;
                            default: break;
                        }
                        if (simple != nullptr) {
                            out.bytes(simple);
                            chopLimit = out.size();
                            continue;
                        }
                        if (e == 'x') {
                            if (i >= n) {
                                chop = false;
                                break;
                            }
                            if (hexValue(s[i]) >= 0) {
                                escape = 0;
                                state = State::Hex;
                                break;
                            }
                        } else if (octValue(e) >= 0) {
                            escape = static_cast<char16_t>(octValue(e));
                            state = State::Oct;
                            break;
                        } else if (e == '\n' || e == '\r') {
                            // A line continued on the next one.
                            if (i < n && (s[i] == '\n' || s[i] == '\r') && s[i] != e) ++i;
                        }
                        // Any other escaped character is dropped.
                        chopLimit = out.size();
                        continue;
                    }
                    if (c == '"') {
                        ++i;
                        quoted = true;
                        inQuotes = !inQuotes;
                        if (!inQuotes) {
                            state = State::SkipBlanks;
                            break;
                        }
                        continue;
                    }
                    std::size_t j = i + 1;
                    while (j < n && s[j] != '\\' && s[j] != '"') ++j;
                    out.bytes(s.substr(i, j - i));
                    i = j;
                }
                if (state == State::End && chop && !quoted) out.chopBlanks(chopLimit);
                break;
            }
            case State::Hex:
                if (i >= n) {
                    out.unit(escape);
                    state = State::End;
                } else if (const int h = hexValue(s[i]); h >= 0) {
                    escape = static_cast<char16_t>((escape << 4) + h);
                    ++i;
                } else {
                    out.unit(escape);
                    state = State::Normal;
                }
                break;
            case State::Oct:
                if (i >= n) {
                    out.unit(escape);
                    state = State::End;
                } else if (const int o = octValue(s[i]); o >= 0) {
                    escape = static_cast<char16_t>((escape << 3) + o);
                    ++i;
                } else {
                    out.unit(escape);
                    state = State::Normal;
                }
                break;
            case State::End: break;
        }
    }
    out.flush();
    return out.text;
}

void appendHex(std::string& out, unsigned value) {
    static const char digits[] = "0123456789abcdef";
    std::string h;
    do {
        h.insert(h.begin(), digits[value % 16]);
        value /= 16;
    } while (value != 0);
    out += h;
}

// Escapes and quotes text so that unescape() gives it back, byte for byte.
// For UTF-8 text this is what Qt's writer produces.
std::string escapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    bool needsQuotes = false;
    bool escapeNextIfHex = false;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == ';' || c == ',' || c == '=') needsQuotes = true;
        // A hex digit right after a numeric escape would be read as part
        // of it.
        if (escapeNextIfHex && hexValue(c) >= 0) {
            out += "\\x";
            appendHex(out, u);
            continue;
        }
        escapeNextIfHex = false;
        switch (c) {
            case '\0':
                out += "\\0";
                escapeNextIfHex = true;
                break;
            case '\a': out += "\\a"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\v': out += "\\v"; break;
            case '"':
            case '\\':
                out += '\\';
                out += c;
                break;
            default:
                if (u <= 0x1F) {
                    out += "\\x";
                    appendHex(out, u);
                    escapeNextIfHex = true;
                } else {
                    out += c;
                }
        }
    }
    if (needsQuotes || (!out.empty() && (out.front() == ' ' || out.back() == ' '))) out = '"' + out + '"';
    return out;
}

// A key or section name as written: "\" stands for "/", "%XX" and "%UXXXX"
// for characters; the rest is UTF-8 as it stands.
std::string decodeName(std::string_view raw) {
    TextBuilder out;
    std::size_t i = 0;
    while (i < raw.size()) {
        const char c = raw[i];
        if (c == '\\') {
            out.bytes("/");
            ++i;
            continue;
        }
        if (c == '%' && i + 1 < raw.size()) {
            const bool wide = raw[i + 1] == 'U';
            const std::size_t first = i + (wide ? 2 : 1);
            const std::size_t digits = wide ? 4 : 2;
            bool ok = first + digits <= raw.size();
            unsigned value = 0;
            for (std::size_t k = 0; ok && k < digits; ++k) {
                const int h = hexValue(raw[first + k]);
                if (h < 0) ok = false;
                value = value * 16 + static_cast<unsigned>(h < 0 ? 0 : h);
            }
            if (ok) {
                out.unit(static_cast<char16_t>(value));
                i = first + digits;
                continue;
            }
        }
        std::size_t j = i + 1;
        while (j < raw.size() && raw[j] != '\\' && raw[j] != '%') ++j;
        out.bytes(raw.substr(i, j - i));
        i = j;
    }
    out.flush();
    return out.text;
}

struct LineSpan {
    std::size_t start = 0;
    std::size_t length = 0;
    std::size_t equals = npos;  // first '=' outside quotes, as an index into the data
};

// One logical line from `pos` on, the way Qt's INI reader cuts them: blank
// lines and whole-line ';' comments skipped, a line ending at a line break
// or ';' outside quotes, a backslash taking the character after it along
// (so a value may go on over the next line).
bool nextLine(std::string_view d, std::size_t& pos, LineSpan& line, std::size_t& comments) {
    const std::size_t n = d.size();
    bool inQuotes = false;
    line.equals = npos;
    std::size_t start = pos;
    while (start < n && isLineSpace(d[start])) ++start;
    std::size_t i = start;
    while (i < n) {
        const char c = d[i];
        ++i;
        if (!isLineSpecial(c)) continue;
        if (c == '=') {
            if (!inQuotes && line.equals == npos) line.equals = i - 1;
        } else if (c == '\n' || c == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (c == '\\') {
            if (i < n) {
                const char next = d[i++];
                if (i < n) {
                    const char after = d[i];
                    if ((next == '\n' && after == '\r') || (next == '\r' && after == '\n')) ++i;
                }
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else {  // ';'
            if (i == start + 1) {
                ++comments;
                while (i < n && d[i] != '\n' && d[i] != '\r') ++i;
                while (i < n && isLineSpace(d[i])) ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    pos = i;
    line.start = start;
    line.length = i - start;
    return line.length > 0;
}

// Would this line, followed by a line break, be read back as exactly this
// one line, with the lines after it untouched?
// `equals` is where its '=' must be found, for a key.
bool standsAlone(std::string_view text, std::size_t logicalLength, std::optional<std::size_t> equals) {
    std::string probe(text);
    probe += "\nk=v\n";
    std::size_t pos = 0, comments = 0;
    LineSpan first, second;
    if (!nextLine(probe, pos, first, comments)) return false;
    if (first.start != 0 || first.length != logicalLength) return false;
    if (equals && first.equals != *equals) return false;
    if (!nextLine(probe, pos, second, comments)) return false;
    return second.start == text.size() + 1 && second.length == 3;
}

std::string headerFor(const std::string& section) {
    if (section.empty()) return "[General]";
    if (equalsNoCase(section, "general")) return "[%" + section + "]";
    return "[" + writeKey(section) + "]";
}

}  // namespace

FileText parse(std::string_view file) {
    FileText result;
    std::string_view d = file;
    if (d.substr(0, 3) == "\xEF\xBB\xBF") d.remove_prefix(3);

    std::string section;
    std::string header;
    std::size_t pos = 0;
    std::size_t comments = 0;
    std::size_t attachedComments = 0;
    LineSpan span;
    while (nextLine(d, pos, span, comments)) {
        const std::string_view line = d.substr(span.start, span.length);
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            if (close == npos) close = line.size();
            const std::string_view name = trimmed(line.substr(1, close - 1));
            if (equalsNoCase(name, "general"))
                section.clear();
            else if (equalsNoCase(name, "%general"))
                section = std::string(name.substr(1));
            else
                section = decodeName(name);
            header = std::string(line);
            continue;
        }
        if (span.equals == npos) {
            ++result.otherLines;
            continue;
        }
        KeyLine key;
        key.section = section;
        key.header = header;
        key.rawKey = std::string(trimmed(d.substr(span.start, span.equals - span.start)));
        key.key = decodeName(key.rawKey);
        key.rawValue = std::string(d.substr(span.equals + 1, span.start + span.length - span.equals - 1));
        if (pos < d.size() && d[pos] == ';') {
            std::size_t end = pos;
            while (end < d.size() && d[end] != '\n' && d[end] != '\r') ++end;
            key.comment = std::string(d.substr(pos, end - pos));
            ++attachedComments;
        }
        result.keys.push_back(std::move(key));
    }
    result.commentLines = comments - std::min(comments, attachedComments);
    return result;
}

Value readValue(std::string_view rawValue) {
    Value value;
    std::string text = unescape(rawValue);
    if (text.size() >= 2 && text[0] == '@' && text[1] == '@') {
        value.bytes = text.substr(1);
        return value;
    }
    if (text.size() >= 2 && text[0] == '@' && text.back() == ')') {
        const std::string_view t = text;
        if (t.substr(0, 11) == "@ByteArray(") {
            value.bytes = toLatin1(t.substr(11, t.size() - 12));
            return value;
        }
        // How Qt 6 writes a text that holds a NUL character.
        if (t.substr(0, 8) == "@String(") {
            value.bytes = std::string(t.substr(8, t.size() - 9));
            return value;
        }
        if (t.substr(0, 9) == "@Variant(" || t.substr(0, 10) == "@DateTime(") {
            value.dateTimeStream = t[1] == 'D';
            value.kind = Value::Kind::Stream;
            value.bytes = toLatin1(t.substr(value.dateTimeStream ? 10 : 9));
            return value;
        }
        if (t == "@Invalid()") {
            value.kind = Value::Kind::Absent;
            return value;
        }
    }
    // Any other text, "@Rect(...)" and the like included, is read as the
    // text it is.
    value.bytes = std::move(text);
    return value;
}

std::string writeValue(std::string_view text) {
    if (!text.empty() && text.front() == '@') return escapeText("@" + std::string(text));
    return escapeText(text);
}

std::string writeKey(std::string_view name) {
    static const char upperHex[] = "0123456789ABCDEF";
    std::string out;
    std::size_t i = 0;
    while (i < name.size()) {
        const std::size_t at = i;
        const auto c = nextCodePoint(name, i);
        if (!c) {
            // Not UTF-8: the byte as it is (it means nothing to the line
            // syntax), so the name reads back the same. As "%XX" it would
            // come back as a Latin-1 character.
            out += name[at];
        } else if (*c == '/' && i < name.size()) {
            out += '\\';
        } else if (isKeyPlain(*c)) {
            out += static_cast<char>(*c);
        } else if (*c <= 0xFF) {
            out += '%';
            out += upperHex[*c >> 4];
            out += upperHex[*c & 0xF];
        } else {
            auto wide = [&out](char32_t u) {
                out += "%U";
                for (int shift = 12; shift >= 0; shift -= 4) out += upperHex[(u >> shift) & 0xF];
            };
            if (*c >= 0x10000) {
                wide(0xD800 + ((*c - 0x10000) >> 10));
                wide(0xDC00 + ((*c - 0x10000) & 0x3FF));
            } else {
                wide(*c);
            }
        }
    }
    return out;
}

std::string format(const std::vector<KeyLine>& keys) {
    // Sections in order of first appearance, each key in the order given.
    std::vector<std::string> order;
    std::vector<std::vector<const KeyLine*>> groups;
    for (const KeyLine& key : keys) {
        auto it = std::find(order.begin(), order.end(), key.section);
        if (it == order.end()) {
            order.push_back(key.section);
            groups.emplace_back();
            it = order.end() - 1;
        }
        groups[static_cast<std::size_t>(it - order.begin())].push_back(&key);
    }

    std::string out;
    for (std::size_t g = 0; g < order.size(); ++g) {
        std::string header;
        for (const KeyLine* key : groups[g]) {
            if (!key->header.empty() && key->header.front() == '[' &&
                standsAlone(key->header, key->header.size(), std::nullopt)) {
                header = key->header;
                break;
            }
        }
        if (header.empty()) header = headerFor(order[g]);
        if (g != 0) out += '\n';
        out += header;
        out += '\n';
        for (const KeyLine* key : groups[g]) {
            const std::string line = key->rawKey + "=" + key->rawValue + key->comment;
            const bool commentIsOne =
                key->comment.empty() || (key->comment.front() == ';' && key->comment.find_first_of("\r\n") == npos);
            // A key never starts a line with '[': that would be a section.
            const bool rawKeyIsKey = key->rawKey.empty() || key->rawKey.front() != '[';
            if (commentIsOne && rawKeyIsKey &&
                standsAlone(line, key->rawKey.size() + 1 + key->rawValue.size(), key->rawKey.size())) {
                out += line;
            } else {
                // Written anew: same name, same text.
                out += writeKey(key->key) + "=" + escapeText(unescape(key->rawValue));
            }
            out += '\n';
        }
    }
    return out;
}

}  // namespace tolvane::ini
