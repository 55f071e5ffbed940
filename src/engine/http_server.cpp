#include "engine/http_server.h"

#include <asio.hpp>
#include <cstring>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>

#include "base/log.h"
#include "base/log_throttle.h"
#include "base/thread_name.h"
#include "engine/browser_gate.h"
#include "engine/connection_roster.h"
#include "engine/loopback_peer.h"

namespace quintalis {

// Where answers given from other threads are posted to the I/O thread. It
// closes before the I/O context goes, so a late answer finds it shut
// instead of a destroyed context.
class Mailbox {
public:
    explicit Mailbox(asio::io_context& context) : context_(&context) {}
    void post(std::function<void()> work) {
        std::lock_guard lock(mutex_);
        if (context_) asio::post(*context_, std::move(work));
    }
    void close() {
        std::lock_guard lock(mutex_);
        context_ = nullptr;
    }

private:
    std::mutex mutex_;
    asio::io_context* context_;
};

struct HTTPServer::IO {
    asio::io_context context;
    asio::ip::tcp::acceptor acceptor{context};
    std::shared_ptr<Mailbox> mailbox = std::make_shared<Mailbox>(context);
    // Connections whose client stopped sending before its answer came; kept
    // until answered. Owned by the I/O thread.
    std::set<std::shared_ptr<Connection>> parked;
    // Every connection not yet closed, by its roster id, so that the roster's
    // choices can be carried out. Owned by the I/O thread, as are the rest.
    ConnectionRoster roster{HTTPServer::kMaxConnections, HTTPServer::kRequestTimeout};
    std::unordered_map<ConnectionRoster::ID, std::weak_ptr<Connection>> open;
    ConnectionRoster::ID nextID = 0;
    asio::steady_timer requestTimer{context};
    bool requestTimerArmed = false;
    // A page's first requests are each logged; past that the log tells of
    // a flood once a second.
    std::unique_ptr<LogThrottle> refusals;
    std::thread thread;
};

// One accepted socket. Its reads and writes run on the I/O thread; only the
// handler call leaves it, for the concurrent queue. Once its request is
// whole it keeps reading, to learn whether the client goes before the answer.
class HTTPServer::Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(HTTPServer& server, asio::ip::tcp::socket socket, ConnectionRoster::ID id)
        : server_(server), socket_(std::move(socket)), parser_(server.dialect_.reading), id_(id) {}
    ~Connection() { server_.openConnections_--; }

    void read() {
        socket_.async_read_some(asio::buffer(chunk_), [self = shared_from_this()](std::error_code error, size_t n) {
            self->received(error, n);
        });
    }

    // Also what the server does to a connection the roster gives up on.
    void close() {
        finished_ = true;
        std::error_code ignored;
        socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        server_.io_->roster.closed(id_);
        server_.io_->open.erase(id_);
        server_.io_->parked.erase(shared_from_this());
    }

private:
    void received(std::error_code error, size_t n) {
        auto result = parser_.feed(std::string_view(chunk_.data(), n));
        switch (result.status) {
            case HTTPRequestParser::Status::complete:
                server_.io_->roster.requestRead(id_);
                watchForDeparture();
                if (isBrowserRequest(parser_.source())) {
                    const HTTPRequest& request = parser_.request();
                    server_.io_->refusals->log("http: refused " + loggable(request.method) + " " +
                                               loggable(request.path) + " from a web page (" +
                                               describeSource(parser_.source()) + ")");
                    send(HTTPResponse::error("forbidden: requests from web pages are not accepted", 403));
                } else {
                    handle();
                }
                return;
            case HTTPRequestParser::Status::invalid:
                if (result.reply) {
                    send(*result.reply);
                } else {
                    close();
                }
                return;
            case HTTPRequestParser::Status::needMore:
                if (error) {
                    close();
                } else if (result.sendContinue) {
                    continueThenRead();
                } else {
                    read();
                }
                return;
        }
    }

