// The screen protocol's wire format: host messages byte for byte, and what
// bad bytes from a phone do.
#include <gtest/gtest.h>

#include "platform/usb/messages.h"

namespace quintalis::usbscreen {
namespace {

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

template <typename Parse>
std::string errorOf(Parse parse) {
    try {
        parse();
    } catch (const WireError& e) {
        return e.what();
    }
    return "parsed";
}

TEST(UsbProtocolTest, HostMessagesAreByteExact) {
    const uint64_t id = 0xFEDCBA9876543210;
    const Bytes correlation{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
    // A reply's head: length, 'rply' reversed, correlation, status 0.
    auto reply = [&](uint8_t length) { return cat({{length, 0, 0, 0, 'y', 'l', 'p', 'r'}, correlation, Bytes(4, 0)}); };
    const struct {
        const char* what;
        Bytes sent, expected;
    } cases[] = {
        {"ping: A 0, B 1", host::ping(), {16, 0, 0, 0, 'g', 'n', 'i', 'p', 0, 0, 0, 0, 1, 0, 0, 0}},
        {"clock reply", host::replyClock(id, 0x1122334455667788), cat({reply(28), {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}})},
        {"skew reply: 48000.0 as a double", host::replySkew(id, 48000.0), cat({reply(28), {0, 0, 0, 0, 0, 0x70, 0xE7, 0x40}})},
        // value 5, timescale 1e9, flags 1, epoch 0
        {"time reply", host::replyTime(id, CMTime::nanoseconds(5)),
         cat({reply(44), {5, 0, 0, 0, 0, 0, 0, 0, 0x00, 0xCA, 0x9A, 0x3B, 1, 0, 0, 0}, Bytes(8, 0)})},
        {"go! and stop reply", host::replyEmpty(id), cat({reply(24), Bytes(4, 0)})},
        // {Error: int32 0}: dict, keyv, the key, the number
        {"audio format reply", host::replyAudioFormat(id),
         cat({reply(62), {42, 0, 0, 0, 't', 'c', 'i', 'd', 34, 0, 0, 0, 'v', 'y', 'e', 'k'},
              {13, 0, 0, 0, 'k', 'r', 't', 's', 'E', 'r', 'r', 'o', 'r', 13, 0, 0, 0, 'v', 'b', 'm', 'n', 3, 0, 0, 0, 0}})},
        {"need, on the phone's video clock", host::need(0x0102030405060708),
         {20, 0, 0, 0, 'n', 'y', 's', 'a', 8, 7, 6, 5, 4, 3, 2, 1, 'd', 'e', 'e', 'n'}},
        {"video off, on clock 1", host::videoOff(), {20, 0, 0, 0, 'n', 'y', 's', 'a', 1, 0, 0, 0, 0, 0, 0, 0, '0', 'd', 'p', 'h'}},
        {"audio off, on the phone's audio clock", host::audioOff(7),
         {20, 0, 0, 0, 'n', 'y', 's', 'a', 7, 0, 0, 0, 0, 0, 0, 0, '0', 'a', 'p', 'h'}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.sent, c.expected) << c.what;

    // The two dictionaries too long to spell out: their known sizes, and they read back.
    Bytes videoOn = host::videoOn(), audioOn = host::audioOn(0xAB);
    EXPECT_EQ(videoOn.size(), 219u);
    EXPECT_EQ(videoOn[20], 199);  // the dictionary's own length
    EXPECT_EQ(audioOn.size(), 337u);
    EXPECT_EQ(audioOn[8], 0xAB);
    Message parsed = parseMessage(audioOn);
    ByteReader payload(parsed.payload);
    Dictionary audio = parseDictionaryBody(readAtom(payload).body);
    ASSERT_EQ(audio.entries.size(), 6u);
    EXPECT_EQ(audio.find(std::string("formats"))->text.size(), 56u);
    EXPECT_EQ(audio.find(std::string("BufferAheadInterval"))->number.real, 0.07300000000000001);
}

TEST(UsbProtocolTest, AvcCRecordsWithSeveralAndLongParameterSets) {
    // Two SPS of 300 bytes (a length past one byte), then one PPS; cut short, it is refused.
    Bytes record{1, 100, 0, 51, 0xFF, 0xE2};
    for (int i = 0; i < 2; ++i) {
        record.insert(record.end(), {1, 44});
        record.insert(record.end(), 300, 0x67);
    }
    record.insert(record.end(), {1, 0, 2, 0x68, 0xCE});
    ParameterSets sets = parseAvcC(std::string(record.begin(), record.end()));
    EXPECT_EQ(sets.sps.size(), 2u);
    EXPECT_EQ(sets.sps[1].size(), 300u);
    EXPECT_EQ(sets.pps[0], (Bytes{0x68, 0xCE}));
    EXPECT_THROW(parseAvcC(std::string(record.begin(), record.end() - 1)), WireError);
}

TEST(UsbProtocolTest, FramerCutsAnyStreamIntoMessages) {
    Bytes stream = cat({device::ping(), host::need(3), device::released(4)});
    // One byte per transfer, and everything in one transfer, give the same messages.
    for (size_t step : {size_t{1}, size_t{7}, stream.size()}) {
        MessageFramer framer;
        std::vector<Bytes> messages;
        for (size_t at = 0; at < stream.size(); at += step) {
            framer.feed(stream.data() + at, std::min(step, stream.size() - at));
            Bytes message;
            while (framer.next(message) == MessageFramer::Result::complete) messages.push_back(message);
        }
        ASSERT_EQ(messages.size(), 3u) << "step " << step;
        EXPECT_EQ(parseMessage(messages[2]).subtype, subtype::released);
    }
    // A length shorter than a ping, or absurdly long, loses the stream.
    for (Bytes bad : {Bytes{8, 0, 0, 0, 'g', 'n', 'i', 'p'}, Bytes{0xFF, 0xFF, 0xFF, 0x7F}}) {
        MessageFramer framer;
        framer.feed(bad.data(), bad.size());
        Bytes message;
        EXPECT_EQ(framer.next(message), MessageFramer::Result::invalid);
    }
}

TEST(UsbProtocolTest, BadBytesAreClearErrors) {
    const struct {
        Bytes bytes;
        std::string error;
    } messages[] = {
        {{20, 0, 0, 0, 'x', 'x', 'x', 'x', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "a message of unknown kind 'xxxx'"},
        {{40, 0, 0, 0, 'n', 'y', 's', 'a'}, "a message says 40 bytes but has 8"},
        {{12, 0, 0, 0, 'n', 'y', 's', 'a', 1, 0, 0, 0}, "a field runs past the end of its message"},
    }, dictionaries[] = {
        {{25, 0, 0, 0, 'v', 'y', 'e', 'k', 9, 0, 0, 0, 'k', 'r', 't', 's', 'K', 8, 0, 0, 0, 'z', 'z', 'z', 'z'},
         "a dictionary value of unknown type 'zzzz'"},
        {{99, 0, 0, 0, 'v', 'y', 'e', 'k'}, "atom 'keyv' claims 99 bytes but only 8 are there"},
        {{27, 0, 0, 0, 'v', 'y', 'e', 'k', 9, 0, 0, 0, 'k', 'r', 't', 's', 'K', 10, 0, 0, 0, 'v', 'b', 'm', 'n', 9, 0},
         "a number of unknown type 9"},
    };
    for (const auto& m : messages) EXPECT_EQ(errorOf([&] { parseMessage(m.bytes); }), m.error);
    for (const auto& d : dictionaries) EXPECT_EQ(errorOf([&] { parseDictionaryBody(ByteReader(d.bytes)); }), d.error);
    // Dictionaries nested past any phone's are refused, not recursed into.
    Bytes nested;
    for (int i = 0; i < 40; ++i) {
        ByteWriter out;
        auto entry = out.open(fourCC("keyv"));
        auto key = out.open(fourCC("idxk"));
        out.u16(1);
        out.close(key);
        auto dict = out.open(fourCC("dict"));
        out.append(nested);
        out.close(dict);
        out.close(entry);
        nested = out.take();
    }
    EXPECT_EQ(errorOf([&] { parseDictionaryBody(ByteReader(nested)); }), "dictionaries nested more than 16 deep");
}

}  // namespace
}  // namespace quintalis::usbscreen
