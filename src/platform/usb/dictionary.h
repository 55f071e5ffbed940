#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/usb/wire.h"

namespace quintalis::usbscreen {

struct Value;
struct FormatDescription;

// A key/value list as the phone serialises it: keys are strings or small
// indexes, entries keep their order (the bytes of a host message depend on it).
struct Dictionary {
    using Key = std::variant<std::string, uint16_t>;
    struct Entry;
    std::vector<Entry> entries;

    const Value* find(const Key& key) const;
    Dictionary& add(Key key, Value value);
};

// An NSNumber: the type byte decides the width and how to read it.
struct Number {
    enum Type : uint8_t { int32 = 3, int64 = 4, uncertain32 = 5, float64 = 6 };
    Type type = int32;
    int64_t integer = 0;  // int32, int64, uncertain32 (its bits as an unsigned integer)
    double real = 0;      // float64

    static Number ofInt32(int32_t value) { return {int32, value, 0}; }
    static Number ofInt64(int64_t value) { return {int64, value, 0}; }
    static Number ofFloat64(double value) { return {float64, 0, value}; }
    double asDouble() const { return type == float64 ? real : static_cast<double>(integer); }
};

struct Value {
    enum class Kind { boolean, string, data, number, dictionary, format };
    Kind kind = Kind::boolean;
    bool boolean = false;
    std::string text;  // string, or the raw bytes of data
    Number number;
    std::shared_ptr<Dictionary> dictionary;
    std::shared_ptr<FormatDescription> format;

    static Value of(bool value);
    static Value of(std::string value);
    static Value ofData(const Bytes& value);
    static Value of(Number value);
    static Value of(Dictionary value);
    static Value of(FormatDescription value);
};

struct Dictionary::Entry {
    Key key;
    Value value;
};

// A media format: a video one carries its size, codec and avcC record, an
// audio one its 40-byte stream description.
struct FormatDescription {
    uint32_t mediaType = 0;  // 'vide' or 'soun'
    uint32_t width = 0, height = 0;
    uint32_t codec = 0;      // 'avc1' for H.264
    Dictionary extensions;   // index-keyed; 49 → {105 → avcC}, 52 → "H.264"
    Bytes audioDescription;  // 40 bytes, audio only

    // The avcC record inside the extensions, if there is one.
    const std::string* avcC() const;
};

// Nesting deeper than this is refused: the phone's own go three deep.
constexpr int kMaxNesting = 16;

// Parses the entries of a dictionary body (a 'dict', 'extn' or 'satt' atom's
// body). Throws WireError.
Dictionary parseDictionaryBody(ByteReader body, int depth = 0);
FormatDescription parseFormatDescriptionBody(ByteReader body, int depth = 0);

// Writes `dictionary` as an atom with the given magic ('dict', 'extn', 'satt').
void writeDictionary(ByteWriter& out, const Dictionary& dictionary, uint32_t magic = fourCC("dict"));
void writeFormatDescription(ByteWriter& out, const FormatDescription& format);

// The avcC record for one SPS and one PPS, 4-byte NAL lengths.
Bytes makeAvcC(const Bytes& sps, const Bytes& pps);
// A video format description carrying that record, as the phone sends it.
FormatDescription videoFormat(uint32_t width, uint32_t height, const Bytes& avcC);

}  // namespace quintalis::usbscreen
