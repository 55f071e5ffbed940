// The screen protocol's wire format: host messages byte for byte, the
// dictionaries' known sizes, and what bad bytes from a phone do.
#include <gtest/gtest.h>

#include "platform/usb/messages.h"

namespace quintalis::usbscreen {
namespace {

Bytes hex(std::initializer_list<int> values) {
    Bytes bytes;
    for (int v : values) bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(UsbProtocolTest, HostMessagesAreByteExact) {
    // ping: length 16, 'ping' reversed, A = 0, B = 1
    EXPECT_EQ(host::ping(), hex({16, 0, 0, 0, 'g', 'n', 'i', 'p', 0, 0, 0, 0, 1, 0, 0, 0}));
    const Bytes correlation = hex({0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE});
    const uint64_t id = 0xFEDCBA9876543210;
    const Bytes replyHead28 = cat({hex({28, 0, 0, 0, 'y', 'l', 'p', 'r'}), correlation, hex({0, 0, 0, 0})});
    // a clock reply: header, status 0, the new clock
    EXPECT_EQ(host::replyClock(id, 0x1122334455667788), cat({replyHead28, hex({0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11})}));
    // a skew reply: 48000.0 as a little-endian double
    EXPECT_EQ(host::replySkew(id, 48000.0), cat({replyHead28, hex({0, 0, 0, 0, 0, 0x70, 0xE7, 0x40})}));
    // a time reply: 44 bytes, value, timescale 1e9, flags 1, epoch 0
    EXPECT_EQ(host::replyTime(id, CMTime::nanoseconds(5)),
              cat({hex({44, 0, 0, 0, 'y', 'l', 'p', 'r'}), correlation, hex({0, 0, 0, 0}), hex({5, 0, 0, 0, 0, 0, 0, 0}),
                   hex({0x00, 0xCA, 0x9A, 0x3B}), hex({1, 0, 0, 0}), Bytes(8, 0)}));
    // go! and stop replies: 24 bytes, eight zeros after the correlation id
    EXPECT_EQ(host::replyEmpty(id), cat({hex({24, 0, 0, 0, 'y', 'l', 'p', 'r'}), correlation, Bytes(8, 0)}));
    // need: 20 bytes on the phone's video clock
    EXPECT_EQ(host::need(0x0102030405060708), cat({hex({20, 0, 0, 0, 'n', 'y', 's', 'a'}), hex({8, 7, 6, 5, 4, 3, 2, 1}), hex({'d', 'e', 'e', 'n'})}));
    EXPECT_EQ(host::videoOff(), cat({hex({20, 0, 0, 0, 'n', 'y', 's', 'a', 1, 0, 0, 0, 0, 0, 0, 0}), hex({'0', 'd', 'p', 'h'})}));
    EXPECT_EQ(host::audioOff(7), cat({hex({20, 0, 0, 0, 'n', 'y', 's', 'a', 7, 0, 0, 0, 0, 0, 0, 0}), hex({'0', 'a', 'p', 'h'})}));
}

TEST(UsbProtocolTest, HostDictionariesHaveTheirKnownSizes) {
    // The audio format reply's {Error: int32 0}: dict, keyv, "Error" key, the number.
    Bytes reply = host::replyAudioFormat(1);
    ASSERT_EQ(reply.size(), 62u);
    EXPECT_EQ(Bytes(reply.begin() + 20, reply.end()),
              cat({hex({42, 0, 0, 0, 't', 'c', 'i', 'd'}), hex({34, 0, 0, 0, 'v', 'y', 'e', 'k'}),
                   hex({13, 0, 0, 0, 'k', 'r', 't', 's', 'E', 'r', 'r', 'o', 'r'}),
                   hex({13, 0, 0, 0, 'v', 'b', 'm', 'n', 3, 0, 0, 0, 0})}));
    Bytes videoOn = host::videoOn();
    EXPECT_EQ(videoOn.size(), 219u);
    EXPECT_EQ(videoOn[20], 199);  // the dictionary's own length
    Bytes audioOn = host::audioOn(0xAB);
    EXPECT_EQ(audioOn.size(), 337u);
    EXPECT_EQ(audioOn[8], 0xAB);  // on the phone's audio clock
    // And they read back as the dictionaries they are.
    Message parsed = parseMessage(audioOn);
    ByteReader payload(parsed.payload);
    Atom dict = readAtom(payload);
    Dictionary audio = parseDictionaryBody(dict.body);
    ASSERT_EQ(audio.entries.size(), 6u);
    EXPECT_EQ(audio.find(std::string("formats"))->text.size(), 56u);
    EXPECT_EQ(audio.find(std::string("BufferAheadInterval"))->number.real, 0.07300000000000001);
}

TEST(UsbProtocolTest, FormatDescriptionsAndSamplesRoundTrip) {
    Bytes sps = hex({0x67, 0x42, 0xC0, 0x1F, 0xDA}), pps = hex({0x68, 0xCE, 0x3C, 0x80});
    FormatDescription format = videoFormat(1179, 2556, makeAvcC(sps, pps));
    uint64_t clock = 0;
    Message request = parseMessage(device::videoClockRequest(9, 0xD5, format));
    auto read = formatOfVideoClockRequest(request, clock);
    ASSERT_TRUE(read);
    EXPECT_EQ(clock, 0xD5u);
    EXPECT_EQ(read->width, 1179u);
    EXPECT_EQ(read->height, 2556u);
    ParameterSets sets = parseAvcC(*read->avcC());
    EXPECT_EQ(sets.sps, std::vector<Bytes>{sps});
    EXPECT_EQ(sets.pps, std::vector<Bytes>{pps});

    SampleBuffer sample;
    sample.outputPresentation = CMTime::nanoseconds(-100'000'000);  // early frames can be negative
    sample.timing.push_back({CMTime{1, 60, 1, 0}, CMTime::nanoseconds(-100'000'000), CMTime{}});
    sample.data = hex({0, 0, 0, 2, 0x65, 0x88, 0, 0, 0, 1, 0x06});
    sample.sampleCount = 1;
    sample.sampleSizes = {11};
    sample.format = format;
    Message feed = parseMessage(device::feed(0x77, sample));
    ByteReader payload(feed.payload);
    Atom buffer = readAtom(payload);
    SampleBuffer back = parseSampleBufferBody(buffer.body);
    EXPECT_EQ(back.outputPresentation->value, -100'000'000);
    EXPECT_EQ(back.data, sample.data);
    EXPECT_EQ(back.format->width, 1179u);
    auto units = splitNalUnits(*back.data);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].second, 2u);
    EXPECT_EQ(units[1].first[0], 0x06);
}

TEST(UsbProtocolTest, AvcCRecordsWithSeveralAndLongParameterSets) {
    // Two SPS, one of them 300 bytes (a length past one byte), then one PPS.
    Bytes record = hex({1, 100, 0, 51, 0xFF, 0xE2});
    Bytes longSps(300, 0x67);
    for (const Bytes* sps : {&longSps, &longSps}) {
        record.push_back(static_cast<uint8_t>(sps->size() >> 8));
        record.push_back(static_cast<uint8_t>(sps->size()));
        record.insert(record.end(), sps->begin(), sps->end());
    }
    record.insert(record.end(), {1, 0, 2, 0x68, 0xCE});
    ParameterSets sets = parseAvcC(std::string(record.begin(), record.end()));
    EXPECT_EQ(sets.sps.size(), 2u);
    EXPECT_EQ(sets.sps[1].size(), 300u);
    EXPECT_EQ(sets.pps[0], hex({0x68, 0xCE}));
    record.resize(record.size() - 1);  // the PPS cut short
    EXPECT_THROW(parseAvcC(std::string(record.begin(), record.end())), WireError);
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
    for (Bytes bad : {hex({8, 0, 0, 0, 'g', 'n', 'i', 'p'}), hex({0xFF, 0xFF, 0xFF, 0x7F})}) {
        MessageFramer framer;
        framer.feed(bad.data(), bad.size());
        Bytes message;
        EXPECT_EQ(framer.next(message), MessageFramer::Result::invalid);
    }
}

TEST(UsbProtocolTest, BadBytesAreClearErrors) {
    auto error = [](const Bytes& bytes) {
        try {
            parseMessage(bytes);
        } catch (const WireError& e) {
            return std::string(e.what());
        }
        return std::string("parsed");
    };
    EXPECT_EQ(error(hex({20, 0, 0, 0, 'x', 'x', 'x', 'x', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})), "a message of unknown kind 'xxxx'");
    EXPECT_EQ(error(hex({40, 0, 0, 0, 'n', 'y', 's', 'a'})), "a message says 40 bytes but has 8");
    EXPECT_EQ(error(hex({12, 0, 0, 0, 'n', 'y', 's', 'a', 1, 0, 0, 0})), "a field runs past the end of its message");

    auto dictionary = [](const Bytes& body) {
        try {
            parseDictionaryBody(ByteReader(body));
        } catch (const WireError& e) {
            return std::string(e.what());
        }
        return std::string("parsed");
    };
    // A value of a type no phone sends, an atom longer than its parent, a number of unknown type.
    EXPECT_EQ(dictionary(hex({25, 0, 0, 0, 'v', 'y', 'e', 'k', 9, 0, 0, 0, 'k', 'r', 't', 's', 'K', 8, 0, 0, 0, 'z', 'z', 'z', 'z'})),
              "a dictionary value of unknown type 'zzzz'");
    EXPECT_EQ(dictionary(hex({99, 0, 0, 0, 'v', 'y', 'e', 'k'})), "atom 'keyv' claims 99 bytes but only 8 are there");
    EXPECT_EQ(dictionary(hex({27, 0, 0, 0, 'v', 'y', 'e', 'k', 9, 0, 0, 0, 'k', 'r', 't', 's', 'K', 10, 0, 0, 0, 'v', 'b', 'm', 'n', 9, 0})),
              "a number of unknown type 9");
    // Dictionaries nested past any phone's are refused, not recursed into.
    Bytes nested;
    for (int i = 0; i < 40; ++i) {
        nested = [&] {
            ByteWriter out;
            auto entry = out.open(fourCC("keyv"));
            auto key = out.open(fourCC("idxk"));
            out.u16(1);
            out.close(key);
            auto dict = out.open(fourCC("dict"));
            out.append(nested);
            out.close(dict);
            out.close(entry);
            return out.take();
        }();
    }
    EXPECT_EQ(dictionary(nested), "dictionaries nested more than 16 deep");
}

}  // namespace
}  // namespace quintalis::usbscreen
