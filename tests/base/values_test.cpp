#include <gtest/gtest.h>

#include "base/base64.h"
#include "base/json.h"
#include "base/uuid.h"

using namespace quintalis;

TEST(UUID, FormatsUpperCaseAndParsesEitherCase) {
    auto lower = UUID::parse("0d3f1e2a-9b8c-4d7e-a6f5-0123456789ab");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->string(), "0D3F1E2A-9B8C-4D7E-A6F5-0123456789AB");
    EXPECT_EQ(UUID::parse(lower->string()), lower);
}

TEST(UUID, RejectsEverythingButTheGroupedForm) {
    for (const char* text : {"", "0D3F1E2A9B8C4D7EA6F50123456789AB", "0D3F1E2A-9B8C-4D7E-A6F5-0123456789A",
                             "0D3F1E2A-9B8C-4D7E-A6F5-0123456789ABC", "0D3F1E2A-9B8C-4D7E-A6F5-0123456789AG",
                             "0D3F1E2A+9B8C-4D7E-A6F5-0123456789AB", "0D3F1E2-A9B8C-4D7E-A6F5-0123456789AB"}) {
        EXPECT_FALSE(UUID::parse(text)) << text;
    }
}

TEST(UUID, NameBasedIdsAreStableAndDistinct) {
    EXPECT_EQ(UUID::fromName("Simulated iPhone"), UUID::fromName("Simulated iPhone"));
    EXPECT_NE(UUID::fromName("Simulated iPhone"), UUID::fromName("Simulated iPhone 2"));
}

TEST(JSON, SerialisesCompactlyWithSortedKeysAndEscapedSlashes) {
    JSON value{{"zeta", 1}, {"alpha", "a/b"}, {"mid", JSON::array({true, nullptr, 0.5})}};
    EXPECT_EQ(serializeJSON(value), R"({"alpha":"a\/b","mid":[true,null,0.5],"zeta":1})");
}

TEST(JSON, WholeNumbersPrintWithoutAFraction) {
    JSON value{{"x", 44.0}, {"nested", JSON::array({-3.0, 0.0, 2.5, JSON{{"h", 1e15}}})}, {"huge", 1e300}};
    EXPECT_EQ(serializeJSON(value), R"({"huge":1e+300,"nested":[-3,0,2.5,{"h":1000000000000000}],"x":44})");
}

TEST(JSON, InvalidUTF8IsReplacedNotThrown) {
    JSON value{{"text", std::string("a\xff")}};
    EXPECT_EQ(serializeJSON(value), "{\"text\":\"a\xEF\xBF\xBD\"}");
}

TEST(JSON, ParseRefusesTrailingGarbage) {
    EXPECT_TRUE(parseJSON(R"({"a":1})"));
    EXPECT_FALSE(parseJSON(R"({"a":1} x)"));
    EXPECT_FALSE(parseJSON(""));
}

TEST(Base64, PadsTheLastGroupAndKeepsEveryByte) {
    EXPECT_EQ(base64Encoded(""), "");
    EXPECT_EQ(base64Encoded("f"), "Zg==");
    EXPECT_EQ(base64Encoded("fo"), "Zm8=");
    EXPECT_EQ(base64Encoded("foo"), "Zm9v");
    EXPECT_EQ(base64Encoded("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64Encoded(std::string("\xFF\xFE\x00\x80", 4)), "//4AgA==");
}
