// Answers every connection with one fixed JSON reply and closes it, on one
// thread with no parsing beyond finding the end of the head.
#include <asio.hpp>
#include <cstdlib>
#include <iostream>
#include <memory>

namespace {

const std::string kReply =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 17\r\nConnection: close\r\n\r\n"
    "{\"app\":\"reference\"}";

class Session : public std::enable_shared_from_this<Session> {
public:
    explicit Session(asio::ip::tcp::socket socket) : socket_(std::move(socket)) {}
    void read() {
        socket_.async_read_some(asio::buffer(buffer_), [self = shared_from_this()](std::error_code error, size_t n) {
            if (error) return;
            self->head_.append(self->buffer_.data(), n);
            if (self->head_.find("\r\n\r\n") == std::string::npos) return self->read();
            asio::async_write(self->socket_, asio::buffer(kReply), [self](std::error_code, size_t) {
                std::error_code ignored;
                self->socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
            });
        });
    }

private:
    asio::ip::tcp::socket socket_;
    std::array<char, 4096> buffer_{};
    std::string head_;
};

void accept(asio::ip::tcp::acceptor& acceptor) {
    acceptor.async_accept([&acceptor](std::error_code error, asio::ip::tcp::socket socket) {
        if (!error) std::make_shared<Session>(std::move(socket))->read();
        accept(acceptor);
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: reference_http_server <port>\n";
        return 2;
    }
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address_v4("127.0.0.1"),
                                          static_cast<unsigned short>(std::atoi(argv[1]))});
    accept(acceptor);
    io.run();
}
