#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/http_message.h"

namespace quintalis {

// Parses one HTTP/1.1 request from the bytes a connection has received so
// far. Feed it each chunk as it arrives; every call answers complete (the
// request is ready), needMore (keep reading), or invalid (close the
// connection, after sending `reply` when there is one).
//
// Only what the engine's clients send is understood: a request line, the
// Content-Length header and an optional JSON body. Origin and Host are kept
// so the server can refuse requests that come from web pages. A head that is
// not UTF-8 or a request line of fewer than two words never completes.
class HTTPRequestParser {
public:
    static constexpr size_t kMaxBuffered = 8'388'608;

    enum class Status { complete, needMore, invalid };

    // How much of a request is read. The head must end, blank line included,
    // within its first `maxHead` bytes; without `readsBody` the request is
    // complete at the blank line, whatever Content-Length says.
    struct Options {
        size_t maxHead = kMaxBuffered;
        bool readsBody = true;
    };

    HTTPRequestParser() = default;
    explicit HTTPRequestParser(Options options) : options_(options) {}

    struct Result {
        Status status = Status::needMore;
        std::optional<HTTPResponse> reply;  // for invalid: what to answer before closing
    };

    Result feed(std::string_view bytes);

    // Valid once feed() answered complete.
    const HTTPRequest& request() const { return request_; }
    bool hasOrigin() const { return hasOrigin_; }
    const std::optional<std::string>& host() const { return host_; }

private:
    Result parseHead();
    Result finish();

    Options options_;
    std::string buffer_;
    size_t scanFrom_ = 0;
    size_t bodyStart_ = std::string::npos;
    bool headUsable_ = false;
    uint64_t contentLength_ = 0;
    std::string target_;
    HTTPRequest request_;
    bool hasOrigin_ = false;
    std::optional<std::string> host_;
};

}  // namespace quintalis
