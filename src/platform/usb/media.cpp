#include "platform/usb/media.h"

namespace quintalis::usbscreen {
namespace {

constexpr uint32_t kOutputPresentation = fourCC("opts");
constexpr uint32_t kTiming = fourCC("stia");
constexpr uint32_t kSampleData = fourCC("sdat");
constexpr uint32_t kSampleCount = fourCC("nsmp");
constexpr uint32_t kSampleSizes = fourCC("ssiz");
constexpr uint32_t kSampleFormat = fourCC("fdsc");
constexpr uint32_t kAttachments = fourCC("satt");
constexpr uint32_t kSampleArray = fourCC("sary");
constexpr uint32_t kSampleBuffer = fourCC("sbuf");
constexpr size_t kTimingSize = 3 * CMTime::kSize;

}  // namespace

CMTime readCMTime(ByteReader& reader) {
    CMTime time;
    time.value = reader.i64();
    time.timescale = reader.u32();
    time.flags = reader.u32();
    time.epoch = reader.i64();
    return time;
}

void writeCMTime(ByteWriter& out, const CMTime& time) {
    out.u64(static_cast<uint64_t>(time.value));
    out.u32(time.timescale);
    out.u32(time.flags);
    out.u64(static_cast<uint64_t>(time.epoch));
}

SampleBuffer parseSampleBufferBody(ByteReader body) {
    SampleBuffer sample;
    while (body.remaining() > 0) {
        Atom child = readAtom(body);
        switch (child.magic) {
            case kOutputPresentation:
                sample.outputPresentation = readCMTime(child.body);
                break;
            case kTiming:
                if (child.body.remaining() % kTimingSize != 0) throw WireError("sample timings are not whole");
                while (child.body.remaining() > 0) {
                    SampleTiming timing;
                    timing.duration = readCMTime(child.body);
                    timing.presentation = readCMTime(child.body);
                    timing.decode = readCMTime(child.body);
                    sample.timing.push_back(timing);
                }
                break;
            case kSampleData:
                sample.data = child.body.bytes(child.body.remaining());
                break;
            case kSampleCount:
                sample.sampleCount = child.body.u32();
                break;
            case kSampleSizes:
                if (child.body.remaining() % 4 != 0) throw WireError("sample sizes are not whole");
                while (child.body.remaining() > 0) sample.sampleSizes.push_back(child.body.u32());
                break;
            case kSampleFormat:
                sample.format = parseFormatDescriptionBody(child.body);
                break;
            case kAttachments:
                sample.attachments = parseDictionaryBody(child.body);
                break;
            case kSampleArray: {
                Atom inner = readAtom(child.body);
                if (inner.magic != fourCC("dict")) throw WireError("a sample array without its dictionary");
                sample.sampleArray = parseDictionaryBody(inner.body);
                break;
            }
            default:
                // Unknown children are skipped: nothing in them is needed to show a frame.
                break;
        }
    }
    return sample;
}

void writeSampleBuffer(ByteWriter& out, const SampleBuffer& sample) {
    auto at = out.open(kSampleBuffer);
    if (sample.outputPresentation) {
        auto child = out.open(kOutputPresentation);
        writeCMTime(out, *sample.outputPresentation);
        out.close(child);
    }
    auto timing = out.open(kTiming);
    for (const auto& t : sample.timing) {
        writeCMTime(out, t.duration);
        writeCMTime(out, t.presentation);
        writeCMTime(out, t.decode);
    }
    out.close(timing);
    if (sample.data) {
        auto data = out.open(kSampleData);
        out.append(*sample.data);
        out.close(data);
        auto count = out.open(kSampleCount);
        out.u32(sample.sampleCount);
        out.close(count);
        auto sizes = out.open(kSampleSizes);
        for (auto size : sample.sampleSizes) out.u32(size);
        out.close(sizes);
    }
    if (sample.format) writeFormatDescription(out, *sample.format);
    if (!sample.attachments.entries.empty()) writeDictionary(out, sample.attachments, kAttachments);
    if (!sample.sampleArray.entries.empty()) {
        auto array = out.open(kSampleArray);
        writeDictionary(out, sample.sampleArray);
        out.close(array);
    }
    out.close(at);
}

ParameterSets parseAvcC(const std::string& record) {
    ByteReader reader(reinterpret_cast<const uint8_t*>(record.data()), record.size());
    ParameterSets sets;
    if (reader.u8() != 1) throw WireError("an avcC record of an unknown version");
    reader.skip(3);  // profile, compatibility, level
    sets.lengthSize = (reader.u8() & 0x03) + 1;
    int spsCount = reader.u8() & 0x1F;
    for (int i = 0; i < spsCount; ++i) sets.sps.push_back(reader.bytes(reader.u16BigEndian()));
    int ppsCount = reader.u8();
    for (int i = 0; i < ppsCount; ++i) sets.pps.push_back(reader.bytes(reader.u16BigEndian()));
    if (sets.sps.empty() || sets.pps.empty()) throw WireError("an avcC record without its SPS or PPS");
    return sets;
}

std::vector<std::pair<const uint8_t*, size_t>> splitNalUnits(const Bytes& data, int lengthSize) {
    std::vector<std::pair<const uint8_t*, size_t>> units;
    size_t at = 0;
    while (at < data.size()) {
        if (data.size() - at < static_cast<size_t>(lengthSize)) throw WireError("a NAL unit's length is cut off");
        size_t length = 0;
        for (int i = 0; i < lengthSize; ++i) length = length << 8 | data[at + i];
        at += lengthSize;
        if (length == 0 || length > data.size() - at) throw WireError("a NAL unit of " + std::to_string(length) + " bytes does not fit its frame");
        units.emplace_back(data.data() + at, length);
        at += length;
    }
    return units;
}

}  // namespace quintalis::usbscreen
