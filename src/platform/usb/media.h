#pragma once

#include <optional>

#include "platform/usb/dictionary.h"

namespace quintalis::usbscreen {

// A point in time as value / timescale seconds; bit 0 of flags means valid.
// Values are signed: a session's first frames can be slightly negative.
struct CMTime {
    int64_t value = 0;
    uint32_t timescale = 0;
    uint32_t flags = 0;
    int64_t epoch = 0;

    static CMTime nanoseconds(int64_t value) { return {value, 1'000'000'000, 1, 0}; }
    static constexpr size_t kSize = 24;
};

CMTime readCMTime(ByteReader& reader);
void writeCMTime(ByteWriter& out, const CMTime& time);

struct SampleTiming {
    CMTime duration, presentation, decode;
};

// One sample buffer ('sbuf'): a video frame's NAL units, an audio packet's
// PCM, or an empty-media marker without data. Children come in any order.
struct SampleBuffer {
    std::optional<CMTime> outputPresentation;
    std::vector<SampleTiming> timing;
    std::optional<Bytes> data;  // absent in empty-media markers
    uint32_t sampleCount = 0;
    std::vector<uint32_t> sampleSizes;
    std::optional<FormatDescription> format;
    Dictionary attachments;   // 'satt'
    Dictionary sampleArray;   // 'sary', index-keyed
};

// Parses the body of an 'sbuf' atom. Throws WireError.
SampleBuffer parseSampleBufferBody(ByteReader body);
void writeSampleBuffer(ByteWriter& out, const SampleBuffer& sample);

// The parameter sets of an avcC record and the width of its NAL lengths.
struct ParameterSets {
    std::vector<Bytes> sps, pps;
    int lengthSize = 4;
};
// Every SPS and PPS of the record, with their 16-bit lengths. Throws WireError.
ParameterSets parseAvcC(const std::string& record);

// Splits a frame's data into its NAL units (big-endian length prefixes of
// `lengthSize` bytes). Throws WireError when a length runs past the data.
std::vector<std::pair<const uint8_t*, size_t>> splitNalUnits(const Bytes& data, int lengthSize = 4);

}  // namespace quintalis::usbscreen
