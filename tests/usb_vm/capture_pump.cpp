#include "capture_pump.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <vector>

namespace quintalis::gadget {
namespace {

// Far beyond any message a host sends; a length past it means lost framing.
constexpr uint32_t kLongestHostMessage = 1 << 20;

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

void say(const std::string& line) { std::cerr << "gadget: " << line << "\n"; }

}  // namespace

CapturePump::CapturePump(simulator::PhoneScreenSide& screen, std::string inEndpoint, std::string outEndpoint)
    : screen_(screen), inPath_(std::move(inEndpoint)), outPath_(std::move(outEndpoint)) {}

CapturePump::~CapturePump() { stop(); }

void CapturePump::start() {
    stop();
    in_ = ::open(inPath_.c_str(), O_RDWR | O_CLOEXEC);
    out_ = ::open(outPath_.c_str(), O_RDWR | O_CLOEXEC);
    if (in_ < 0 || out_ < 0) {
        say("cannot open the capture endpoints: " + std::string(std::strerror(errno)));
        stop();
        return;
    }
    stopping_ = false;
    screen_.open();
    sendDone_ = receiveDone_ = false;
    sender_ = std::thread([this] {
        sendLoop();
        sendDone_ = true;
    });
    receiver_ = std::thread([this] {
        receiveLoop();
        receiveDone_ = true;
    });
}

void CapturePump::stop() {
    stopping_ = true;
    screen_.close();
    interrupt(sender_, sendDone_);
    interrupt(receiver_, receiveDone_);
    if (in_ >= 0) ::close(in_);
    if (out_ >= 0) ::close(out_);
    in_ = out_ = -1;
}

// A thread blocked in an endpoint read or write returns EINTR on a signal;
// it may be about to block again, so the signal repeats until it is out.
void CapturePump::interrupt(std::thread& thread, const std::atomic<bool>& done) {
    if (!thread.joinable()) return;
    while (!done) {
        pthread_kill(thread.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    thread.join();
}

void CapturePump::sendLoop() {
    std::vector<uint8_t> buffer(64 * 1024);
    while (!stopping_) {
        size_t got = 0;
        auto result = screen_.read(buffer.data(), buffer.size(), got, std::chrono::milliseconds(200));
        if (result == simulator::PhoneScreenSide::ReadResult::closed) return;
        for (size_t sent = 0; sent < got;) {
            ssize_t n = ::write(in_, buffer.data() + sent, got - sent);
            if (n < 0 && errno == EINTR && !stopping_) continue;
            if (n <= 0) {
                if (!stopping_) say("bulk IN write ends: " + std::string(n < 0 ? std::strerror(errno) : "nothing taken"));
                return;
            }
            sent += static_cast<size_t>(n);
        }
    }
}

// The host writes each message in one transfer, but nothing on the bus
// promises that a read returns exactly one: the stream is cut by its lengths.
void CapturePump::receiveLoop() {
    std::vector<uint8_t> buffer(64 * 1024), pending;
    while (!stopping_) {
        ssize_t n = ::read(out_, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (!stopping_) say("bulk OUT read ends: " + std::string(std::strerror(errno)));
            return;
        }
        pending.insert(pending.end(), buffer.begin(), buffer.begin() + n);
        while (pending.size() >= 4) {
            uint32_t length = le32(pending.data());
            if (length < 8 || length > kLongestHostMessage) {
                screen_.receive(pending.data(), pending.size());  // the screen side names what is wrong
                pending.clear();
                break;
            }
            if (pending.size() < length) break;
            screen_.receive(pending.data(), length);
            pending.erase(pending.begin(), pending.begin() + length);
        }
    }
}

}  // namespace quintalis::gadget
