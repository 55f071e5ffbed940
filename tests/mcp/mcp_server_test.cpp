#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "mcp/line_channel.h"
#include "mcp/mcp_server.h"
#include "support/log_capture.h"

using namespace quintalis;
using namespace quintalis::mcp;

namespace {

// One tool, "echo", that answers with its arguments; "boom" throws;
// "slow" reports its progress twice and answers unless it was cancelled,
// as a tool whose round trip a cancel ends does.
class EchoTools final : public ToolBox {
public:
    JSON definitions() const override {
        return JSON::array({JSON{{"name", "echo"}, {"inputSchema", JSON{{"type", "object"}}}}});
    }
    JSON call(const std::string& name, const JSON& arguments, CallContext& context) override {
        if (name == "boom") throw std::runtime_error("the engine fell over");
        if (name == "slow") {
            context.progress(1, 2, "half");
            context.progress(2, std::nullopt, "all");
            context.stop.check();
            return JSON{{"content", JSON::array()}};
        }
        if (name != "echo") throw UnknownTool(name);
        return JSON{{"content", JSON::array({JSON{{"type", "text"}, {"text", arguments.dump()}}})}};
    }
};

// A server whose replies are collected and whose tool calls wait until run().
struct Session {
    quintalis::testing::LogCapture logs;
    EchoTools tools;
    std::vector<std::string> sent;
    std::vector<std::function<void()>> pending;
    MCPServer server{tools, {"quintalis", "Quintalis", "1.2", "Use look first."},
                     [this](const std::string& line) { sent.push_back(line); },
                     [this](std::function<void()> call) { pending.push_back(std::move(call)); }};

    // The replies to one line, run to the end.
    std::vector<std::string> exchange(const std::string& line) {
        sent.clear();
        server.receive(line);
        for (auto& call : pending) call();
        pending.clear();
        return sent;
    }
    std::string only(const std::string& line) {
        auto replies = exchange(line);
        EXPECT_EQ(replies.size(), 1u) << line;
        return replies.empty() ? "" : replies.front();
    }
    JSON reply(const std::string& line) { return JSON::parse(only(line)); }
};

std::string initialize(const std::string& version) {
    return R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":")" + version +
           R"(","capabilities":{},"clientInfo":{"name":"test","version":"0"}}})";
}

}  // namespace

TEST(MCPServer, InitializeAgreesOnAKnownVersionOrOffersTheNewest) {
    Session session;
    EXPECT_EQ(session.only(initialize("2025-06-18")),
              R"({"id":1,"jsonrpc":"2.0","result":{"capabilities":{"tools":{"listChanged":false}},)"
              R"("instructions":"Use look first.","protocolVersion":"2025-06-18",)"
              R"("serverInfo":{"name":"quintalis","title":"Quintalis","version":"1.2"}}})"
              "\n");
    EXPECT_EQ(session.reply(initialize("2026-07-28"))["result"]["protocolVersion"], "2025-11-25");
    EXPECT_EQ(session.reply(R"({"jsonrpc":"2.0","id":2,"method":"initialize","params":{}})")["error"]["code"], -32602);
}

