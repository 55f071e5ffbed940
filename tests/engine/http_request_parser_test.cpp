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
            auto result = feedSplit(parser, request, {a, b});
            ASSERT_EQ(result.status, Status::complete) << a << "," << b;
            EXPECT_EQ(parser.request().method, "POST");
            EXPECT_EQ(parser.request().path, "/tap");
            EXPECT_EQ(parser.request().query.at("device"), "00008");
            EXPECT_EQ(parser.request().body, (JSON{{"x", 10}, {"y", 2000}}));
        }
    }
}

TEST(HTTPRequestParser, WaitsForTheDeclaredBodyAndIgnoresWhatFollows) {
    HTTPRequestParser parser;
    EXPECT_EQ(parser.feed("POST /tap HTTP/1.1\r\nContent-Length: 16\r\n\r\n{\"x\": 1, ").status, Status::needMore);
    EXPECT_EQ(parser.feed("\"y\": 2}   GET / HTTP/1.1\r\n\r\n").status, Status::complete);
    EXPECT_EQ(parser.request().body, (JSON{{"x", 1}, {"y", 2}}));
    // Without Content-Length there is no body, whatever follows the head.
    HTTPRequestParser bodiless;
    EXPECT_EQ(bodiless.feed("POST /home HTTP/1.1\r\n\r\n{\"device\": \"a\"}").status, Status::complete);
    EXPECT_TRUE(bodiless.request().body.empty());
}

TEST(HTTPRequestParser, ABodyThatIsNotAnObjectReachesTheHandlerAsEmpty) {
    for (std::string body : {"[1,2,3]", "not json", "\"text\"", "{\"a\":1} trailing"}) {
        HTTPRequestParser parser;
        std::string request = "POST /type HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        ASSERT_EQ(parser.feed(request).status, Status::complete) << body;
        EXPECT_TRUE(parser.request().body.is_object());
        EXPECT_TRUE(parser.request().body.empty()) << body;
    }
}

TEST(HTTPRequestParser, ContentLengthRules) {
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
        {"Content-Length:", Status::complete, false},
        {"Content-Length: +0", Status::complete, false},
        {"Content-Length: 5\r\nContent-Length: 0", Status::complete, false},  // the later one wins
    };
    for (const auto& c : cases) {
        HTTPRequestParser parser;
        auto result = parser.feed(std::string("POST /tap HTTP/1.1\r\n") + c.header + "\r\n\r\n");
        EXPECT_EQ(result.status, c.status) << c.header;
        EXPECT_EQ(result.reply.has_value(), c.badLengthReply) << c.header;
        if (c.badLengthReply) {
            EXPECT_EQ(result.reply->status, 400);
            EXPECT_EQ(result.reply->body, R"({"error":"bad Content-Length"})");
        }
    }
}

