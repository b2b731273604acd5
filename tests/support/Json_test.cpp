// The JSON reader takes verdict files from disk as they come: damaged or hostile text is an
// error with its place, never a crash or a string that is not UTF-8; what the one string writer
// writes always reads back; and the writer lays out what the programs print as they always have.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "support/Json.h"

namespace {

std::string Read(const std::string& json) {
    const TJsonParsed parsed = ParseJson(json);
    if (!parsed.Value) return "ERROR: " + parsed.Error;
    if (const std::string* text = parsed.Value->String()) return *text;
    return "NOT A STRING";
}

TEST(Json, EscapesAndSurrogatesDecodeToUtf8AndBadOnesToReplacement) {
    const struct {
        const char* json;
        std::string utf8;
    } cases[] = {
        {R"("a\"b\\c\/d")", "a\"b\\c/d"},
        {R"("\b\f\n\r\t")", "\b\f\n\r\t"},
        {R"("\u00e9\u00C9")", "\xC3\xA9\xC3\x89"},
        {R"("\u20ac")", "\xE2\x82\xAC"},
        {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},  // a pair: one character, four bytes
        {R"("\ud800x")", "\xEF\xBF\xBDx"},          // a high surrogate alone
        {R"("\udc00")", "\xEF\xBF\xBD"},            // a low surrogate alone
        {R"("\ud800\u0041")", std::string("\xEF\xBF\xBD") + "A"},  // before a plain escape
        {R"("\u0000")", std::string(1, '\0')},
        {"\"caf\xC3\xA9\"", "caf\xC3\xA9"},
        {"\"\xFF\xC3(\"", "\xEF\xBF\xBD\xEF\xBF\xBD("},                // bytes that are not UTF-8
        {"\"\xED\xA0\x80\"", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // an encoded surrogate
        {"\"\xC0\xAF\"", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // an overlong '/'
        {"\xEF\xBB\xBF\"bom\"", "bom"},
    };
    for (const auto& c : cases) EXPECT_EQ(Read(c.json), c.utf8) << c.json;
}

TEST(Json, DamagedOrHostileTextIsAnErrorNotACrash) {
    const std::string deep(100000, '[');
    // clang-format off
    const std::string cases[] = {
        "", "   ", "{", "[1,", "{\"a\":}", "{\"a\" 1}", "{1:2}", "[1 2]", "[1,]", "{\"a\":1,}",
        "\"abc", "\"\\u12\"", "\"\\x\"", "\"a\nb\"", "01", "1.", "-", "1e", "+1", ".5", "tru",
        "nul", "NaN", "Infinity", "1e999", "[1]x", "{}{}", deep, deep + std::string(100000, ']'),
        std::string("\"a\0b\"", 5),
    };
    // clang-format on
    for (const std::string& text : cases) {
        const TJsonParsed parsed = ParseJson(text);
        EXPECT_FALSE(parsed.Value.has_value()) << text.substr(0, 40);
        EXPECT_FALSE(parsed.Error.empty()) << text.substr(0, 40);
        EXPECT_LE(parsed.Offset, text.size());
    }
    // Nesting up to the limit is fine, one more is refused.
    const auto nested = [](int depth) {
        return std::string(static_cast<size_t>(depth), '[') +
               std::string(static_cast<size_t>(depth), ']');
    };
    EXPECT_TRUE(ParseJson(nested(kJsonMaxDepth)).Value.has_value());
    EXPECT_FALSE(ParseJson(nested(kJsonMaxDepth + 1)).Value.has_value());
}

TEST(Json, WrittenStringsAlwaysReadBackAsUtf8) {
    const struct {
        std::string written;
        std::string read;  // what comes back
    } cases[] = {
        {"plain", "plain"},
        {"quote \" backslash \\ slash /", "quote \" backslash \\ slash /"},
        {"tab\tnew line\ncarriage\rbell\x07", "tab\tnew line\ncarriage\rbell\x07"},
        {std::string("nul\0in", 6), std::string("nul\0in", 6)},
        {"\xC3\xA9t\xC3\xA9 \xF0\x9F\x94\x8B", "\xC3\xA9t\xC3\xA9 \xF0\x9F\x94\x8B"},
        {"Latin-1 \xE9t\xE9", "Latin-1 \xEF\xBF\xBDt\xEF\xBF\xBD"},
        {"cut short \xE2\x82", "cut short \xEF\xBF\xBD"},
        {"terminal \x1B[2J \xC2\x9B"
         "31m \x7F",
         "terminal \x1B[2J \xC2\x9B"
         "31m \x7F"},
    };
    for (const auto& c : cases) {
        const std::string json = JsonString(c.written);
        // Printed as it is, it steers no terminal.
        EXPECT_EQ(json.find_first_of(std::string("\n\r\t\x07\x1B\x7F\0", 7)), std::string::npos)
            << json;
        EXPECT_EQ(json.find("\xC2\x9B"), std::string::npos) << json;
        EXPECT_EQ(Read(json), c.read) << json;
    }
}

TEST(Json, WriterLaysOutObjectsAndArraysAsTheProgramsPrintThem) {
    const struct {
        const char* layout;
        std::function<void(TJsonWriter&)> write;
        const char* text;
    } cases[] = {
        {"an empty object", [](TJsonWriter& w) { w.Object().End(); }, "{}"},
        {"members with commas, no blanks",
         [](TJsonWriter& w) {
             w.Object().Key("a").Integer(-3).Key("b").Fixed(2.5, 3).Key("c").Null();
             w.Key("d").Boolean(false).Key("e").Strings({"x", "y"}).End();
         },
         R"({"a":-3,"b":2.500,"c":null,"d":false,"e":["x","y"]})"},
        {"no number JSON cannot hold",
         [](TJsonWriter& w) {
             w.Array().Fixed(NAN, 2).Number(INFINITY).FixedOrNull(std::nullopt, 1);
             w.NumberOrNull(0.1).StringOrNull(std::nullopt).End();
         },
         "[null,null,null,0.1,null]"},
        {"an array an item a line",
         [](TJsonWriter& w) { w.Array(true).Object().End().Integer(2).End(); }, "[\n{},\n2\n]"},
        {"an empty array an item a line", [](TJsonWriter& w) { w.Array(true).End(); }, "[]"},
        {"nested",
         [](TJsonWriter& w) {
             w.Object().Key("t").Array(true).Object().Key("id").Integer(1).End().End().End();
         },
         "{\"t\":[\n{\"id\":1}\n]}"},
    };
    for (const auto& c : cases) {
        TJsonWriter writer;
        c.write(writer);
        EXPECT_EQ(writer.Text(), c.text) << c.layout;
        EXPECT_TRUE(ParseJson(writer.Text()).Value.has_value()) << c.layout;
        EXPECT_EQ(writer.Line(), std::string(c.text) + "\n") << c.layout;
    }
}

}  // namespace
