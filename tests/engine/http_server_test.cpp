#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/semaphore.h"
#include "engine/http_server.h"
#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/raw_http.h"

using namespace quintalis;
using namespace quintalis::testing;
using namespace std::chrono_literals;

namespace {

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<HTTPServer>(0, [this](const HTTPRequest& request) {
            ++handled;
            if (request.path == "/block") {
                entered.signal();
                release.wait();
            }
            HTTPResponse response = HTTPResponse::json(JSON{{"method", request.method}, {"body", request.body}});
            response.headers["X-Path"] = request.path;
            return response;
        });
        server->setClock(clock);
        server->start();
        port = server->boundPort();
    }
    int status(const std::string& request) { return parseReply(roundTrip(port, request)).status; }

    Semaphore entered;  // a /block handler started
    Semaphore release;  // lets one /block handler answer
    std::atomic<int> handled{0};
    FakeClock clock;
    std::unique_ptr<HTTPServer> server;  // last: gone before what its handler uses
    uint16_t port = 0;
};

}  // namespace

TEST_F(ServerTest, AnswersARequestSentInPiecesOnceThenCloses) {
    RawConnection connection(port);
    connection.send("POST /tap HTTP/1.1\r\nContent-Le");
    EXPECT_TRUE(connection.staysSilent(50));
    connection.send("ngth: 7\r\n\r\n{\"a\":1}");
    EXPECT_EQ(connection.readAll(),
              "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 32\r\n"
              "Connection: close\r\nX-Path: /tap\r\n\r\n{\"body\":{\"a\":1},\"method\":\"POST\"}");
    EXPECT_EQ(handled.load(), 1);

    RawConnection continued(port);
    continued.send("POST /tap HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 7\r\n\r\n");
    const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
    EXPECT_EQ(continued.read(interim.size()), interim);
    continued.send("{\"a\":1}");
    EXPECT_EQ(parseReply(continued.readAll().value_or("")).status, 200);
}

TEST_F(ServerTest, ABadHeadIsAnsweredAtOnceAndAnOversizedBodyNotWaitedFor) {
    const std::pair<std::string, std::string> cases[] = {
        {"GET / HTTP/1.1\nHost : 127.0.0.1\n", "HTTP/1.1 400 Bad Request"},
        {"POST /type HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello", "HTTP/1.1 501 Error"},
    };
    for (const auto& [head, statusLine] : cases) {
        RawConnection connection(port);
        connection.send(head);  // and then wait, with the connection open
        auto reply = connection.readAll();
        ASSERT_TRUE(reply) << head;
        EXPECT_EQ(reply->rfind(statusLine + "\r\n", 0), 0u) << *reply;
    }
    RawConnection huge(port);
    huge.send("POST /tap HTTP/1.1\r\nContent-Length: 9000000\r\n\r\n");
    EXPECT_TRUE(huge.closedWithoutReply(2000));
    EXPECT_EQ(handled.load(), 0);
}

TEST_F(ServerTest, RequestsFromWebPagesAreRefusedAndLogged) {
    LogCapture logs;
    // What an <img>, a form, a fetch or a rebound name sends: each sign alone is enough.
    for (std::string head : {"POST /tap HTTP/1.1\r\nOrigin: null\r\nHost: 127.0.0.1\r\n",
                             "POST /tap HTTP/1.1\r\nHost: 127.0.0.1.evil.example:7390\r\n",
                             "GET /screenshot HTTP/1.1\r\nHost: 127.0.0.1\r\nSec-Fetch-Site: same-site\r\n",
                             "GET /screenshot HTTP/1.1\r\nReferer:\r\n",
                             "GET http://evil.example:7390/screenshot HTTP/1.1\r\nHost: 127.0.0.1\r\n"}) {
        auto reply = parseReply(roundTrip(port, head + "\r\n"));
        EXPECT_EQ(reply.status, 403) << head;
        EXPECT_EQ(reply.body, R"({"error":"forbidden: requests from web pages are not accepted"})") << head;
    }
    EXPECT_EQ(handled.load(), 0);
    EXPECT_TRUE(logs.contains("http: refused GET /screenshot from a web page (Host: 127.0.0.1; Sec-Fetch-Site: same-site)"));
    // The client's words, kept to one short line.
    EXPECT_EQ(describeSource({.origin = "http://a\r\nforged line", .referer = std::string(200, 'r')}),
              "Origin: http://a??forged line; Referer: " + std::string(120, 'r') + "…");

    // Programs on this computer, and what the owner types into the address bar.
    for (std::string head : {"GET / HTTP/1.1\r\nHost: localhost:7390\r\n", "GET / HTTP/1.1\r\nHost: [::1]:7390\r\n",
                             "GET / HTTP/1.1\r\nHost: LOCALHOST\r\nSec-Fetch-Site: None\r\n",
                             "GET http://127.0.0.1:7390/ HTTP/1.1\r\n"}) {
        EXPECT_EQ(status(head + "\r\n"), 200) << head;
    }
}

TEST_F(ServerTest, RefusalsAreLoggedShortAndAFloodOfThemOnceASecond) {
    LogCapture logs;
    const std::string target = "/" + std::string(1'000'000, 'a');
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(status("GET " + target + " HTTP/1.1\r\nOrigin: http://evil.example\r\n\r\n"), 403);
    }
    const std::string line =
        "http: refused GET " + target.substr(0, kLoggedValueLimit) + "\u2026 from a web page (Origin: http://evil.example)";
    // A page's first requests are each told, the rest of the flood counted.
    EXPECT_EQ(logs.lines(), std::vector<std::string>(16, line));

    // The count comes once the second is over, with the next connection of any kind.
    clock.advance(999ms);
    status("GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(logs.lines().size(), 16u);
    clock.advance(1ms);
    status("GET / HTTP/1.1\r\n\r\n");
    ASSERT_EQ(logs.lines().size(), 17u);
    EXPECT_EQ(logs.lines().back(), "http: refused 24 more requests from web pages");
}

