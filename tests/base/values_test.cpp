#include <gtest/gtest.h>

#include "base/json.h"
#include "base/uuid.h"

using namespace quintalis;

TEST(Uuid, FormatsUpperCaseAndParsesEitherCase) {
    auto lower = Uuid::parse("0d3f1e2a-9b8c-4d7e-a6f5-0123456789ab");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->string(), "0D3F1E2A-9B8C-4D7E-A6F5-0123456789AB");
    EXPECT_EQ(Uuid::parse(lower->string()), lower);
}

TEST(Uuid, RejectsEverythingButTheGroupedForm) {
    for (const char* text : {"", "0D3F1E2A9B8C4D7EA6F50123456789AB", "0D3F1E2A-9B8C-4D7E-A6F5-0123456789A",
                             "0D3F1E2A-9B8C-4D7E-A6F5-0123456789ABC", "0D3F1E2A-9B8C-4D7E-A6F5-0123456789AG",
                             "0D3F1E2A+9B8C-4D7E-A6F5-0123456789AB", "0D3F1E2-A9B8C-4D7E-A6F5-0123456789AB"}) {
        EXPECT_FALSE(Uuid::parse(text)) << text;
    }
}

TEST(Uuid, NameBasedIdsAreStableAndDistinct) {
    EXPECT_EQ(Uuid::fromName("Simulated iPhone"), Uuid::fromName("Simulated iPhone"));
    EXPECT_NE(Uuid::fromName("Simulated iPhone"), Uuid::fromName("Simulated iPhone 2"));
}

TEST(Json, SerialisesCompactlyWithSortedKeysAndEscapedSlashes) {
    Json value{{"zeta", 1}, {"alpha", "a/b"}, {"mid", Json::array({true, nullptr, 0.5})}};
    EXPECT_EQ(serializeJson(value), R"({"alpha":"a\/b","mid":[true,null,0.5],"zeta":1})");
}

TEST(Json, InvalidUtf8IsReplacedNotThrown) {
    Json value{{"text", std::string("a\xff")}};
    EXPECT_EQ(serializeJson(value), "{\"text\":\"a\xEF\xBF\xBD\"}");
}

TEST(Json, ParseRefusesTrailingGarbage) {
    EXPECT_TRUE(parseJson(R"({"a":1})"));
    EXPECT_FALSE(parseJson(R"({"a":1} x)"));
    EXPECT_FALSE(parseJson(""));
}
