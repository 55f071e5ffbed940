#include <gtest/gtest.h>

#include "engine/http_request_parser.h"
#include "engine/request_target.h"

using namespace quintalis;
using Status = HTTPRequestParser::Status;

namespace {

// Feeds the bytes in pieces cut at the given positions; returns the last answer.
HTTPRequestParser::Result feedSplit(HTTPRequestParser& parser, const std::string& bytes, std::vector<size_t> cuts) {
    cuts.push_back(bytes.size());
    size_t from = 0;
    HTTPRequestParser::Result result;
    for (size_t cut : cuts) {
        result = parser.feed(std::string_view(bytes).substr(from, cut - from));
        from = cut;
        if (result.status != Status::needMore) break;
    }
    return result;
}

}  // namespace

TEST(HTTPRequestParser, CompletesAtTheSameRequestWhereverTheBytesAreSplit) {
    const std::string request = "POST /tap?device=00008 HTTP/1.1\r\ncontent-length: 20\r\n\r\n{\"x\": 10, \"y\": 2000}";
    for (size_t a = 0; a <= request.size(); ++a) {
        for (size_t b = a; b <= request.size(); b += 7) {
            HTTPRequestParser parser;
            ASSERT_EQ(feedSplit(parser, request, {a, b}).status, Status::complete) << a << "," << b;
            EXPECT_EQ(parser.request().query.at("device"), "00008");
            EXPECT_EQ(parser.request().body, (JSON{{"x", 10}, {"y", 2000}}));
        }
    }
    // Bare line feeds end lines too, and a stray blank line before the request is skipped.
    for (std::string bare : {"POST /tap HTTP/1.1\ncontent-length: 7\n\n{\"a\":1}",
                             "\r\nPOST /tap HTTP/1.0\r\ncontent-length: 7\n\r\n{\"a\":1}"}) {
        HTTPRequestParser parser;
        ASSERT_EQ(parser.feed(bare).status, Status::complete) << bare;
        EXPECT_EQ(parser.request().body, (JSON{{"a", 1}}));
    }
}

TEST(HTTPRequestParser, TheBodyIsWhatContentLengthSaysAndAnObjectOrNothing) {
    HTTPRequestParser parser;
    EXPECT_EQ(parser.feed("POST /tap HTTP/1.1\r\nContent-Length: 16\r\n\r\n{\"x\": 1, ").status, Status::needMore);
    EXPECT_EQ(parser.feed("\"y\": 2}   GET / HTTP/1.1\r\n\r\n").status, Status::complete);
    EXPECT_EQ(parser.request().body, (JSON{{"x", 1}, {"y", 2}}));
    for (std::string body : {"[1,2,3]", "not json", "{\"a\":1} trailing"}) {
        HTTPRequestParser other;
        auto request = "POST /type HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        ASSERT_EQ(other.feed(request).status, Status::complete) << body;
        EXPECT_EQ(other.request().body, JSON::object()) << body;
    }

    struct Case {
        const char* header;
        Status status;
        bool badLengthReply;
    };
    const Case cases[] = {
        {"Content-Length: -5", Status::invalid, true},
        {"Content-Length: 99999999999999999999999", Status::invalid, true},
        {"Content-Length: 8388609", Status::invalid, false},  // refused from the head alone
        {"Content-Length: abc", Status::complete, false},     // not a number: no body
        {"Content-Length: 5\r\nContent-Length: 0", Status::complete, false},  // the later one wins
    };
    for (const auto& c : cases) {
        HTTPRequestParser lengths;
        auto result = lengths.feed(std::string("POST /tap HTTP/1.1\r\n") + c.header + "\r\n\r\n");
        EXPECT_EQ(result.status, c.status) << c.header;
        EXPECT_EQ(result.reply.has_value(), c.badLengthReply) << c.header;
        if (c.badLengthReply) {
            EXPECT_EQ(result.reply->body, R"({"error":"bad Content-Length"})");
        }
    }
}

