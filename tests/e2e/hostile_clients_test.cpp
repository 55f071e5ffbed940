#include <gtest/gtest.h>

#include <fstream>

#include "support/engine_process.h"
#include "support/phone_steps.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

std::string deeplyNested(size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

}  // namespace

TEST(HostileClients, DeepJSONInABodyOrThePairingsFileCrashesNothing) {
    TempDir home;
    // A pairings file that would crash every start, were it read whole.
    auto pairings = home.path() / "Skiffline" / "pairings.json";
    std::filesystem::create_directories(pairings.parent_path());
    std::ofstream(pairings) << R"({"A": )" + deeplyNested(100'000) + "}";
    EngineProcess engine("1", home.path());
    ASSERT_EQ(engine.get("/status").status, 200) << engine.log();
    EXPECT_FALSE(std::filesystem::exists(pairings));
    EXPECT_NE(engine.log().find("can't be read (JSON nested too deeply); moved it to " + pairings.string() + ".corrupt-"),
              std::string::npos)
        << engine.log();

    // One extra member nested 150,000 levels: a 300 KB body.
    const std::string deep = R"({"x": 0.5, "y": 0.5, "fraction": true, "extra": )" + deeplyNested(150'000) + "}";
    auto reply = parseReply(roundTrip(engine.port(), "POST /tap HTTP/1.1\r\nContent-Length: " + std::to_string(deep.size()) +
                                                         "\r\n\r\n" + deep));
    EXPECT_EQ(reply.body, R"({"error":"JSON nested too deeply"})");
    EXPECT_EQ(engine.get("/status").status, 200);
    EXPECT_EQ(engine.stop(), 0) << engine.log();
}

TEST(HostileClients, AClientThatOnlyStoppedSendingGetsItsAnswerAndItsAction) {
    TempDir home;
    EngineProcess engine("1", home.path());
    ASSERT_TRUE(engine.waitFor([&] { return allPaired(engine, 1); })) << engine.log();
    const std::string body = R"({"x": 0.25, "y": 0.75, "fraction": true})";
    RawConnection client(engine.port());
    client.send("POST /move HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    client.finishSending();  // as some HTTP tools do once the request is out
    auto reply = client.readAll();
    ASSERT_TRUE(reply);
    EXPECT_EQ(parseReply(*reply).status, 200) << *reply;
    // The pointer went there, as near as its reports can say.
    auto phone = engine.truth()[0];
    ASSERT_TRUE(phone["pointer"].is_object()) << phone.dump();
    EXPECT_NEAR(phone["pointer"]["x"].get<double>(), 0.25 * phone["width"].get<double>(), 2) << phone.dump();
    EXPECT_NEAR(phone["pointer"]["y"].get<double>(), 0.75 * phone["height"].get<double>(), 2) << phone.dump();
}

TEST(HostileClients, WaitingClientsCannotLockReadersOut) {
    TempDir home;
    EngineProcess engine("1", home.path());
    ASSERT_TRUE(engine.waitFor([&] { return engine.get("/screenshot?maxEdge=100").status == 200; }));
    // Each would wait a minute for a screen that never changes.
    const std::string wait = "GET /wait?min=60000&first=60000&max=60000 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::vector<std::unique_ptr<RawConnection>> waiting;
    for (int i = 0; i < 300; ++i) {
        waiting.push_back(std::make_unique<RawConnection>(engine.port()));
        waiting.back()->send(wait);
    }
    std::vector<std::unique_ptr<RawConnection>> refused;
    ASSERT_TRUE(engine.waitFor([&] {
        for (auto& client : waiting) {
            if (!client || client->staysSilent(0)) continue;
            EXPECT_EQ(parseReply(client->readAll().value_or("")).body, R"({"error":"too many waits: 64 are pending"})");
            refused.push_back(std::move(client));
        }
        return refused.size() == 300 - 64;
    }));
    // Readers are served all the same.
    EXPECT_EQ(engine.get("/screenshot?maxEdge=100").status, 200);
    // Waits whose clients have gone end at once, and free their places.
    waiting.clear();
    EXPECT_TRUE(engine.waitFor([&] {
        RawConnection probe(engine.port());
        probe.send(wait);
        return probe.staysSilent(100);
    }));
}
