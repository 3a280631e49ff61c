#include "json/json.hpp"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

namespace {

/// The parser's error for `text`, or "" when it parses.
std::string parseError(const std::string& text) {
    JsonValue v;
    std::string error;
    return parseJson(text, v, error) ? std::string() : error;
}

JsonValue parseOk(const std::string& text) {
    JsonValue v;
    std::string error;
    EXPECT_TRUE(parseJson(text, v, error)) << text << ": " << error;
    return v;
}

std::string parseString(const std::string& jsonText) { return parseOk(jsonText).text; }

TEST(JsonParser, EmptyAndBlankTextsEndEarly) {
    EXPECT_EQ(parseError(""), "unexpected end of input at offset 0");
    EXPECT_EQ(parseError("   "), "unexpected end of input at offset 3");
    EXPECT_EQ(parseError("[1,"), "unexpected end of input at offset 3");
}

TEST(JsonParser, EmptyContainersWithBlankSpace) {
    JsonValue o = parseOk(" { \t\r\n} ");
    EXPECT_EQ(o.kind, JsonKind::Object);
    EXPECT_TRUE(o.members.empty());
    JsonValue a = parseOk("[\n]");
    EXPECT_EQ(a.kind, JsonKind::Array);
    EXPECT_TRUE(a.items.empty());
}

TEST(JsonParser, NumbersFollowTheStrictGrammar) {
    JsonValue negZero = parseOk("-0");
    EXPECT_EQ(negZero.kind, JsonKind::Number);
    EXPECT_EQ(negZero.number, 0.0);
    EXPECT_TRUE(std::signbit(negZero.number));
    EXPECT_TRUE(std::isinf(parseOk("1e400").number));
    EXPECT_EQ(parseOk("1e-400").number, 0.0);
    EXPECT_EQ(parseOk("0.1").number, 0.1);
    EXPECT_EQ(parseOk("-12.5E+2").number, -1250.0);
    EXPECT_EQ(parseError("01"), "trailing characters after JSON value at offset 1");
    EXPECT_EQ(parseError("1."), "invalid number (fraction) at offset 2");
    EXPECT_EQ(parseError("1e"), "invalid number (exponent) at offset 2");
    EXPECT_EQ(parseError("1e+x"), "invalid number (exponent) at offset 3");
    EXPECT_EQ(parseError("+1"), "invalid number at offset 0");
    EXPECT_EQ(parseError(".5"), "invalid number at offset 0");
    EXPECT_EQ(parseError("-"), "invalid number at offset 1");
    EXPECT_EQ(parseError("\xEF\xBB\xBF{}"), "invalid number at offset 0");  // byte-order mark
}

TEST(JsonParser, LiteralsAreComparedOnlyAsFarAsTheyGo) {
    EXPECT_EQ(parseOk("true").boolean, true);
    EXPECT_EQ(parseOk("false").kind, JsonKind::Bool);
    EXPECT_EQ(parseOk("null").kind, JsonKind::Null);
    EXPECT_EQ(parseError("nul"), "invalid literal at offset 0");
    EXPECT_EQ(parseError("[1, fals]"), "invalid literal at offset 4");
    EXPECT_EQ(parseError("trueX"), "trailing characters after JSON value at offset 4");
    EXPECT_EQ(parseError("[truex]"), "expected ',' or ']' at offset 5");
}

TEST(JsonParser, StringEscapesDecodeToUtf8) {
    EXPECT_EQ(parseString(R"("a\"\\\/\b\f\n\r\t")"), std::string("a\"\\/\b\f\n\r\t"));
    EXPECT_EQ(parseString(R"("\u00e9")"), "\xC3\xA9");
    EXPECT_EQ(parseString(R"("\u20AC")"), "\xE2\x82\xAC");
    EXPECT_EQ(parseString(R"("\ud83d\ude00")"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(parseString(R"("\ude00")"), "\xED\xB8\x80");  // a lone low surrogate is encoded as is
    EXPECT_EQ(parseString(R"("\u0000")"), std::string(1, '\0'));
    EXPECT_EQ(parseString("\"\xC3\xA9\""), "\xC3\xA9");  // raw bytes pass unchanged
}

TEST(JsonParser, StringFaultsAndTheirOffsets) {
    EXPECT_EQ(parseError("\"abc"), "unterminated string at offset 4");
    EXPECT_EQ(parseError("\"a\tb\""), "unescaped control character in string at offset 3");
    EXPECT_EQ(parseError("\"a\\"), "unterminated escape at offset 3");
    EXPECT_EQ(parseError(R"("\x")"), "invalid escape character at offset 3");
    EXPECT_EQ(parseError(R"("\u12")"), "truncated \\u escape at offset 3");
    EXPECT_EQ(parseError(R"("\u12g4")"), "invalid \\u escape at offset 3");
    EXPECT_EQ(parseError(R"("\ud83d")"), "unpaired UTF-16 surrogate at offset 7");
    EXPECT_EQ(parseError(R"("\ud83d\u0041")"), "invalid low surrogate at offset 13");
    EXPECT_EQ(parseError(R"("\ud83d\u00")"), "truncated \\u escape at offset 9");
}

TEST(JsonParser, ContainerFaultsAndTheirOffsets) {
    EXPECT_EQ(parseError("[1 2]"), "expected ',' or ']' at offset 3");
    EXPECT_EQ(parseError("[1,]"), "invalid number at offset 3");
    EXPECT_EQ(parseError("{\"a\" 1}"), "expected ':' at offset 5");
    EXPECT_EQ(parseError("{\"a\":1,}"), "expected string key at offset 7");
    EXPECT_EQ(parseError("{1:2}"), "expected string key at offset 1");
    EXPECT_EQ(parseError("{\"a\":1 \"b\":2}"), "expected ',' or '}' at offset 7");
    EXPECT_EQ(parseError("{\"a\":1"), "expected ',' or '}' at offset 6");
    EXPECT_EQ(parseError("{\"a\""), "expected ':' at offset 4");
}

TEST(JsonParser, ObjectsKeepOrderAndDuplicates) {
    JsonValue o = parseOk(R"({"b": 1, "a": 1, "a": 2})");
    ASSERT_EQ(o.members.size(), 3u);
    EXPECT_EQ(o.members[0].key, "b");
    const JsonValue* a = findMember(o, "a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->number, 1.0);
    EXPECT_EQ(findMember(o, "A"), nullptr);
    EXPECT_EQ(findMember(parseOk("[1]"), "a"), nullptr);
}

TEST(JsonParser, KeysCompareByteForByte) {
    JsonValue o = parseOk(R"({"a\u0000b": 1, "a": 2})");
    EXPECT_EQ(findMember(o, std::string("a\0b", 3))->number, 1.0);
    EXPECT_EQ(findMember(o, "a")->number, 2.0);
}

TEST(JsonParser, NestingIsBoundedWithoutExhaustingTheStack) {
    std::string ok = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
    EXPECT_EQ(parseError(ok), "");
    std::string deep = std::string(kMaxJsonDepth + 1, '[') + std::string(kMaxJsonDepth + 1, ']');
    EXPECT_EQ(parseError(deep), "arrays and objects nested deeper than " + std::to_string(kMaxJsonDepth) +
                                    " levels at offset " + std::to_string(kMaxJsonDepth));
    // Far deeper than any stack could recurse: still a clean failure.
    std::string hostile(10000000, '[');
    EXPECT_NE(parseError(hostile).find("nested deeper"), std::string::npos);
    std::string objects;
    for (int i = 0; i <= kMaxJsonDepth; ++i) objects += "{\"k\":";
    EXPECT_NE(parseError(objects).find("nested deeper"), std::string::npos);
}

}  // namespace
