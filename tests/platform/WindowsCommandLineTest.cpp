// The Windows command-line rules that tools' argument text is split by on
// Linux, and the quoting that must give any argument back unchanged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/shared/WindowsCommandLine.h"

using tolvane::platform::quoteWindowsArgument;
using tolvane::platform::splitWindowsArguments;
using Args = std::vector<std::string>;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

// The examples of Microsoft's own table for the C runtime.
TEST(SplitWindowsArguments, MicrosoftTableExamples) {
    EXPECT_THAT(splitWindowsArguments(R"("abc" d e)"), ElementsAre("abc", "d", "e"));
    EXPECT_THAT(splitWindowsArguments(R"(a\\b d"e f"g h)"), ElementsAre(R"(a\\b)", "de fg", "h"));
    EXPECT_THAT(splitWindowsArguments(R"(a\\\"b c d)"), ElementsAre(R"(a\"b)", "c", "d"));
    EXPECT_THAT(splitWindowsArguments(R"(a\\\\"b c" d e)"), ElementsAre(R"(a\\b c)", "d", "e"));
    EXPECT_THAT(splitWindowsArguments(R"(a"b"" c d)"), ElementsAre(R"(ab" c d)"));
}

TEST(SplitWindowsArguments, BackslashesCountOnlyBeforeAQuote) {
    EXPECT_THAT(splitWindowsArguments(R"(\\server\share\file)"), ElementsAre(R"(\\server\share\file)"));
    EXPECT_THAT(splitWindowsArguments(R"(a\"b)"), ElementsAre(R"(a"b)"));        // 1: literal quote
    EXPECT_THAT(splitWindowsArguments(R"(a\\"b c")"), ElementsAre(R"(a\b c)"));  // 2: one, quote acts
    EXPECT_THAT(splitWindowsArguments(R"(a\\\"b)"), ElementsAre(R"(a\"b)"));     // 3: one and literal
    EXPECT_THAT(splitWindowsArguments(R"(a\\\\\"b)"), ElementsAre(R"(a\\"b)"));  // 5: two and literal
}

TEST(SplitWindowsArguments, TrailingBackslashes) {
    EXPECT_THAT(splitWindowsArguments(R"(a\)"), ElementsAre(R"(a\)"));
    EXPECT_THAT(splitWindowsArguments(R"(a\\ b\\\)"), ElementsAre(R"(a\\)", R"(b\\\)"));
    EXPECT_THAT(splitWindowsArguments(R"("C:\Program Files\\" next)"), ElementsAre(R"(C:\Program Files\)", "next"));
    // The classic trap: a single backslash before the closing quote escapes
    // it, so the quote stays open and swallows the rest.
    EXPECT_THAT(splitWindowsArguments(R"("C:\Program Files\" next)"), ElementsAre(R"(C:\Program Files" next)"));
}

TEST(SplitWindowsArguments, DoubledQuoteInsideQuotesIsALiteralQuote) {
    EXPECT_THAT(splitWindowsArguments(R"("a""b")"), ElementsAre(R"(a"b)"));
    EXPECT_THAT(splitWindowsArguments(R"("""")"), ElementsAre(R"(")"));
    EXPECT_THAT(splitWindowsArguments(R"(""")"), ElementsAre(R"(")"));
    // Outside quotes "" opens and closes: nothing literal.
    EXPECT_THAT(splitWindowsArguments(R"(a""b)"), ElementsAre("ab"));
}

TEST(SplitWindowsArguments, EmptyQuotedArgumentIsKept) {
    EXPECT_THAT(splitWindowsArguments(R"("")"), ElementsAre(""));
    EXPECT_THAT(splitWindowsArguments(R"(a "" b)"), ElementsAre("a", "", "b"));
    EXPECT_THAT(splitWindowsArguments(R"("" "")"), ElementsAre("", ""));
    EXPECT_THAT(splitWindowsArguments("a \"\""), ElementsAre("a", ""));
}

TEST(SplitWindowsArguments, BlanksAreSpaceAndTabOnly) {
    EXPECT_THAT(splitWindowsArguments("a\tb \t c"), ElementsAre("a", "b", "c"));
    EXPECT_THAT(splitWindowsArguments("  \t lead trail \t "), ElementsAre("lead", "trail"));
    EXPECT_THAT(splitWindowsArguments("\"a\tb\""), ElementsAre("a\tb"));
    EXPECT_THAT(splitWindowsArguments("line\nbreak\rcr"), ElementsAre("line\nbreak\rcr"));
    EXPECT_THAT(splitWindowsArguments(""), IsEmpty());
    EXPECT_THAT(splitWindowsArguments(" \t  "), IsEmpty());
}

TEST(SplitWindowsArguments, QuotesJoinPiecesAndAnOpenQuoteRunsToTheEnd) {
    EXPECT_THAT(splitWindowsArguments(R"(a"b c"d e)"), ElementsAre("ab cd", "e"));
    EXPECT_THAT(splitWindowsArguments(R"("a b)"), ElementsAre("a b"));
    EXPECT_THAT(splitWindowsArguments(R"(a")"), ElementsAre("a"));
}

TEST(SplitWindowsArguments, ShellCharactersAndAccentsArePlainText) {
    EXPECT_THAT(
        splitWindowsArguments("/Batch=J+ <OptDuree:12> a&b;c $(rm -rf x) |p `q` 'r s' Été"),
        ElementsAre("/Batch=J+", "<OptDuree:12>", "a&b;c", "$(rm", "-rf", "x)", "|p", "`q`", "'r", "s'", "Été"));
}

TEST(QuoteWindowsArgument, LeavesPlainArgumentsAlone) {
    EXPECT_EQ(quoteWindowsArgument("/NoBase=0"), "/NoBase=0");
    EXPECT_EQ(quoteWindowsArgument(R"(C:\dir\file)"), R"(C:\dir\file)");
    EXPECT_EQ(quoteWindowsArgument("Été<&>"), "Été<&>");
}

TEST(QuoteWindowsArgument, QuotesWhatNeedsIt) {
    EXPECT_EQ(quoteWindowsArgument(""), R"("")");
    EXPECT_EQ(quoteWindowsArgument("a b"), R"("a b")");
    EXPECT_EQ(quoteWindowsArgument("a\tb"), "\"a\tb\"");
    EXPECT_EQ(quoteWindowsArgument(R"(a"b)"), R"("a\"b")");
    EXPECT_EQ(quoteWindowsArgument(R"(a\"b)"), R"("a\\\"b")");
    // Backslashes before the closing quote are doubled, others stay single.
    EXPECT_EQ(quoteWindowsArgument(R"(C:\Program Files\)"), R"("C:\Program Files\\")");
}

std::string joined(const Args& args, const std::string& separator) {
    std::string text;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i) text += separator;
        text += quoteWindowsArgument(args[i]);
    }
    return text;
}

TEST(QuoteThenSplit, HostileArgumentsComeBackUnchanged) {
    const Args hostile = {"",
                          " ",
                          "\t",
                          "\"",
                          "\"\"",
                          "\\",
                          "\\\\",
                          "\\\"",
                          "a\\",
                          "a\\\\",
                          "a b\\",
                          "a b\\\\",
                          "\\\\\"\\",
                          "\"\\\"\\\\\"",
                          "x\"\"y",
                          "C:\\Program Files\\",
                          "<in >out 2>&1 | tee; $(id) `id` &&",
                          "Vantorix Été à ü",
                          "%PATH% !x! ^",
                          "end with quote\"",
                          "\"start with quote",
                          "new\nline"};
    for (const auto& a : hostile) {
        EXPECT_THAT(splitWindowsArguments(quoteWindowsArgument(a)), ElementsAre(a)) << "argument [" << a << "]";
    }
    EXPECT_EQ(splitWindowsArguments(joined(hostile, " ")), hostile);
    EXPECT_EQ(splitWindowsArguments(joined(hostile, " \t ")), hostile);
}

// Every string of up to six characters over the characters the rules care
// about: no combination of quotes, backslashes and blanks is lost.
TEST(QuoteThenSplit, EveryShortStringOfSpecialCharactersComesBack) {
    const std::string alphabet = "a \t\"\\";
    std::vector<std::string> level{""};
    int checked = 0;
    for (int length = 0; length <= 6; ++length) {
        std::vector<std::string> next;
        for (const auto& s : level) {
            const auto back = splitWindowsArguments(quoteWindowsArgument(s));
            ASSERT_EQ(back.size(), 1u) << "[" << s << "]";
            ASSERT_EQ(back[0], s);
            ++checked;
            for (const char c : alphabet) next.push_back(s + c);
        }
        level = std::move(next);
    }
    EXPECT_EQ(checked, 1 + 5 + 25 + 125 + 625 + 3125 + 15625);
}

TEST(QuoteThenSplit, RandomArgumentListsComeBack) {
    std::mt19937 random(20261207);
    const std::string alphabet = "ab \t\"\\\\<>&;$()'`|\xC3\xA9";
    for (int round = 0; round < 3000; ++round) {
        Args args(1 + random() % 5);
        for (auto& a : args) {
            const std::size_t length = random() % 9;
            for (std::size_t i = 0; i < length; ++i) a.push_back(alphabet[random() % alphabet.size()]);
        }
        ASSERT_EQ(splitWindowsArguments(joined(args, round % 2 ? " " : "\t")), args) << joined(args, " ");
    }
}

}  // namespace
