// The stand-in's log format and sidecar switches: what the platform and
// end-to-end tests rely on to read back exactly what a tool received.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "standin/StandinLog.h"
#include "standin/StandinOptions.h"

using namespace tolvane::standin;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

TEST(StandinLogField, EscapesWhatWouldBreakALineOrBeUnreadable) {
    EXPECT_EQ(escapeLogField("plain /NoBase=0 <&>"), "plain /NoBase=0 <&>");
    EXPECT_EQ(escapeLogField("a\\b"), "a\\\\b");
    EXPECT_EQ(escapeLogField("\t\n\r"), "\\t\\n\\r");
    EXPECT_EQ(escapeLogField(std::string("\x01\x1f\x7f", 3)), "\\x01\\x1F\\x7F");
    EXPECT_EQ(escapeLogField(std::string("a\0b", 3)), "a\\x00b");
}

TEST(StandinLogField, KeepsValidUtf8AndEscapesInvalidBytes) {
    EXPECT_EQ(escapeLogField("Vantorix Été"), "Vantorix Été");
    EXPECT_EQ(escapeLogField("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");  // U+1F600
    EXPECT_EQ(escapeLogField("\xFF"), "\\xFF");
    EXPECT_EQ(escapeLogField("\xC3"), "\\xC3");                             // cut short
    EXPECT_EQ(escapeLogField("\xC3x"), "\\xC3x");                           // bad continuation
    EXPECT_EQ(escapeLogField("\xC0\xAF"), "\\xC0\\xAF");                    // overlong '/'
    EXPECT_EQ(escapeLogField("\xED\xA0\x80"), "\\xED\\xA0\\x80");           // surrogate
    EXPECT_EQ(escapeLogField("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");  // past U+10FFFF
}

TEST(StandinLogField, EveryByteComesBack) {
    for (int b = 0; b < 256; ++b) {
        const std::string raw(1, static_cast<char>(b));
        EXPECT_EQ(unescapeLogField(escapeLogField(raw)), raw) << b;
    }
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string raw(random() % 12, '\0');
        for (char& c : raw) c = static_cast<char>(random() % 256);
        const std::string escaped = escapeLogField(raw);
        ASSERT_EQ(escaped.find('\t'), std::string::npos);
        ASSERT_EQ(escaped.find('\n'), std::string::npos);
        ASSERT_EQ(unescapeLogField(escaped), raw);
    }
}

TEST(StandinLogField, RejectsBrokenEscapes) {
    EXPECT_EQ(unescapeLogField("ends with \\"), std::nullopt);
    EXPECT_EQ(unescapeLogField("\\q"), std::nullopt);
    EXPECT_EQ(unescapeLogField("\\x4"), std::nullopt);
    EXPECT_EQ(unescapeLogField("\\xZZ"), std::nullopt);
    EXPECT_EQ(unescapeLogField("raw\ttab"), std::nullopt);
    EXPECT_EQ(unescapeLogField("\\x41\\\\"), "A\\");
}

StandinLogLine sample(std::vector<std::string> arguments) {
    StandinLogLine line;
    line.time = "2026-12-07 04:07:10.123";
    line.pid = 4242;
    line.executableName = "VX8_Player_A";
    line.showState = "minimised";
    line.openDescriptors = "0,1,2";
    line.workingFolder = "/opt/Vantorix Été";
    line.argv0 = "/opt/Vantorix Été/VX8_Player_A";
    line.arguments = std::move(arguments);
    return line;
}

TEST(StandinLogLine, RoundTripsArgumentsIncludingEmptyOnes) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {""}, {"", ""}, {"a", ""}, {"/Veille=True", "tab\there", "new\nline", "back\\slash\\"}}) {
        const auto line = sample(args);
        const std::string text = formatLogLine(line);
        ASSERT_EQ(text.back(), '\n');
        ASSERT_EQ(text.find('\n'), text.size() - 1);
        EXPECT_EQ(parseLogLine(text), line) << text;
    }
    // No argument and one empty argument are different lines.
    EXPECT_NE(formatLogLine(sample({})), formatLogLine(sample({""})));
}

TEST(StandinLogLine, RejectsLinesThatAreNotLogLines) {
    EXPECT_EQ(parseLogLine(""), std::nullopt);
    EXPECT_EQ(parseLogLine("time\t12\tname\tshow\t0,1,2\t/cwd"), std::nullopt);  // argv[0] missing
    EXPECT_EQ(parseLogLine("time\tpid?\tname\tshow\t0,1,2\t/cwd\targv0"), std::nullopt);
    EXPECT_EQ(parseLogLine("time\t12\tname\tshow\t0,1,2\t/cwd\targv0\tbad\\escape"), std::nullopt);
    ASSERT_TRUE(parseLogLine("time\t12\tname\t\t0,1,2\t/cwd\targv0").has_value());
}

