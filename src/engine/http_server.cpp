#include "engine/http_server.h"

#include <asio.hpp>
#include <mutex>
#include <set>
#include <thread>

#include "base/log.h"
#include "base/text.h"
#include "base/thread_name.h"

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
    std::thread thread;
};

bool isBrowserRequest(bool hasOrigin, const std::optional<std::string>& host) {
    if (hasOrigin) return true;
    if (!host) return false;
    std::string name = asciiLowercase(*host);
    // Strip a port: after the bracket for IPv6, after the last colon otherwise.
    if (!name.empty() && name.front() == '[') {
        auto close = name.find(']');
        if (close == std::string::npos) return true;
        std::string rest = name.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return true;
        name = name.substr(0, close + 1);
    } else if (auto colon = name.find(':'); colon != std::string::npos) {
        name = name.substr(0, colon);
    }
    return !(name == "127.0.0.1" || name == "localhost" || name == "[::1]");
}

// One accepted socket. Its reads and writes run on the I/O thread; only the
// handler call leaves it, for the concurrent queue. Once its request is
// whole it keeps reading, to learn whether the client goes before the answer.
class HTTPServer::Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(HTTPServer& server, asio::ip::tcp::socket socket)
        : server_(server), socket_(std::move(socket)), parser_(server.dialect_.reading) {}
    ~Connection() { server_.openConnections_--; }

    void read() {
        socket_.async_read_some(asio::buffer(chunk_), [self = shared_from_this()](std::error_code error, size_t n) {
            self->received(error, n);
        });
    }

private:
    void received(std::error_code error, size_t n) {
        auto result = parser_.feed(std::string_view(chunk_.data(), n));
        switch (result.status) {
            case HTTPRequestParser::Status::complete:
                watchForDeparture();
                if (isBrowserRequest(parser_.hasOrigin(), parser_.host())) {
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

    // Bytes after the request are not read as another request; the end of
    // the stream, or an error, means the client has gone. A client that only
    // closed its sending side still reads, so the connection waits for its
    // answer all the same.
    void watchForDeparture() {
        socket_.async_read_some(asio::buffer(chunk_), [self = shared_from_this()](std::error_code error, size_t) {
            if (error == asio::error::operation_aborted || self->finished_) return;
            if (error) {
                self->gone_ = true;
                self->server_.io_->parked.insert(self);
            } else {
                self->watchForDeparture();
            }
        });
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
                return !self || self->gone_.load();
            });
    }

    void send(const HTTPResponse& response) {
        reply_ = server_.dialect_.serialize(response);
        asio::async_write(socket_, asio::buffer(reply_),
                          [self = shared_from_this()](std::error_code, size_t) { self->close(); });
    }

    void close() {
        finished_ = true;
        std::error_code ignored;
        socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        server_.io_->parked.erase(shared_from_this());
    }

    HTTPServer& server_;
    asio::ip::tcp::socket socket_;
    std::array<char, 65536> chunk_{};
    HTTPRequestParser parser_;
    std::string reply_;
    std::atomic<bool> gone_{false};
    bool finished_ = false;  // owned by the I/O thread
};

HTTPServer::HTTPServer(uint16_t port, RequestHandler handler)
    : port_(port), handler_(std::move(handler)), io_(std::make_unique<IO>()) {}

HTTPServer::HTTPServer(uint16_t port, ImmediateHandler handler) : HTTPServer(port, answeringAtOnce(std::move(handler))) {}

HTTPServer::~HTTPServer() {
    io_->mailbox->close();
    io_->context.stop();
    if (io_->thread.joinable()) io_->thread.join();
    io_->parked.clear();  // while the context they use still exists
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
            if (openConnections_.load() >= kMaxConnections) {
                std::error_code ignored;
                socket.close(ignored);
            } else {
                openConnections_++;
                std::make_shared<Connection>(*this, std::move(socket))->read();
            }
        }
        if (io_->acceptor.is_open()) accept();
    });
}

}  // namespace quintalis