TEST(MCPServer, AnswersRequestsNeverNotificationsAndGoesOnAfterBadLines) {
    Session session;
    EXPECT_EQ(session.only(R"({"jsonrpc":"2.0","id":"a","method":"ping"})"), "{\"id\":\"a\",\"jsonrpc\":\"2.0\",\"result\":{}}\n");
    for (const char* line : {R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
                             R"({"jsonrpc":"2.0","method":"no/such/thing"})", R"({"jsonrpc":"2.0","id":9,"result":{}})",
                             "  \r"}) {
        EXPECT_TRUE(session.exchange(line).empty()) << line;
    }
    EXPECT_EQ(session.reply(R"({"jsonrpc":"2.0","id":4,"method":"resources/list"})")["error"]["code"], -32601);
    EXPECT_EQ(session.only("{\"jsonrpc\":\"2.0\",\"id\":5,\"method\":\"ping\""),
              "{\"error\":{\"code\":-32700,\"message\":\"Parse error: the line is not JSON\"},\"id\":null,\"jsonrpc\":\"2.0\"}\n");
    const std::pair<const char*, JSON> invalid[] = {
        {R"({"id":6,"method":"ping"})", 6},                          // no "jsonrpc"
        {R"({"jsonrpc":"2.0","id":null,"method":"ping"})", nullptr},  // MCP ids are never null
        {R"({"jsonrpc":"2.0","id":8,"method":"ping","params":"x"})", 8},
    };
    for (const auto& [line, id] : invalid) {
        auto reply = session.reply(line);
        EXPECT_EQ(reply["error"]["code"], -32600) << line;
        EXPECT_EQ(reply["id"], id) << line;
    }
    EXPECT_EQ(session.reply(R"({"jsonrpc":"2.0","id":10,"method":"ping"})")["result"], JSON::object());
    session.sent.clear();
    session.server.refuseOversizedLine();
    EXPECT_EQ(JSON::parse(session.sent.at(0))["error"]["code"], -32600);
}

TEST(MCPServer, ToolCallsRunApartAndFailuresStayResults) {
    Session session;
    session.server.receive(R"({"jsonrpc":"2.0","id":11,"method":"tools/call","params":{"name":"echo","arguments":{"a":1}}})");
    EXPECT_TRUE(session.sent.empty());  // handed to the call queue, not answered by the reader
    ASSERT_EQ(session.pending.size(), 1u);
    session.pending.front()();
    session.pending.clear();
    EXPECT_EQ(JSON::parse(session.sent.at(0))["result"]["content"][0]["text"], R"({"a":1})");

    auto broken = session.reply(R"({"jsonrpc":"2.0","id":13,"method":"tools/call","params":{"name":"boom"}})");
    EXPECT_EQ(broken["result"]["isError"], true);
    EXPECT_EQ(broken["result"]["content"][0]["text"], "Quintalis failed: the engine fell over");
    for (const char* params : {R"({"name":"nope"})", R"({"name":"echo","arguments":[1]})"}) {
        auto refused = session.reply(std::string(R"({"jsonrpc":"2.0","id":14,"method":"tools/call","params":)") + params + "}");
        EXPECT_EQ(refused["error"]["code"], -32602) << params;
    }
    // A batch is answered together, off the reader when it holds a call.
    auto replies = session.reply(
        R"([{"jsonrpc":"2.0","id":1,"method":"ping"},{"jsonrpc":"2.0","method":"notifications/initialized"},)"
        R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"echo"}},{"bad":1}])");
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[1]["result"]["content"][0]["text"], "{}");
    EXPECT_EQ(replies[2]["error"]["code"], -32600);
}

// Discovery and the stateless revision's plain calls are driven by the MCP client end-to-end tests.
TEST(MCPServer, OnlyTheStatelessRevisionSaysHowLongAResultKeeps) {
    Session session;
    const std::string meta = R"("_meta":{"io.modelcontextprotocol/protocolVersion":"2026-07-28",)"
                             R"("io.modelcontextprotocol/clientCapabilities":{},)"
                             R"("io.modelcontextprotocol/clientInfo":{"name":"t","version":"1"}})";
    auto listed = session.reply(R"({"jsonrpc":"2.0","id":2,"method":"tools/list","params":{)" + meta + "}}");
    EXPECT_EQ(listed["result"]["ttlMs"], MCPServer::kCacheMillis);
    EXPECT_EQ(listed["result"]["cacheScope"], "public");
    EXPECT_FALSE(session.reply(R"({"jsonrpc":"2.0","id":6,"method":"tools/list"})")["result"].contains("ttlMs"));
    auto unknown = session.reply(
        R"({"jsonrpc":"2.0","id":5,"method":"ping","params":{"_meta":{"io.modelcontextprotocol/protocolVersion":"1999-01-01"}}})");
    EXPECT_EQ(unknown["error"]["code"], -32022);
    EXPECT_EQ(unknown["error"]["data"]["requested"], "1999-01-01");
}

