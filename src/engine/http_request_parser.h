#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/browser_gate.h"
#include "engine/http_message.h"

namespace quintalis {

// Parses one HTTP/1.1 request from the bytes a connection has received so
// far. Feed it each chunk as it arrives; every call answers complete (the
// request is ready), needMore (keep reading), or invalid (close the
// connection, after sending `reply` when there is one).
//
// Only what the engine's clients send is understood: a request line, the
// Content-Length header and an optional JSON body. What tells a web page's
// request (Origin, Host, Sec-Fetch-Site, Referer) is kept so the server can
// refuse it. Each line of
// the head is judged as soon as it is whole, so a malformed one is answered
// 400 at once instead of leaving its client waiting for an answer; lines
// may end in CR LF or a bare LF.
class HTTPRequestParser {
public:
    static constexpr size_t kMaxBuffered = 8'388'608;

    enum class Status { complete, needMore, invalid };

    // How much of a request is read. The head must end, blank line included,
    // within its first `maxHead` bytes; without `readsBody` the request is
    // complete at the blank line, whatever its headers say of a body.
    struct Options {
        size_t maxHead = kMaxBuffered;
        bool readsBody = true;
    };

    HTTPRequestParser() = default;
    explicit HTTPRequestParser(Options options) : options_(options) {}

    struct Result {
        Status status = Status::needMore;
        std::optional<HTTPResponse> reply;  // for invalid: what to answer before closing
        // For needMore: the client asked for "100 Continue" before it sends
        // the body; send it, then read on.
        bool sendContinue = false;
    };

    Result feed(std::string_view bytes);

    // Valid once feed() answered complete.
    const HTTPRequest& request() const { return request_; }
    const RequestSource& source() const { return source_; }

private:
    Result headLine(std::string_view line);
    Result requestLine(std::string_view line);
    Result header(std::string_view line);
    Result endOfHead();
    Result finish();

    Options options_;
    std::string buffer_;
    size_t lineStart_ = 0;  // the head line being received starts here
    size_t scanFrom_ = 0;   // no line end before here
    size_t bodyStart_ = std::string::npos;
    bool requestLineSeen_ = false;
    int64_t contentLength_ = 0;
    bool encodedBody_ = false;  // a Transfer-Encoding other than identity
    bool expectsContinue_ = false;
    std::string target_;
    HTTPRequest request_;
    RequestSource source_;
};

}  // namespace quintalis
