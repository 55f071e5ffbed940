#pragma once

#include <cstdint>
#include <vector>

namespace quintalis::hid {

// The short items a HID report descriptor is made of, by name, so that a
// descriptor reads as what a host will make of it. Each item is a prefix
// byte (its tag, type and data size) and 0, 1 or 2 data bytes, little-endian.
// Where an item's data could fit in fewer bytes, the width is still the
// caller's choice: bonded hosts keep the bytes they read at pairing.

enum class Page : uint8_t { genericDesktop = 0x01, keyboard = 0x07, leds = 0x08, button = 0x09, consumer = 0x0C };

// Usages of the Generic Desktop page.
inline constexpr uint8_t kPointer = 0x01;
inline constexpr uint8_t kMouse = 0x02;
inline constexpr uint8_t kKeyboard = 0x06;
inline constexpr uint8_t kX = 0x30;
inline constexpr uint8_t kY = 0x31;
inline constexpr uint8_t kWheel = 0x38;
// Of the Consumer page.
inline constexpr uint8_t kConsumerControl = 0x01;
// Of the Keyboard page: the eight modifier keys, Left Control to Right GUI,
// whose bits make a keyboard report's first byte.
inline constexpr uint8_t kLeftControl = 0xE0;
inline constexpr uint8_t kRightGUI = 0xE7;

enum class Collection : uint8_t { physical = 0x00, application = 0x01 };

// The data bits of an Input or Output item.
enum Main : uint8_t {
    kData = 0x00,
    kConstant = 0x01,
    kArray = 0x00,
    kVariable = 0x02,
    kAbsolute = 0x00,
    kRelative = 0x04,
};

// Appends items to a descriptor in the order they are called.
class Descriptor {
public:
    Descriptor& usagePage(Page page) { return item(0x04, static_cast<uint8_t>(page)); }
    Descriptor& usage(uint8_t usage) { return item(0x08, usage); }
    Descriptor& usageMinimum(uint8_t usage) { return item(0x18, usage); }
    Descriptor& usageMaximum(uint8_t usage) { return item(0x28, usage); }
    Descriptor& usageMaximum16(uint16_t usage) { return item16(0x28, usage); }
    Descriptor& logicalMinimum(int8_t value) { return item(0x14, static_cast<uint8_t>(value)); }
    Descriptor& logicalMinimum16(int16_t value) { return item16(0x14, static_cast<uint16_t>(value)); }
    Descriptor& logicalMaximum(int8_t value) { return item(0x24, static_cast<uint8_t>(value)); }
    Descriptor& logicalMaximum16(int16_t value) { return item16(0x24, static_cast<uint16_t>(value)); }
    Descriptor& reportSize(uint8_t bits) { return item(0x74, bits); }
    Descriptor& reportID(uint8_t id) { return item(0x84, id); }
    Descriptor& reportCount(uint8_t count) { return item(0x94, count); }
    Descriptor& input(uint8_t main) { return item(0x80, main); }
    Descriptor& output(uint8_t main) { return item(0x90, main); }
    Descriptor& collection(Collection kind) { return item(0xA0, static_cast<uint8_t>(kind)); }
    Descriptor& endCollection() {
        bytes_.push_back(0xC0);
        return *this;
    }

    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    // The low two bits of a prefix give its data size: 1 for one byte, 2 for two.
    Descriptor& item(uint8_t tagAndType, uint8_t data) {
        bytes_.insert(bytes_.end(), {static_cast<uint8_t>(tagAndType | 1), data});
        return *this;
    }
    Descriptor& item16(uint8_t tagAndType, uint16_t data) {
        bytes_.insert(bytes_.end(), {static_cast<uint8_t>(tagAndType | 2), static_cast<uint8_t>(data & 0xFF),
                                     static_cast<uint8_t>(data >> 8)});
        return *this;
    }

    std::vector<uint8_t> bytes_;
};

}  // namespace quintalis::hid