    void continueThenRead() {
        static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
        asio::async_write(socket_, asio::buffer(kContinue), [self = shared_from_this()](std::error_code error, size_t) {
            if (error) {
                self->close();
            } else {
                self->read();
            }
        });
    }

    // Bytes after the request are not read as another request. An error
    // means the client has gone; so does the end of its stream, unless it
    // only shut its sending side and still waits to read the answer, which
    // it then gets, its action run. Either way the connection is kept until
    // it is answered or dropped.
    void watchForDeparture() {
        socket_.async_read_some(asio::buffer(chunk_), [self = shared_from_this()](std::error_code error, size_t) {
            if (error == asio::error::operation_aborted || self->finished_) return;
            if (!error) return self->watchForDeparture();
            if (error == asio::error::eof) {
                std::error_code noLocal, noRemote;
                self->ends_.local = toStorage(self->socket_.local_endpoint(noLocal));
                self->ends_.remote = toStorage(self->socket_.remote_endpoint(noRemote));
                self->finishedSending_ = !noLocal && !noRemote;
            }
            self->gone_ = !self->finishedSending_ || loopbackPeer(self->ends_) != LoopbackPeer::holdsSocket;
            self->server_.io_->parked.insert(self);
        });
    }

    static sockaddr_storage toStorage(const asio::ip::tcp::endpoint& endpoint) {
        sockaddr_storage storage{};
        std::memcpy(&storage, endpoint.data(), std::min<size_t>(endpoint.size(), sizeof storage));
        return storage;
    }

    // A client that only stopped sending may close its socket any time
    // after; whoever asks is told what holds now.
    bool clientGone() {
        if (gone_) return true;
        if (finishedSending_ && loopbackPeer(ends_) != LoopbackPeer::holdsSocket) gone_ = true;
        return gone_;
    }

    void handle() {
        server_.queue_.async([self = shared_from_this()] {
            const HTTPRequest& request = self->parser_.request();
            Responder responder = self->responder();
            try {
                self->server_.handler_(request, responder);
            } catch (const std::exception& error) {
                responder.failInternally(request, error.what());
            } catch (...) {
                responder.failInternally(request, "unknown exception");
            }
        });
    }

    // Holds the connection weakly: a connection whose client has gone ends
    // when its reads do, whoever still holds a responder for it.
    Responder responder() {
        std::weak_ptr<Connection> weak = weak_from_this();
        return Responder(
            [weak, mailbox = server_.io_->mailbox](std::optional<HTTPResponse> response) {
                mailbox->post([weak, response = std::move(response)] {
                    auto self = weak.lock();
                    if (!self) return;
                    if (response) {
                        self->send(*response);
                    } else {
                        self->close();
                    }
                });
            },
            [weak] {
                auto self = weak.lock();
                return !self || self->clientGone();
            },
            [weak, mailbox = server_.io_->mailbox] {
                mailbox->post([weak] {
                    if (auto self = weak.lock()) self->server_.io_->roster.closed(self->id_);
                });
            });
    }

    void send(const HTTPResponse& response) {
        reply_ = server_.dialect_.serialize(response);
        asio::async_write(socket_, asio::buffer(reply_),
                          [self = shared_from_this()](std::error_code, size_t) { self->close(); });
    }

    HTTPServer& server_;
    asio::ip::tcp::socket socket_;
    std::array<char, 65536> chunk_{};
    HTTPRequestParser parser_;
    std::string reply_;
    const ConnectionRoster::ID id_;
    std::atomic<bool> gone_{false};
    // Set once on the I/O thread before finishedSending_, then only read.
    ConnectionEnds ends_;
    std::atomic<bool> finishedSending_{false};
    bool finished_ = false;  // owned by the I/O thread
};

HTTPServer::HTTPServer(uint16_t port, RequestHandler handler)
    : port_(port), handler_(std::move(handler)), io_(std::make_unique<IO>()) {}

HTTPServer::HTTPServer(uint16_t port, ImmediateHandler handler) : HTTPServer(port, answeringAtOnce(std::move(handler))) {}