TEST(StandinLog, ReadsCompleteLinesOnlyAndSkipsGarbage) {
    const std::string text =
        formatLogLine(sample({"one"})) + "garbage line\n" + formatLogLine(sample({"two"})) + "2026-12-07 cut sh";
    const auto lines = parseLog(text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0].arguments, ElementsAre("one"));
    EXPECT_THAT(lines[1].arguments, ElementsAre("two"));
    EXPECT_THAT(readLogFile("/nonexistent/standin.log"), IsEmpty());
}

TEST(StandinOptions, ReadsEachSwitch) {
    const auto o = parseStandinOptions(
        "# a copy that misbehaves\r\n"
        "title = Something Else\r\n"
        "nowindow=1\n"
        "\n"
        "exit_after_ms=100\n"
        "crash_after_ms=250\n"
        "hold_mb=50\n"
        "ignore_sigterm=1\n"
        "restart_after_ms=3000\n"
        "freeze_after_ms=1500\n"
        "freeze_for_ms=6000\n"
        "unknown=3\n");
    EXPECT_EQ(o.title, "Something Else");
    EXPECT_TRUE(o.noWindow);
    EXPECT_EQ(o.exitAfterMs, 100);
    EXPECT_EQ(o.crashAfterMs, 250);
    EXPECT_EQ(o.holdMb, 50);
    EXPECT_TRUE(o.ignoreSigterm);
    EXPECT_EQ(o.restartAfterMs, 3000);
    EXPECT_EQ(o.freezeAfterMs, 1500);
    EXPECT_EQ(o.freezeForMs, 6000);
}

// When a copy stops reading its messages and for how long: no freeze unless
// asked, and a length that is missing, zero or unreadable means until killed.
TEST(StandinOptions, FreezeSwitches) {
    struct Case {
        const char* text;
        std::optional<long> after;
        long forMs;
    };
    const Case cases[] = {
        {"", std::nullopt, 0},
        {"freeze_after_ms=0", 0, 0},
        {"freeze_after_ms=2500", 2500, 0},
        {"freeze_after_ms = 2500 \r\nfreeze_for_ms = 4000\r\n", 2500, 4000},
        {"freeze_for_ms=4000\nfreeze_after_ms=10", 10, 4000},  // in any order
        {"freeze_after_ms=10\nfreeze_for_ms=0", 10, 0},
        {"freeze_after_ms=10\nfreeze_for_ms=", 10, 0},
        {"freeze_after_ms=10\nfreeze_for_ms=-5", 10, 0},
        {"freeze_after_ms=10\nfreeze_for_ms=long", 10, 0},
        {"freeze_for_ms=4000", std::nullopt, 4000},  // a length alone freezes nothing
        {"freeze_after_ms=-1", std::nullopt, 0},
        {"freeze_after_ms=1s", std::nullopt, 0},
        {"# freeze_after_ms=10", std::nullopt, 0},
        {"Freeze_After_Ms=10", std::nullopt, 0},  // keys are lower case
    };
    for (const auto& c : cases) {
        const auto o = parseStandinOptions(c.text);
        EXPECT_EQ(o.freezeAfterMs, c.after) << c.text;
        EXPECT_EQ(o.freezeForMs, c.forMs) << c.text;
    }
}

TEST(StandinOptions, DefaultsAndBadValues) {
    const auto none = parseStandinOptions("");
    EXPECT_FALSE(none.title.has_value());
    EXPECT_FALSE(none.noWindow);
    EXPECT_FALSE(none.exitAfterMs.has_value());
    EXPECT_EQ(none.holdMb, 0);
    const auto bad =
        parseStandinOptions("exit_after_ms=soon\nhold_mb=-5\nnowindow=0\nignore_sigterm\nrestart_after_ms=-1");
    EXPECT_FALSE(bad.exitAfterMs.has_value());
    EXPECT_FALSE(bad.restartAfterMs.has_value());
    EXPECT_EQ(bad.holdMb, 0);
    EXPECT_FALSE(bad.noWindow);
    EXPECT_FALSE(bad.ignoreSigterm);
}

TEST(StandinStandbySwitch, FoundAnywhereInAnyCase) {
    EXPECT_TRUE(asksForStandby({"/Veille=True"}));
    EXPECT_TRUE(asksForStandby({"/NoBase=0", "/veille=TRUE"}));
    EXPECT_TRUE(asksForStandby({"x/VEILLE=truey"}));
    EXPECT_FALSE(asksForStandby({}));
    EXPECT_FALSE(asksForStandby({"/Veille=False"}));
    EXPECT_FALSE(asksForStandby({"/Veille=", "True"}));  // joined with a blank
    EXPECT_FALSE(asksForStandby({"Veille=True"}));
}

}  // namespace
