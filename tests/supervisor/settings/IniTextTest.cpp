// The settings file's codec alone: any bytes written come back, and a line
// written anew keeps its key and value.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "supervisor/settings/IniText.h"

namespace ini = tolvane::ini;

namespace {

TEST(IniText, AnyBytesWrittenReadBackAndEndTheirLine) {
    // Every byte, with the ones that matter to the file's syntax drawn
    // often.
    std::mt19937 random(20261208);
    const std::string special = " \t\r\n\"\\;,=@%[]x0789aAfF\x01\x1f\x7f\x80\xff";
    std::vector<std::string> texts{"",
                                   " ",
                                   "@",
                                   "@@",
                                   "\\",
                                   "\"",
                                   "\0",
                                   "a\\",
                                   "\\x",
                                   "\x01"
                                   "1",
                                   "\0"
                                   "a"};
    for (int n = 0; n < 3000; ++n) {
        std::string s;
        const int length = static_cast<int>(random() % 24);
        for (int k = 0; k < length; ++k)
            s += (random() % 2) ? special[random() % special.size()] : static_cast<char>(random() % 256);
        texts.push_back(s);
    }
    for (const std::string& text : texts) {
        const std::string raw = ini::writeValue(text);
        const ini::Value value = ini::readValue(raw);
        ASSERT_EQ(value.kind, ini::Value::Kind::Text) << raw;
        ASSERT_EQ(value.bytes, text) << raw;
        // The line ends where it should: the next key is untouched.
        const ini::FileText file = ini::parse("[S]\nk=" + raw + "\nnext=1\n");
        ASSERT_EQ(file.keys.size(), 2u) << raw;
        EXPECT_EQ(file.keys[0].rawValue, raw);
        EXPECT_EQ(file.keys[1].key, "next");
        EXPECT_EQ(file.keys[1].rawValue, "1");
        EXPECT_EQ(file.otherLines, 0u);
    }
}

TEST(IniText, LineWrittenAnewKeepsItsKeyAndValue) {
    // Found by fuzzing: a value that runs to the end of the file in an open
    // quote cannot be written back as it was (it would swallow what follows
    // it), so its line is written anew; its key holds a NUL and bytes that
    // are not UTF-8, and must come back under the same name.
    const std::string file = std::string(
                                 "[T!empo]\r\nIdx_dx_0=\xff\xfe\r\nIdx_1="
                                 "@Vaiantr_0=\xff\xfe\r\nIw\0dx_1",
                                 51) +
                             "\xc3\xbf\xa9\x9arian_1dx_2=\"open\n";
    const ini::FileText first = ini::parse(file);
    ASSERT_EQ(first.keys.size(), 3u);
    const std::string written = ini::format(first.keys);
    const ini::FileText second = ini::parse(written + "[After]\nk=v\n");
    ASSERT_EQ(second.keys.size(), 4u) << written;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(second.keys[i].section, first.keys[i].section) << i;
        EXPECT_EQ(second.keys[i].key, first.keys[i].key) << i;
        EXPECT_EQ(ini::readValue(second.keys[i].rawValue).bytes, ini::readValue(first.keys[i].rawValue).bytes) << i;
    }
    EXPECT_EQ(ini::readValue(second.keys[2].rawValue).bytes, "open\n");
    EXPECT_EQ(second.keys[3].key, "k");
    // Names in general: any bytes are written so that they read back.
    for (const std::string& name :
         {std::string("a/b"), std::string("end/"), std::string("%41"), std::string("caf\xc3\xa9"),
          std::string("\xff\x80"), std::string("sp ace"), std::string("\xf0\x9f\x98\x80"), std::string("x\0y", 3),
          std::string("[not a section"), std::string(";semi=eq")}) {
        const ini::FileText read = ini::parse("[S]\n" + ini::writeKey(name) + "=1\n");
        ASSERT_EQ(read.keys.size(), 1u) << name;
        EXPECT_EQ(read.keys[0].key, name);
    }
}

}  // namespace