TEST(HTTPRequestParser, AMalformedHeadIsRefusedAsSoonAsItsLineIsWhole) {
    for (std::string head : {
             "GET / HTTP/2.0\r\n", "GET /\xff HTTP/1.1\r\n",
             "GET / HTTP/1.1\r\nHost : 127.0.0.1\r\n",                       // a space before the colon
             "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: evil.example\r\n",  // two Hosts
         }) {
        HTTPRequestParser parser;
        auto result = parser.feed(head);  // no blank line yet: nothing more is waited for
        EXPECT_EQ(result.status, Status::invalid) << head;
        ASSERT_TRUE(result.reply) << head;
        EXPECT_EQ(result.reply->status, 400);
    }
    HTTPRequestParser endless;
    HTTPRequestParser::Result result;
    for (int i = 0; i < 9; ++i) result = endless.feed(std::string(1 << 20, 'x'));
    EXPECT_EQ(result.status, Status::invalid);
}

TEST(HTTPRequestParser, TheHeadsLimitCountsItsLastLineFeed) {
    const std::string head = "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    for (size_t limit : {head.size() - 1, head.size()}) {
        const Status expected = limit == head.size() ? Status::complete : Status::invalid;
        HTTPRequestParser whole({.maxHead = limit, .readsBody = false});
        EXPECT_EQ(whole.feed(head).status, expected) << limit;
        HTTPRequestParser byLine({.maxHead = limit, .readsBody = false});
        EXPECT_EQ(feedSplit(byLine, head, {22, 39}).status, expected) << limit;
    }
}

TEST(HTTPRequestParser, ChunkedBodiesAreRefusedAndContinueIsOfferedOnce) {
    HTTPRequestParser chunked;
    auto refused = chunked.feed("POST /type HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");
    EXPECT_EQ(refused.status, Status::invalid);
    ASSERT_TRUE(refused.reply);
    EXPECT_EQ(refused.reply->status, 501);

    HTTPRequestParser waiting;
    auto head = waiting.feed("POST /tap HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 7\r\n\r\n");
    EXPECT_EQ(head.status, Status::needMore);
    EXPECT_TRUE(head.sendContinue);
    EXPECT_FALSE(waiting.feed("{\"a\":").sendContinue);
    EXPECT_EQ(waiting.feed("1}").status, Status::complete);
    HTTPRequestParser eager;  // the body already sent: nothing to continue
    EXPECT_FALSE(eager.feed("POST /tap HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n{}").sendContinue);
}

TEST(HTTPRequestParser, KeepsWhatTellsAWebPageForTheBrowserGate) {
    HTTPRequestParser parser;
    ASSERT_EQ(parser.feed("POST http://evil.example:7390/tap HTTP/1.1\r\nHost:  evil.example:7390 \r\n"
                          "ORIGIN: http://evil.example\r\nreferer: http://evil.example/page\r\n"
                          "Sec-Fetch-Site: none\r\nSec-Fetch-Site: cross-site\r\nSec-Fetch-Site: none\r\n\r\n")
                  .status,
              Status::complete);
    const RequestSource& source = parser.source();
    EXPECT_EQ(source.origin, "http://evil.example");
    EXPECT_EQ(source.host, "evil.example:7390");
    EXPECT_EQ(source.referer, "http://evil.example/page");
    // A repeated header cannot wash out the value that gives the page away.
    EXPECT_EQ(source.fetchSite, "cross-site");
    EXPECT_EQ(source.targetAuthority, "evil.example:7390");
    EXPECT_EQ(parser.request().path, "/tap");
}

TEST(RequestTarget, DecodesPathAndQueryAndLeavesAnInvalidOneWhole) {
    auto target = parseRequestTarget("/screenshot?maxEdge=800&a=1&a=2&flag&name=caf%C3%A9+x");
    ASSERT_TRUE(target);
    EXPECT_EQ(target->path, "/screenshot");
    EXPECT_EQ(target->query,
              (std::map<std::string, std::string>{{"maxEdge", "800"}, {"a", "2"}, {"flag", ""}, {"name", "café+x"}}));
    EXPECT_EQ(parseRequestTarget("http://127.0.0.1:7390/status?x=1")->path, "/status");
    EXPECT_EQ(targetAuthority("http://user@evil.example:80/status"), "user@evil.example:80");
    EXPECT_FALSE(targetAuthority("/status?next=http://evil.example/"));
    for (const char* invalid : {"/a b", "/50%", "/caf\xc3\xa9"}) EXPECT_FALSE(parseRequestTarget(invalid)) << invalid;

    HTTPRequestParser parser;
    ASSERT_EQ(parser.feed("GET /50%?x=1 HTTP/1.1\r\n\r\n").status, Status::complete);
    EXPECT_EQ(parser.request().path, "/50%?x=1");
    EXPECT_TRUE(parser.request().query.empty());
}