TEST(HTTPRequestParser, AMalformedHeadIsRefusedAsSoonAsItsLineIsWhole) {
    for (std::string head : {
             "GET\r\n", "GET /status\r\n", "GET / HTTP/2.0\r\n", "GET / HTTP/1.1 x\r\n", "GET / FTP/1.1\r\n",
             "GET /\xff HTTP/1.1\r\n",                            // not UTF-8
             "GET / HTTP/1.1\r\nNo colon here\r\n",              // a header line without a colon
             "GET / HTTP/1.1\r\nHost : 127.0.0.1\r\n",           // a space before the colon
             "GET / HTTP/1.1\r\n: nameless\r\n",
             "GET / HTTP/1.1\r\nX-Note: caf\xe9\r\n",
             "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: evil.example\r\n",  // two Hosts
         }) {
        HTTPRequestParser parser;
        auto result = parser.feed(head);  // no blank line yet: nothing more is waited for
        EXPECT_EQ(result.status, Status::invalid) << head;
        ASSERT_TRUE(result.reply) << head;
        EXPECT_EQ(result.reply->status, 400);
        EXPECT_EQ(result.reply->body, R"({"error":"bad request"})");
    }
    HTTPRequestParser endless;
    HTTPRequestParser::Result result;
    for (int i = 0; i < 9; ++i) result = endless.feed(std::string(1 << 20, 'x'));
    EXPECT_EQ(result.status, Status::invalid);
    EXPECT_FALSE(result.reply);
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

TEST(HTTPRequestParser, BareLineFeedsEndLinesToo) {
    for (std::string request : {"POST /tap HTTP/1.1\ncontent-length: 7\n\n{\"a\":1}",
                                "POST /tap HTTP/1.0\r\ncontent-length: 7\n\r\n{\"a\":1}",
                                "\r\nPOST /tap HTTP/1.1\r\nContent-Length: 7\r\n\r\n{\"a\":1}"}) {
        HTTPRequestParser parser;
        ASSERT_EQ(parser.feed(request).status, Status::complete) << request;
        EXPECT_EQ(parser.request().body, (JSON{{"a", 1}}));
    }
}

TEST(HTTPRequestParser, EncodedBodiesAreRefusedAndContinueIsOffered) {
    HTTPRequestParser chunked;
    auto refused = chunked.feed("POST /type HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");
    EXPECT_EQ(refused.status, Status::invalid);
    ASSERT_TRUE(refused.reply);
    EXPECT_EQ(refused.reply->status, 501);
    EXPECT_EQ(refused.reply->body, R"({"error":"chunked bodies are not supported: send Content-Length"})");
    HTTPRequestParser identity;
    EXPECT_EQ(identity.feed("POST /home HTTP/1.1\r\nTransfer-Encoding: Identity\r\n\r\n").status, Status::complete);

    HTTPRequestParser waiting;
    auto head = waiting.feed("POST /tap HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 7\r\n\r\n");
    EXPECT_EQ(head.status, Status::needMore);
    EXPECT_TRUE(head.sendContinue);
    auto body = waiting.feed("{\"a\":");
    EXPECT_EQ(body.status, Status::needMore);
    EXPECT_FALSE(body.sendContinue);  // offered once
    EXPECT_EQ(waiting.feed("1}").status, Status::complete);
    // With the body already sent there is nothing to continue.
    HTTPRequestParser eager;
    auto whole = eager.feed("POST /tap HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n{}");
    EXPECT_EQ(whole.status, Status::complete);
    EXPECT_FALSE(whole.sendContinue);
}

TEST(HTTPRequestParser, KeepsWhatTellsAWebPageForTheBrowserGate) {
    HTTPRequestParser parser;
    ASSERT_EQ(parser.feed("POST http://evil.example:7390/tap HTTP/1.1\r\nHost:  evil.example:7390 \r\n"
                          "ORIGIN: http://evil.example\r\nOrigin: null\r\nreferer: http://evil.example/page\r\n"
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

TEST(RequestTarget, DecodesPathAndQuery) {
    auto target = parseRequestTarget("/screenshot?format=png&maxEdge=800&a=1&a=2&flag&name=caf%C3%A9+x");
    ASSERT_TRUE(target);
    EXPECT_EQ(target->path, "/screenshot");
    EXPECT_EQ(target->query, (std::map<std::string, std::string>{
                                 {"format", "png"}, {"maxEdge", "800"}, {"a", "2"}, {"flag", ""}, {"name", "café+x"}}));
    EXPECT_EQ(parseRequestTarget("/a%20b#frag")->path, "/a b");
    EXPECT_EQ(parseRequestTarget("http://127.0.0.1:7390/status?x=1")->path, "/status");
    EXPECT_EQ(parseRequestTarget("http://127.0.0.1:7390?x=1")->query.at("x"), "1");
    EXPECT_EQ(parseRequestTarget("http://127.0.0.1:7390")->path, "");

    EXPECT_EQ(targetAuthority("http://user@evil.example:80/status"), "user@evil.example:80");
    EXPECT_EQ(targetAuthority("http://127.0.0.1?x=1"), "127.0.0.1");
    EXPECT_FALSE(targetAuthority("/status?next=http://evil.example/"));
}

TEST(RequestTarget, AnInvalidReferenceIsNotParsed) {
    for (const char* target : {"/a b", "/50%", "/%zz", "/caf\xc3\xa9", "/a{b}"}) {
        EXPECT_FALSE(parseRequestTarget(target)) << target;
    }
    HTTPRequestParser parser;
    ASSERT_EQ(parser.feed("GET /50%?x=1 HTTP/1.1\r\n\r\n").status, Status::complete);
    EXPECT_EQ(parser.request().path, "/50%?x=1");
    EXPECT_TRUE(parser.request().query.empty());
}
