#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/concurrent_queue.h"
#include "engine/http_message.h"
#include "engine/http_request_parser.h"
#include "engine/responder.h"

namespace quintalis {

// A small HTTP/1.1 server on 127.0.0.1: one request per connection, handed
// to one handler, answered, then closed. Socket I/O runs on one thread
// ("quintalis.http") and never blocks, so an idle connection costs no
// thread; handler calls run on the "quintalis.http" concurrent queue, several
// at once. A handler may answer later through its Responder, which then
// tells whether the client has gone meanwhile: closed its socket, not only
// its sending side as some tools do once their request is out (those are
// answered). An exception escaping a handler is answered 500 and logged.
//
// Requests that a browser sends for a web page (isBrowserRequest) are refused
// with 403 and logged: only programs on this computer may drive the phone,
// not web pages the owner happens to visit.
//
// At most kMaxConnections are open at once, besides those whose requests
// wait apart under a budget of their own (Responder::waitApart). A
// connection gets kRequestTimeout to send its request, and at the cap the
// one waiting longest for its request is closed to make room
// (ConnectionRoster), so idle or slow clients cannot lock out the others. Those times are read from the clock given to
// setClock (the real one by default).
class HTTPServer {
public:
    // How a server reads requests and writes its answers. The default is the
    // engine API's; the AirPlay capture service speaks its own.
    struct Dialect {
        HTTPRequestParser::Options reading;
        std::function<std::string(const HTTPResponse&)> serialize = serializeResponse;
    };

    static constexpr int kMaxConnections = 256;
    // Refusals of web pages' requests logged at once, before one a second.
    static constexpr size_t kLoggedRefusalsAtOnce = 16;
    static constexpr Duration kRequestTimeout = std::chrono::seconds(10);

    HTTPServer(uint16_t port, RequestHandler handler);
    HTTPServer(uint16_t port, ImmediateHandler handler);
    ~HTTPServer();
    HTTPServer(const HTTPServer&) = delete;
    HTTPServer& operator=(const HTTPServer&) = delete;

    // Binds and starts serving. Throws std::system_error when the port cannot
    // be bound or listened on.
    void start();
    // Stops serving, in the order that loses no client silently: the
    // acceptor closes (new clients are refused by the kernel), then every
    // open connection, then the I/O thread ends and the handlers still
    // running finish (their late answers go nowhere). Blocks until then;
    // any thread but a handler's. The destructor does the same.
    void stop();
    // Before start().
    void setDialect(Dialect dialect) { dialect_ = std::move(dialect); }
    // Before start(). The clock must outlive the server.
    void setClock(Clock& clock) { clock_ = &clock; }
    // The port actually bound (differs from the requested one when that was 0).
    uint16_t boundPort() const;
    // Connections not yet destroyed, whether still reading, answering or closed
    // a moment ago: back to 0 when every client has been served and gone.
    int openConnections() const { return openConnections_.load(); }

private:
    class Connection;
    // The socket side (Asio), kept out of this header so that its includers
    // do not compile all of Asio.
    struct IO;
    void accept();
    void closeExpired();
    void armRequestTimer();
    // On the I/O thread, or before it started.
    void closeEverything();

    uint16_t port_;
    RequestHandler handler_;
    Dialect dialect_;
    Clock* clock_ = &Clock::real();
    std::atomic<bool> stopped_{false};
    std::atomic<int> openConnections_{0};  // outlives io_, whose pending work holds connections
    std::unique_ptr<IO> io_;
    ConcurrentQueue queue_{"quintalis.http"};  // declared last: drained first on destruction
};

}  // namespace quintalis
