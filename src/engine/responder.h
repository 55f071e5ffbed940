#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "engine/http_message.h"

namespace quintalis {

// The way back to the client of one request, so a handler can answer later
// and from another thread: an action answers once its gesture is over,
// without holding a thread while it waits its turn.
//
// Copies share one answer: the first send() or drop() settles the request
// and later calls do nothing. Every member may be called from any thread.
// A request whose last copy goes without being settled is answered 500
// "internal error" and logged, so a lost reply never leaves a client waiting.
class Responder {
public:
    // Delivers the answer; nothing means "close without one".
    using Deliver = std::function<void(std::optional<HTTPResponse>)>;
    // Whether the client has gone (closed its socket or reset).
    using Gone = std::function<bool()>;
    // Tells the server that the request will wait long for its answer.
    using Apart = std::function<void()>;

    explicit Responder(Deliver deliver, Gone gone = {}, Apart apart = {});

    void send(HTTPResponse response) const;
    // Ends the request without an answer, for a client that has gone.
    void drop() const;
    // Answers 500 "internal error" and logs what went wrong with the request.
    void failInternally(const HTTPRequest& request, const std::string& what) const;
    bool clientGone() const;
    // For a request that waits long (up to a minute) under a budget of its
    // own: its connection no longer counts against those the server keeps
    // for other requests, so waiting clients cannot lock readers out.
    void waitApart() const;
    // A responder for the same request whose answer first passes through `change`.
    Responder adapted(std::function<HTTPResponse(HTTPResponse)> change) const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// How the server hands over requests: the handler answers through the
// responder, now or later.
using RequestHandler = std::function<void(const HTTPRequest&, Responder)>;
// A handler that has its answer ready when it returns.
using ImmediateHandler = std::function<HTTPResponse(const HTTPRequest&)>;
RequestHandler answeringAtOnce(ImmediateHandler handler);

}  // namespace quintalis
