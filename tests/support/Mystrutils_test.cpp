#include "support/Mystrutils.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/iifTools.h"

namespace {

struct CutCase {
    std::string source;
    std::string delimiters;
    bool keep;
    bool skip;
    std::vector<std::string> tokens;   // of successive calls
    std::vector<std::string> sources;  // left after each call
};

TEST(CutTokenTest, TokensAndRemainingSourceFollowTheFlags) {
    const std::vector<CutCase> cases = {
        {"12:30:15", ":", false, true, {"12", "30", "15"}, {"30:15", "15", ""}},
        {"::5", ":", false, true, {"5"}, {""}},
        {":5", ":", false, false, {"", "5"}, {"5", ""}},
        {"12::30", ":", false, true, {"12", "30"}, {":30", ""}},
        {"12::30", ":", false, false, {"12", "", "30"}, {":30", "30", ""}},
        {"7", ":", false, true, {"7"}, {""}},
        {"", ":", false, true, {""}, {""}},
        {":::", ":", false, true, {""}, {""}},
        {"a,b", ",", true, false, {"a"}, {",b"}},
        {",b", ",", true, true, {"b"}, {""}},
        {"a;b c", "; ", false, true, {"a", "b", "c"}, {"b c", "c", ""}},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE("source \"" + c.source + "\"");
        std::string source = c.source;
        for (size_t i = 0; i < c.tokens.size(); ++i) {
            std::string token = "stale";
            CutToken(source, CharSetOf(c.delimiters), c.keep, c.skip, token);
            EXPECT_EQ(token, c.tokens[i]) << "call " << i;
            EXPECT_EQ(source, c.sources[i]) << "call " << i;
        }
    }
}

TEST(CutTokenTest, HighByteDelimitersAndCharactersAreOrdinaryBytes) {
    // A signed-char index would turn 0xFF into a negative position of the set.
    std::string source = "\xC3\xBC\xFFrest";
    std::string token;
    CutToken(source, CharSetOf("\xFF"), false, true, token);
    EXPECT_EQ(token, "\xC3\xBC");
    EXPECT_EQ(source, "rest");
}

std::vector<std::string> AllParams(const std::string& text) {
    std::vector<std::string> arguments;
    const char* position = text.c_str();
    std::string argument;
    for (;;) {
        position = ParseNextParam(position, argument);
        if (argument.empty()) return arguments;
        arguments.push_back(argument);
    }
}

TEST(ParseNextParamTest, QuotesGroupAndSeparatorsSplit) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"a b", {"a", "b"}},
        {"  a\t\r\nb  ", {"a", "b"}},
        {"ab\"c d\"e", {"abc de"}},
        {"a \"\" b", {"a", "b"}},
        {"\"\"\"\" a", {"a"}},
        {"\"/tmp/my logs/x.csv\"", {"/tmp/my logs/x.csv"}},
        {"\"open to the end", {"open to the end"}},
        {"a\"\"b", {"ab"}},
        {"\"\xC3\xBC\" \xC3\xA4\xFF", {"\xC3\xBC", "\xC3\xA4\xFF"}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(AllParams(text), expected) << "text \"" << text << "\"";
    }
}

TEST(ParseNextParamTest, OverlongArgumentsAreSplitAtTheLimitWithoutLosingCharacters) {
    const std::string unquoted(kMaxParamLength + 904, 'x');
    EXPECT_EQ(AllParams(unquoted),
              (std::vector<std::string>{std::string(kMaxParamLength, 'x'), std::string(904, 'x')}));

    // The quoted run ends right at the limit: its closing quote must not open a new run.
    const std::string exact = '"' + std::string(kMaxParamLength, 'q') + "\" next";
    EXPECT_EQ(AllParams(exact),
              (std::vector<std::string>{std::string(kMaxParamLength, 'q'), "next"}));

    const std::string quoted = '"' + std::string(kMaxParamLength + 10, 'q') + '"';
    const std::vector<std::string> parts = AllParams(quoted);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0], std::string(kMaxParamLength, 'q'));
    EXPECT_EQ(parts[1], std::string(10, 'q'));
}

TEST(PickParamTest, IndexSelectsAnArgumentOrNothing) {
    const std::string twoArguments = "first \"second one\"";
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"\"/home/op/Kelvo logs/Log_1.csv\"", 0, "/home/op/Kelvo logs/Log_1.csv"},
        {twoArguments, 0, "first"},
        {twoArguments, 1, "second one"},
        {twoArguments, 2, ""},
        {twoArguments, 5, ""},
        {twoArguments, -1, ""},
        {"", 0, ""},
    };
    for (const auto& [text, index, expected] : cases) {
        std::string argument = "stale";
        PickParam(text, index, argument);
        EXPECT_EQ(argument, expected) << "text \"" << text << "\" index " << index;
    }
}

TEST(IifTest, IIFStrTakesTheFalseTextFirst) {
    EXPECT_EQ(IIFStr(true, "False", "True"), "True");
    EXPECT_EQ(IIFStr(false, "False", "True"), "False");
    EXPECT_EQ(IIF(true, 1, 2), 1);
    EXPECT_EQ(IIF(false, 1, 2), 2);
}

}  // namespace
