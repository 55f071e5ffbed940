#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quintalis::usbscreen {

using Bytes = std::vector<uint8_t>;

// A four-character code as the protocol's tables write it ("sync"); stored
// on the wire as a little-endian u32, so its letters appear reversed.
constexpr uint32_t fourCC(const char (&code)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(code[0])) << 24 | static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 8 | static_cast<uint32_t>(static_cast<uint8_t>(code[3]));
}

// "sync" from 0x73796E63, with anything unprintable as '?', for log lines.
std::string fourCCText(uint32_t code);

// Bad bytes from the phone: what was wrong, in a sentence for the log.
class WireError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads little-endian fields from a bounded span; reading past its end
// throws WireError, so no parser can run off its input.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit ByteReader(const Bytes& bytes) : ByteReader(bytes.data(), bytes.size()) {}

    size_t remaining() const { return size_ - at_; }
    size_t offset() const { return at_; }
    const uint8_t* here() const { return data_ + at_; }

    uint8_t u8() { return take(1)[0]; }
    uint16_t u16() { return static_cast<uint16_t>(little(2)); }
    uint32_t u32() { return static_cast<uint32_t>(little(4)); }
    uint64_t u64() { return little(8); }
    int64_t i64() { return static_cast<int64_t>(little(8)); }
    double f64() {
        uint64_t bits = u64();
        double value;
        std::memcpy(&value, &bits, 8);
        return value;
    }
    float f32() {
        uint32_t bits = u32();
        float value;
        std::memcpy(&value, &bits, 4);
        return value;
    }
    uint32_t u32BigEndian() {
        const uint8_t* p = take(4);
        return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
    }
    uint16_t u16BigEndian() {
        const uint8_t* p = take(2);
        return static_cast<uint16_t>(p[0] << 8 | p[1]);
    }
    Bytes bytes(size_t count) {
        const uint8_t* p = take(count);
        return Bytes(p, p + count);
    }
    // The next `count` bytes as a reader of their own, skipped here.
    ByteReader sub(size_t count) { return ByteReader(take(count), count); }
    void skip(size_t count) { take(count); }

private:
    const uint8_t* take(size_t count) {
        if (count > remaining()) throw WireError("a field runs past the end of its message");
        const uint8_t* p = data_ + at_;
        at_ += count;
        return p;
    }
    uint64_t little(int count) {
        const uint8_t* p = take(static_cast<size_t>(count));
        uint64_t value = 0;
        for (int i = count - 1; i >= 0; --i) value = value << 8 | p[i];
        return value;
    }

    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Appends little-endian fields; an atom's length is filled in when it closes.
class ByteWriter {
public:
    Bytes& bytes() { return bytes_; }
    Bytes take() { return std::move(bytes_); }

    void u8(uint8_t value) { bytes_.push_back(value); }
    void u16(uint16_t value) { little(value, 2); }
    void u32(uint32_t value) { little(value, 4); }
    void u64(uint64_t value) { little(value, 8); }
    void f64(double value) {
        uint64_t bits;
        std::memcpy(&bits, &value, 8);
        u64(bits);
    }
    void f32(float value) {
        uint32_t bits;
        std::memcpy(&bits, &value, 4);
        u32(bits);
    }
    void u32BigEndian(uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<uint8_t>(value >> shift));
    }
    void u16BigEndian(uint16_t value) {
        bytes_.push_back(static_cast<uint8_t>(value >> 8));
        bytes_.push_back(static_cast<uint8_t>(value));
    }
    void append(const uint8_t* data, size_t size) { bytes_.insert(bytes_.end(), data, data + size); }
    void append(const Bytes& more) { append(more.data(), more.size()); }
    void append(std::string_view text) { append(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }

    // Starts an atom: its length (patched by close) and its magic.
    size_t open(uint32_t magic) {
        size_t start = bytes_.size();
        u32(0);
        u32(magic);
        return start;
    }
    void close(size_t start) {
        auto length = static_cast<uint32_t>(bytes_.size() - start);
        for (int i = 0; i < 4; ++i) bytes_[start + i] = static_cast<uint8_t>(length >> (8 * i));
    }

private:
    void little(uint64_t value, int count) {
        for (int i = 0; i < count; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }

    Bytes bytes_;
};

// One atom read from a reader: its magic and a reader over its body.
struct Atom {
    uint32_t magic;
    ByteReader body;
};

// Reads the next atom; its length must cover its own header and fit the input.
inline Atom readAtom(ByteReader& reader) {
    uint32_t length = reader.u32();
    uint32_t magic = reader.u32();
    if (length < 8) throw WireError("an atom of " + std::to_string(length) + " bytes is shorter than its own header");
    if (length - 8 > reader.remaining()) {
        throw WireError("atom " + fourCCText(magic) + " claims " + std::to_string(length) + " bytes but only " +
                        std::to_string(reader.remaining() + 8) + " are there");
    }
    return Atom{magic, reader.sub(length - 8)};
}

}  // namespace quintalis::usbscreen
