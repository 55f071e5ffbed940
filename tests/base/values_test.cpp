#include <gtest/gtest.h>

#include "base/base64.h"
#include "base/characters.h"
#include "base/json.h"
#include "base/text.h"
#include "base/uuid.h"

using namespace quintalis;

TEST(UUID, ParsesOnlyTheGroupedFormAndNamesStably) {
    auto lower = UUID::parse("0d3f1e2a-9b8c-4d7e-a6f5-0123456789ab");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->string(), "0D3F1E2A-9B8C-4D7E-A6F5-0123456789AB");
    EXPECT_EQ(UUID::parse(lower->string()), lower);
    for (const char* text : {"", "0D3F1E2A9B8C4D7EA6F50123456789AB", "0D3F1E2A-9B8C-4D7E-A6F5-0123456789A",
                             "0D3F1E2A-9B8C-4D7E-A6F5-0123456789ABC", "0D3F1E2A-9B8C-4D7E-A6F5-0123456789AG"}) {
        EXPECT_FALSE(UUID::parse(text)) << text;
    }
    EXPECT_EQ(UUID::fromName("Simulated iPhone"), UUID::fromName("Simulated iPhone"));
    EXPECT_NE(UUID::fromName("Simulated iPhone"), UUID::fromName("Simulated iPhone 2"));
}

TEST(JSON, SerialisesCompactlySortedAndParsesStrictly) {
    JSON value{{"zeta", 1}, {"alpha", "a/b"}, {"mid", JSON::array({true, nullptr, 0.5})}};
    EXPECT_EQ(serializeJSON(value), R"({"alpha":"a\/b","mid":[true,null,0.5],"zeta":1})");
    JSON numbers{{"x", 44.0}, {"nested", JSON::array({-3.0, 0.0, 2.5, JSON{{"h", 1e15}}})}, {"huge", 1e300}};
    EXPECT_EQ(serializeJSON(numbers), R"({"huge":1e+300,"nested":[-3,0,2.5,{"h":1000000000000000}],"x":44})");
    EXPECT_EQ(serializeJSON(JSON{{"text", std::string("a\xff")}}), "{\"text\":\"a\xEF\xBF\xBD\"}");
    EXPECT_FALSE(parseJSON(R"({"a":1} x)"));
}

TEST(JSON, OnlyTheBooleanTrueIsTrue) {
    const JSON body{{"yes", true}, {"no", false}, {"one", 1}, {"text", "true"}, {"none", nullptr}};
    EXPECT_TRUE(isTrue(body, "yes"));
    for (const char* name : {"no", "one", "text", "none", "absent"}) EXPECT_FALSE(isTrue(body, name)) << name;
    EXPECT_FALSE(isTrue(JSON::array({true}), "0"));
}

namespace {

// `levels` arrays or objects, one inside the other, around `core`.
std::string nested(size_t levels, bool objects, const std::string& core = "1") {
    std::string text;
    for (size_t i = 0; i < levels; ++i) text += objects ? "{\"a\":" : "[";
    text += core;
    for (size_t i = 0; i < levels; ++i) text += objects ? "}" : "]";
    return text;
}

}  // namespace

TEST(JSON, NestingIsBoundedWhileReading) {
    for (bool objects : {false, true}) {
        auto deepest = readJSON(nested(kMaxJSONDepth, objects));
        ASSERT_TRUE(deepest.value) << objects;
        EXPECT_FALSE(deepest.tooDeep);
        // One level more is refused, however it is spelt; so is a document
        // deep enough to exhaust any stack, and one that is deep and broken.
        for (size_t levels : {size_t(kMaxJSONDepth) + 1, size_t(150'000)}) {
            auto refused = readJSON(nested(levels, objects));
            EXPECT_FALSE(refused.value) << levels;
            EXPECT_TRUE(refused.tooDeep) << levels;
        }
        EXPECT_TRUE(readJSON(nested(150'000, objects).substr(0, 400'000)).tooDeep);
    }
    // Depth counts nesting, not brackets in strings or containers side by side.
    EXPECT_TRUE(parseJSON("[\"" + std::string(1000, '[') + "\"]"));
    std::string wide = "[";
    for (int i = 0; i < 1000; ++i) wide += (i ? "," : "") + nested(kMaxJSONDepth - 1, true);
    EXPECT_TRUE(parseJSON(wide + "]"));
    auto broken = readJSON("[[[1]]");
    EXPECT_FALSE(broken.value);
    EXPECT_FALSE(broken.tooDeep);
}

TEST(TypedText, IsCountedAsAReaderCountsCharacters) {
    std::string accented;
    for (int i = 0; i < 4000; ++i) accented += "e\u0301";  // two code points, one character
    EXPECT_EQ(typedTextTooLong(accented), std::nullopt);
    EXPECT_EQ(typedTextTooLong(accented + "a"), "text is too long (at most 4000 characters)");
    EXPECT_EQ(typedTextTooLong(std::string(9'000'000, 'a')), "text is too long (at most 4000 characters)");
}

TEST(Base64, PadsTheLastGroupAndKeepsEveryByte) {
    EXPECT_EQ(base64Encoded("fo"), "Zm8=");
    EXPECT_EQ(base64Encoded("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64Encoded(std::string("\xFF\xFE\x00\x80", 4)), "//4AgA==");
}

// The one trim of names, command output and desktop-entry lines: ASCII
// blanks and line breaks at either end go, anything else stays.
TEST(Text, TrimmingTakesBlanksOffBothEndsOnly) {
    EXPECT_EQ(trimWhiteSpace(" \t\r\n\v\fExec = /a b\r\n\f"), "Exec = /a b");
    EXPECT_EQ(trimWhiteSpace("caf\u00e9\u00a0"), "caf\u00e9\u00a0") << "a no-break space is no ASCII blank";
    EXPECT_EQ(trimWhiteSpace(" \r\n "), "");
}
