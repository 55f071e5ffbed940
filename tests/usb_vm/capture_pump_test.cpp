// The gadget's pump between the phone's screen side and the endpoint files,
// with FIFOs standing in for them: host messages cut anywhere or run
// together reach the screen side whole, and stopping never hangs on a
// blocked endpoint read.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "capture_pump.h"
#include "support/temp_dir.h"

namespace quintalis::gadget {
namespace {

using namespace usbscreen;

class CapturePumpTest : public ::testing::Test {
protected:
    CapturePumpTest() {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigaction(SIGUSR1, &action, nullptr);  // as the gadget does: no SA_RESTART
        mkfifo(inPath().c_str(), 0600);
        mkfifo(outPath().c_str(), 0600);
        // Read-write, so neither open waits for the other end.
        in_ = ::open(inPath().c_str(), O_RDWR | O_CLOEXEC);
        out_ = ::open(outPath().c_str(), O_RDWR | O_CLOEXEC);
    }
    ~CapturePumpTest() override {
        ::close(in_);
        ::close(out_);
    }

    std::string inPath() const { return (dir_.path() / "ep1").string(); }
    std::string outPath() const { return (dir_.path() / "ep2").string(); }

    void hostWrites(const Bytes& bytes) { ASSERT_EQ(::write(out_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
    // The next message the phone sent, or one with magic 0 after ten seconds.
    Message phoneSays() {
        Bytes bytes;
        auto take = [&](size_t count) {
            while (bytes.size() < count) {
                pollfd ready{in_, POLLIN, 0};
                if (::poll(&ready, 1, 10'000) != 1) return false;
                uint8_t byte;
                if (::read(in_, &byte, 1) != 1) return false;
                bytes.push_back(byte);
            }
            return true;
        };
        if (!take(4)) return {};
        uint32_t length = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24;
        if (!take(length)) return {};
        return parseMessage(bytes.data(), bytes.size());
    }

    testing::TempDir dir_;
    int in_ = -1, out_ = -1;
    simulator::PhoneScreenFaults faults_;
    simulator::PhoneScreenSide screen_{"00008120000A1B2C3D4E5F01",
                                       [](SerialQueue&, std::function<void(PixelBufferRef)>) { return nullptr; }, faults_,
                                       [](const std::string&) {}};
};

TEST_F(CapturePumpTest, CarriesHostMessagesWholeHoweverTheyAreCut) {
    CapturePump pump(screen_, inPath(), outPath());
    pump.start();
    EXPECT_EQ(phoneSays().magic, magic::ping);

    Bytes ping = host::ping();
    hostWrites(Bytes(ping.begin(), ping.begin() + 5));
    hostWrites(Bytes(ping.begin() + 5, ping.end()));
    Message clockRequest = phoneSays();
    ASSERT_EQ(clockRequest.magic, magic::sync);
    EXPECT_EQ(clockRequest.subtype, subtype::audioClock);

    // The clock reply and hpa1 in one write: the phone needs both to go on.
    Bytes both = host::replyClock(clockRequest.correlation, 0x1234);
    ByteReader deviceClock(clockRequest.payload);
    Bytes audioOn = host::audioOn(deviceClock.u64());
    both.insert(both.end(), audioOn.begin(), audioOn.end());
    hostWrites(both);
    Message formatRequest = phoneSays();
    EXPECT_EQ(formatRequest.subtype, subtype::audioFormat);
    EXPECT_EQ(screen_.violations(), std::vector<std::string>{});

    // Both threads are blocked now, one reading the OUT endpoint.
    pump.stop();
    EXPECT_FALSE(pump.running());
    pump.start();  // as when the host enables the interface again: a new session, a new ping
    EXPECT_EQ(phoneSays().magic, magic::ping);
}

}  // namespace
}  // namespace quintalis::gadget
