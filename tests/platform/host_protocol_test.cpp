// The host's half of the protocol as a pure function: which replies each
// phone message gets, byte for byte.
#include <gtest/gtest.h>

#include "platform/linux/usb/host_protocol.h"
#include "support/fake_clock.h"

namespace quintalis {
namespace {

using namespace usbscreen;

uint64_t clockOfReply(const Bytes& reply) { return ByteReader(parseMessage(reply).payload).u64(); }

TEST(HostProtocolTest, AnswersEachRequestOnTheRightClock) {
    testing::FakeClock clock;
    HostProtocol protocol(clock);
    auto answer = [&](const Bytes& message) { return protocol.receive(parseMessage(message)); };
    EXPECT_THROW(answer(device::request(1, subtype::time, 9)), WireError);  // before the ping
    EXPECT_EQ(answer(device::ping()).send, std::vector<Bytes>{host::ping()});

    auto step = answer(device::audioClockRequest(0xC1, 0xDA));
    ASSERT_EQ(step.send.size(), 3u);
    EXPECT_EQ(parseMessage(step.send[0]).correlation, 0xC1u);
    uint64_t hostAudio = clockOfReply(step.send[0]);
    EXPECT_GT(hostAudio, 1u);
    EXPECT_EQ(step.send[1], host::videoOn());
    EXPECT_EQ(step.send[2], host::audioOn(0xDA));
    EXPECT_EQ(answer(device::audioFormatRequest(hostAudio, 0xC2)).send, std::vector<Bytes>{host::replyAudioFormat(0xC2)});

    // A frame before the video format is passed over, not answered on an unknown clock.
    SampleBuffer frame;
    frame.timing.push_back({});
    frame.data = Bytes{0, 0, 0, 1, 0x65};
    step = answer(device::feed(7, frame));
    EXPECT_EQ(step.skipped, "a frame before the video format");
    EXPECT_TRUE(step.send.empty());

    FormatDescription format = videoFormat(100, 200, makeAvcC({0x67, 0x42, 0, 0x1F}, {0x68, 0xCE}));
    step = answer(device::videoClockRequest(0xC3, 0xD5, format));
    ASSERT_EQ(step.send.size(), 2u);
    uint64_t hostVideo = clockOfReply(step.send[0]);
    EXPECT_NE(hostVideo, hostAudio);
    EXPECT_EQ(step.send[1], host::need(0xD5));
    ASSERT_TRUE(step.format);
    EXPECT_EQ(step.format->width, 100u);

    // Every frame earns one need; the same format again is no change.
    frame.format = format;
    step = answer(device::feed(hostVideo, frame));
    EXPECT_EQ(step.send, std::vector<Bytes>{host::need(0xD5)});
    EXPECT_FALSE(step.format);
    EXPECT_EQ(step.frame, frame.data);

    // The time is the clok clock's own, in nanoseconds from its creation.
    clock.advance(std::chrono::seconds(3));
    uint64_t hostClock = clockOfReply(answer(device::request(hostVideo, subtype::clock, 0xC4)).send.at(0));
    EXPECT_NE(hostClock, hostVideo);
    EXPECT_NE(hostClock, hostAudio);
    clock.advance(std::chrono::milliseconds(1500));
    EXPECT_EQ(answer(device::request(hostClock, subtype::time, 0xC5)).send,
              std::vector<Bytes>{host::replyTime(0xC5, CMTime::nanoseconds(1'500'000'000))});

    EXPECT_EQ(answer(device::request(hostAudio, subtype::skew, 0xC6)).send, std::vector<Bytes>{host::replySkew(0xC6, 48000.0)});
    EXPECT_EQ(answer(device::request(hostAudio, subtype::go, 0xC7, {1, 0, 0, 0})).send, std::vector<Bytes>{host::replyEmpty(0xC7)});
    EXPECT_EQ(protocol.stop(), (std::vector<Bytes>{host::audioOff(0xDA), host::videoOff()}));

    // Another codec is refused plainly.
    format.codec = fourCC("hvc1");
    try {
        answer(device::videoClockRequest(0xC8, 0xD5, format));
        ADD_FAILURE();
    } catch (const WireError& error) {
        EXPECT_STREQ(error.what(), "the iPhone sends 'hvc1' video, which only H.264 ('avc1') receivers read");
    }
}

}  // namespace
}  // namespace quintalis
