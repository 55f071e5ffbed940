#include "engine/http_server.h"

#include <asio.hpp>
#include <thread>

#include "base/log.h"
#include "base/text.h"
#include "base/thread_name.h"

namespace quintalis {

struct HTTPServer::IO {
    asio::io_context context;
    asio::ip::tcp::acceptor acceptor{context};
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
// handler call leaves it, for the concurrent queue.
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
                } else {
                    read();
                }
                return;
        }
    }

    void handle() {
        server_.queue_.async([self = shared_from_this()] {
            HTTPResponse response = self->server_.handler_(self->parser_.request());
            asio::post(self->socket_.get_executor(), [self, response = std::move(response)] { self->send(response); });
        });
    }

    void send(const HTTPResponse& response) {
        reply_ = server_.dialect_.serialize(response);
        asio::async_write(socket_, asio::buffer(reply_),
                          [self = shared_from_this()](std::error_code, size_t) { self->close(); });
    }

    void close() {
        std::error_code ignored;
        socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }

    HTTPServer& server_;
    asio::ip::tcp::socket socket_;
    std::array<char, 65536> chunk_{};
    HTTPRequestParser parser_;
    std::string reply_;
};

HTTPServer::HTTPServer(uint16_t port, Handler handler)
    : port_(port), handler_(std::move(handler)), io_(std::make_unique<IO>()) {}

HTTPServer::~HTTPServer() {
    io_->context.stop();
    if (io_->thread.joinable()) io_->thread.join();
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
        log("http failed: " + std::string(error.code().message()));
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