TEST(MCPServer, ACancelledCallGetsNoAnswer) {
    Session session;
    const std::string slow = R"({"jsonrpc":"2.0","id":"s","method":"tools/call","params":{"name":"slow"}})";
    // Cancelled before it ran, by the client's notification.
    session.server.receive(slow);
    session.server.receive(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":"s"}})");
    EXPECT_TRUE(session.exchange("").empty());
    // The same id again is a new call, which the old cancel does not touch.
    EXPECT_EQ(session.reply(slow)["id"], "s");
    // A cancel for another id, or one of another type, stops nothing.
    session.server.receive(slow);
    session.server.receive(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":"t"}})");
    session.server.receive(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":["s"]}})");
    EXPECT_EQ(session.exchange("").size(), 1u);
    // The client's going cancels every call under way, and every later one.
    session.server.receive(slow);
    session.server.cancelAll();
    session.server.receive(R"({"jsonrpc":"2.0","id":"u","method":"tools/call","params":{"name":"slow"}})");
    EXPECT_TRUE(session.exchange("").empty());
}

TEST(MCPServer, ProgressGoesOutOnlyWhenAskedForAndRepliesAreOneLineOfUTF8) {
    Session session;
    auto replies = session.exchange(
        R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"slow","_meta":{"progressToken":"p7"}}})");
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(JSON::parse(replies[0]), JSON::parse(R"({"jsonrpc":"2.0","method":"notifications/progress",)"
                                                   R"("params":{"progressToken":"p7","progress":1,"total":2,"message":"half"}})"));
    EXPECT_FALSE(JSON::parse(replies[1])["params"].contains("total"));
    for (const char* meta : {R"({})", R"({"progressToken":null})", R"({"progressToken":1.5})"}) {
        auto alone = session.exchange(std::string(R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"slow","_meta":)") +
                                      meta + "}}");
        EXPECT_EQ(alone.size(), 1u) << meta;
    }
    auto line = session.only(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"echo","arguments":{"t":"a\nb"}}})");
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    // A tool's text with bytes that are not UTF-8 is repaired, not thrown.
    EXPECT_EQ(jsonrpc::line(JSON{{"t", std::string("x\xff")}}), "{\"t\":\"x\xEF\xBF\xBD\"}\n");
}

namespace {

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        if (::pipe(ends) == 0) {
            read = ends[0];
            write = ends[1];
        }
    }
    ~Pipe() {
        closeWrite();
        if (read >= 0) ::close(read);
    }
    void send(const std::string& bytes) { ASSERT_EQ(::write(write, bytes.data(), bytes.size()), (ssize_t)bytes.size()); }
    void closeWrite() {
        if (write >= 0) ::close(write);
        write = -1;
    }
};

}  // namespace

TEST(LineChannel, SplitsLinesWhereverTheBytesBreakAndDropsOversizedOnes) {
    Pipe in;
    Pipe out;
    LineChannel channel(in.read, out.write);
    in.send("{\"a\":");
    std::thread late([&] {
        // Longer than the limit by more than one read, so its tail comes after the rest was dropped.
        const std::string huge(LineChannel::kLongestLine + 200'000, 'x');
        in.send("1}\r\n" + huge + "\n{\"b\":2}\n" + huge);
        in.closeWrite();
    });
    std::string line;
    EXPECT_EQ(channel.next(line), LineChannel::Read::line);
    EXPECT_EQ(line, R"({"a":1})");
    EXPECT_EQ(channel.next(line), LineChannel::Read::oversized);
    EXPECT_EQ(channel.next(line), LineChannel::Read::line);
    EXPECT_EQ(line, R"({"b":2})");
    EXPECT_EQ(channel.next(line), LineChannel::Read::oversized);  // the last line needs no newline, and leaves no tail
    EXPECT_EQ(channel.next(line), LineChannel::Read::end);
    late.join();

    channel.write("one line\n");
    char buffer[32] = {};
    EXPECT_EQ(::read(out.read, buffer, sizeof buffer), 9);
    EXPECT_EQ(std::string(buffer), "one line\n");
}