HTTPServer::~HTTPServer() { stop(); }

void HTTPServer::stop() {
    if (stopped_.exchange(true)) return;
    if (io_->thread.joinable()) {
        std::promise<void> closed;
        asio::post(io_->context, [this, &closed] {
            closeEverything();
            closed.set_value();
        });
        closed.get_future().wait();
        io_->mailbox->close();
        io_->context.stop();
        io_->thread.join();
    } else {
        closeEverything();
        io_->mailbox->close();
    }
    io_->parked.clear();  // while the context they use still exists
    io_->open.clear();
    queue_.drain();
}

void HTTPServer::closeEverything() {
    std::error_code ignored;
    const bool listened = io_->acceptor.is_open();
    const uint16_t bound = boundPort();
    io_->acceptor.close(ignored);
    io_->requestTimer.cancel();
    std::vector<std::shared_ptr<Connection>> open;
    for (const auto& [id, weak] : io_->open) {
        if (auto connection = weak.lock()) open.push_back(connection);
    }
    for (const auto& connection : io_->parked) open.push_back(connection);
    for (const auto& connection : open) connection->close();
    if (listened) log("http stopped on 127.0.0.1:" + std::to_string(bound));
}

void HTTPServer::start() {
    asio::ip::tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port_);
    auto& acceptor = io_->acceptor;
    try {
        acceptor.open(endpoint.protocol());
        acceptor.set_option(asio::socket_base::reuse_address(true));
        acceptor.bind(endpoint);
        acceptor.listen(asio::socket_base::max_listen_connections);
    } catch (const std::system_error& error) {
        log("http failed on 127.0.0.1:" + std::to_string(port_) + ": " + error.code().message());
        std::error_code ignored;
        acceptor.close(ignored);
        throw;
    }
    io_->refusals = std::make_unique<LogThrottle>(
        *clock_, std::chrono::seconds(1), kLoggedRefusalsAtOnce,
        [](size_t count) { return "http: refused " + std::to_string(count) + " more requests from web pages"; });
    accept();
    io_->thread = std::thread([this] {
        nameCurrentThread(queue_.label());
        io_->context.run();
    });
    log("http ready");
}

uint16_t HTTPServer::boundPort() const {
    std::error_code error;
    auto endpoint = io_->acceptor.local_endpoint(error);
    return error ? port_ : endpoint.port();
}

void HTTPServer::accept() {
    io_->acceptor.async_accept([this](std::error_code error, asio::ip::tcp::socket socket) {
        if (!error) {
            // Expired connections go first: their places are free for this one.
            closeExpired();
            io_->refusals->look();
            const ConnectionRoster::ID id = io_->nextID++;
            auto admission = io_->roster.admit(id, clock_->now());
            if (admission.evicted) {
                if (auto evicted = io_->open[*admission.evicted].lock()) evicted->close();
                io_->open.erase(*admission.evicted);
            }
            if (admission.admitted) {
                openConnections_++;
                auto connection = std::make_shared<Connection>(*this, std::move(socket), id);
                io_->open[id] = connection;
                connection->read();
                armRequestTimer();
            } else {
                std::error_code ignored;
                socket.close(ignored);
            }
        }
        if (io_->acceptor.is_open()) accept();
    });
}

void HTTPServer::closeExpired() {
    for (auto id : io_->roster.expire(clock_->now())) {
        if (auto expired = io_->open[id].lock()) expired->close();
        io_->open.erase(id);
    }
}

// One timer for the earliest deadline; it re-arms itself for the next.
void HTTPServer::armRequestTimer() {
    auto deadline = io_->roster.nextDeadline();
    if (io_->requestTimerArmed || !deadline) return;
    io_->requestTimerArmed = true;
    io_->requestTimer.expires_after(std::max(Duration::zero(), *deadline - clock_->now()));
    io_->requestTimer.async_wait([this](std::error_code error) {
        io_->requestTimerArmed = false;
        if (error) return;
        closeExpired();
        armRequestTimer();
    });
}

}  // namespace quintalis
