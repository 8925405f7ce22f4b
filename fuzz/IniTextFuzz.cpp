// The settings file's INI text on any bytes: reading never fails, writing
// what was read and reading it again gives every key the same value, a
// second write gives the same file, and any value written reads back as
// itself.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "supervisor/settings/IniText.h"

namespace ini = tolvane::ini;

namespace {

// Each key once, the last one read winning, as the store holds them.
std::vector<ini::KeyLine> unique(const std::vector<ini::KeyLine>& keys) {
    std::map<std::pair<std::string, std::string>, std::size_t> at;
    std::vector<ini::KeyLine> out;
    for (const auto& key : keys) {
        const auto it = at.find({key.section, key.key});
        if (it == at.end()) {
            at[{key.section, key.key}] = out.size();
            out.push_back(key);
        } else {
            out[it->second] = key;
        }
    }
    return out;
}

std::map<std::pair<std::string, std::string>, std::pair<int, std::string>> meanings(
    const std::vector<ini::KeyLine>& keys) {
    std::map<std::pair<std::string, std::string>, std::pair<int, std::string>> out;
    for (const auto& key : keys) {
        const ini::Value value = ini::readValue(key.rawValue);
        out[{key.section, key.key}] = {static_cast<int>(value.kind), value.bytes};
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    const auto first = unique(ini::parse(bytes).keys);
    const std::string written = ini::format(first);
    const ini::FileText reread = ini::parse(written);
    FUZZ_CHECK(reread.otherLines == 0 && reread.commentLines == 0);
    const auto second = unique(reread.keys);
    FUZZ_CHECK(second.size() == first.size());
    FUZZ_CHECK(meanings(second) == meanings(first));
    FUZZ_CHECK(ini::format(second) == written);

    const std::string raw = ini::writeValue(bytes);
    const ini::Value value = ini::readValue(raw);
    FUZZ_CHECK(value.kind == ini::Value::Kind::Text && value.bytes == bytes);
    const auto one = ini::parse("[S]\nk=" + raw + "\nnext=1\n").keys;
    FUZZ_CHECK(one.size() == 2 && one[0].rawValue == raw && one[1].key == "next");
    return 0;
}