TEST_F(ServerTest, FiftyBlockingHandlersRunTogether) {
    constexpr int kClients = 50;
    std::vector<std::thread> clients;
    std::atomic<int> ok{0};
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&] { ok += status("GET /block HTTP/1.1\r\n\r\n") == 200; });
    }
    // Every handler is running at once, none answered yet.
    int inside = 0;
    while (inside < kClients && entered.waitFor(30s)) ++inside;
    EXPECT_EQ(inside, kClients);
    for (int i = 0; i < kClients; ++i) release.signal();
    for (auto& client : clients) client.join();
    EXPECT_EQ(ok.load(), kClients);
}

TEST_F(ServerTest, AtTheCapTheConnectionWaitingLongestForItsRequestMakesRoom) {
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < HTTPServer::kMaxConnections; ++i) {
        idle.push_back(std::make_unique<RawConnection>(port));
        idle.back()->send("G");
    }
    // Accepted in the order they connected, so the first is the one waiting longest.
    ASSERT_TRUE(eventually([&] { return server->openConnections() == HTTPServer::kMaxConnections; }, 30));
    EXPECT_EQ(status("GET / HTTP/1.1\r\n\r\n"), 200);
    EXPECT_TRUE(idle[0]->closedWithoutReply());
    EXPECT_TRUE(idle[1]->staysSilent(20));
    idle.clear();
    EXPECT_TRUE(eventually([&] { return server->openConnections() == 0; }, 30));
}

TEST_F(ServerTest, AConnectionWithoutAWholeRequestIsClosedAfterTenSeconds) {
    RawConnection idle(port);
    RawConnection slowBody(port);
    slowBody.send("POST /tap HTTP/1.1\r\nContent-Length: 7\r\n\r\n{");
    RawConnection served(port);
    served.send("GET /block HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(entered.waitFor(30s));

    // Each accept looks at the clock first, so a new request is the moment to check.
    clock.advance(HTTPServer::kRequestTimeout - 1ns);
    slowBody.send("\"");  // dribbling buys no time
    EXPECT_EQ(status("GET / HTTP/1.1\r\n\r\n"), 200);
    EXPECT_TRUE(idle.staysSilent(20));
    clock.advance(1ns);
    EXPECT_EQ(status("GET / HTTP/1.1\r\n\r\n"), 200);
    EXPECT_TRUE(idle.closedWithoutReply());
    EXPECT_TRUE(slowBody.closedWithoutReply());
    // A request being answered is not timed.
    release.signal();
    EXPECT_EQ(parseReply(served.readAll().value_or("")).status, 200);
}

TEST(HTTPServer, AHandlerThatThrowsOrLosesItsAnswerGets500AndTheServerGoesOn) {
    LogCapture logs;
    HTTPServer server(0, [](const HTTPRequest& request, Responder responder) {
        if (request.path == "/throws") throw std::runtime_error("no such thing");
        if (request.path == "/throws-anything") throw 42;
        if (request.path == "/forgets") return;  // the responder goes unanswered
        responder.send(HTTPResponse::json(JSON{{"ok", true}}));
    });
    server.start();
    for (std::string path : {"/throws", "/throws-anything", "/forgets"}) {
        auto reply = parseReply(roundTrip(server.boundPort(), "GET " + path + " HTTP/1.1\r\n\r\n"));
        EXPECT_EQ(reply.status, 500) << path;
        EXPECT_EQ(reply.body, R"({"error":"internal error"})") << path;
    }
    EXPECT_EQ(parseReply(roundTrip(server.boundPort(), "GET / HTTP/1.1\r\n\r\n")).status, 200);
    EXPECT_TRUE(logs.contains("http: GET /throws failed: no such thing"));
    EXPECT_TRUE(logs.contains("http: a request was left without an answer"));

    HTTPServer second(server.boundPort(), [](const HTTPRequest&) { return HTTPResponse{}; });
    EXPECT_THROW(second.start(), std::system_error);
}

TEST(HTTPServer, AnAnswerGivenLaterKnowsWhetherItsClientLeft) {
    std::mutex mutex;
    std::vector<Responder> waiting;
    HTTPServer server(0, [&](const HTTPRequest&, Responder responder) {
        std::lock_guard lock(mutex);
        waiting.push_back(std::move(responder));
    });
    server.start();
    auto responder = [&](size_t index) {
        std::lock_guard lock(mutex);
        return index < waiting.size() ? std::optional(waiting[index]) : std::nullopt;
    };
    // A client that only stopped sending has not left: it still reads.
    RawConnection halfClosed(server.boundPort());
    halfClosed.send("POST /tap HTTP/1.1\r\n\r\n");
    halfClosed.finishSending();
    ASSERT_TRUE(eventually([&] { return responder(0).has_value(); }));
    // One that stops sending, then closes, has.
    auto closedLater = std::make_unique<RawConnection>(server.boundPort());
    closedLater->send("POST /tap HTTP/1.1\r\n\r\n");
    closedLater->finishSending();
    ASSERT_TRUE(eventually([&] { return responder(1).has_value(); }));
    EXPECT_FALSE(responder(1)->clientGone());
    closedLater.reset();
    EXPECT_TRUE(eventually([&] { return responder(1)->clientGone(); }));
    EXPECT_FALSE(responder(0)->clientGone());
    responder(0)->send(HTTPResponse::json(JSON{{"ok", true}}));
    EXPECT_EQ(parseReply(halfClosed.readAll().value_or("")).body, R"({"ok":true})");
}
