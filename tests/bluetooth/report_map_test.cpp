#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "bluetooth/report_map.h"

using namespace quintalis;

namespace {

// The descriptor a HID host parses, item by item.
const Bytes kExpected{
    // Keyboard
    0x05, 0x01,        // Usage Page: Generic Desktop
    0x09, 0x06,        // Usage: Keyboard
    0xA1, 0x01,        // Collection: Application
    0x85, 0x01,        // Report ID 1
    0x05, 0x07,        // Usage Page: Keyboard/Keypad
    0x19, 0xE0,        // Usage Minimum: Left Control
    0x29, 0xE7,        // Usage Maximum: Right GUI
    0x15, 0x00,        // Logical Minimum 0
    0x25, 0x01,        // Logical Maximum 1
    0x75, 0x01,        // Report Size 1
    0x95, 0x08,        // Report Count 8
    0x81, 0x02,        // Input: Data, Variable, Absolute (modifiers)
    0x95, 0x01,        // Report Count 1
    0x75, 0x08,        // Report Size 8
    0x81, 0x01,        // Input: Constant (reserved byte)
    0x95, 0x06,        // Report Count 6
    0x75, 0x08,        // Report Size 8
    0x15, 0x00,        // Logical Minimum 0
    0x25, 0x65,        // Logical Maximum 101
    0x05, 0x07,        // Usage Page: Keyboard/Keypad
    0x19, 0x00,        // Usage Minimum 0
    0x29, 0x65,        // Usage Maximum 0x65
    0x81, 0x00,        // Input: Data, Array, Absolute (six key slots)
    0x95, 0x05,        // Report Count 5
    0x75, 0x01,        // Report Size 1
    0x05, 0x08,        // Usage Page: LEDs
    0x19, 0x01,        // Usage Minimum: Num Lock
    0x29, 0x05,        // Usage Maximum: Kana
    0x91, 0x02,        // Output: Data, Variable, Absolute (five LEDs)
    0x95, 0x01,        // Report Count 1
    0x75, 0x03,        // Report Size 3
    0x91, 0x01,        // Output: Constant (padding)
    0xC0,              // End Collection
    // Absolute pointer
    0x05, 0x01,        // Usage Page: Generic Desktop
    0x09, 0x02,        // Usage: Mouse
    0xA1, 0x01,        // Collection: Application
    0x85, 0x02,        // Report ID 2
    0x09, 0x01,        // Usage: Pointer
    0xA1, 0x00,        // Collection: Physical
    0x05, 0x09,        // Usage Page: Button
    0x19, 0x01,        // Usage Minimum: Button 1
    0x29, 0x03,        // Usage Maximum: Button 3
    0x15, 0x00,        // Logical Minimum 0
    0x25, 0x01,        // Logical Maximum 1
    0x95, 0x03,        // Report Count 3
    0x75, 0x01,        // Report Size 1
    0x81, 0x02,        // Input: Data, Variable, Absolute (buttons)
    0x95, 0x01,        // Report Count 1
    0x75, 0x05,        // Report Size 5
    0x81, 0x01,        // Input: Constant (padding)
    0x05, 0x01,        // Usage Page: Generic Desktop
    0x09, 0x30,        // Usage: X
    0x09, 0x31,        // Usage: Y
    0x16, 0x00, 0x00,  // Logical Minimum 0
    0x26, 0xFF, 0x7F,  // Logical Maximum 32767
    0x75, 0x10,        // Report Size 16
    0x95, 0x02,        // Report Count 2
    0x81, 0x02,        // Input: Data, Variable, Absolute
    0xC0,              // End Collection (Physical)
    0xC0,              // End Collection (Application)
    // Relative mouse
    0x05, 0x01,        // Usage Page: Generic Desktop
    0x09, 0x02,        // Usage: Mouse
    0xA1, 0x01,        // Collection: Application
    0x85, 0x03,        // Report ID 3
    0x09, 0x01,        // Usage: Pointer
    0xA1, 0x00,        // Collection: Physical
    0x05, 0x09,        // Usage Page: Button
    0x19, 0x01,        // Usage Minimum: Button 1
    0x29, 0x03,        // Usage Maximum: Button 3
    0x15, 0x00,        // Logical Minimum 0
    0x25, 0x01,        // Logical Maximum 1
    0x95, 0x03,        // Report Count 3
    0x75, 0x01,        // Report Size 1
    0x81, 0x02,        // Input: Data, Variable, Absolute (buttons)
    0x95, 0x01,        // Report Count 1
    0x75, 0x05,        // Report Size 5
    0x81, 0x01,        // Input: Constant (padding)
    0x05, 0x01,        // Usage Page: Generic Desktop
    0x09, 0x30,        // Usage: X
    0x09, 0x31,        // Usage: Y
    0x09, 0x38,        // Usage: Wheel
    0x15, 0x81,        // Logical Minimum -127
    0x25, 0x7F,        // Logical Maximum 127
    0x75, 0x08,        // Report Size 8
    0x95, 0x03,        // Report Count 3
    0x81, 0x06,        // Input: Data, Variable, Relative
    0xC0,              // End Collection (Physical)
    0xC0,              // End Collection (Application)
    // Consumer
    0x05, 0x0C,        // Usage Page: Consumer
    0x09, 0x01,        // Usage: Consumer Control
    0xA1, 0x01,        // Collection: Application
    0x85, 0x04,        // Report ID 4
    0x15, 0x00,        // Logical Minimum 0
    0x26, 0xFF, 0x03,  // Logical Maximum 1023
    0x19, 0x00,        // Usage Minimum 0
    0x2A, 0xFF, 0x03,  // Usage Maximum 0x03FF
    0x75, 0x10,        // Report Size 16
    0x95, 0x01,        // Report Count 1
    0x81, 0x00,        // Input: Data, Array, Absolute (one usage slot)
    0xC0,              // End Collection
};

// What a host learns from walking the descriptor's short items.
struct Walk {
    bool balanced = true;                   // collections never close more than they opened, and all close
    std::map<int, size_t> inputBits;        // by report ID
    std::map<int, size_t> outputBits;
};

Walk walk(const Bytes& descriptor) {
    Walk result;
    int depth = 0, reportID = 0;
    size_t size = 0, count = 0;
    for (size_t i = 0; i < descriptor.size();) {
        uint8_t prefix = descriptor[i];
        size_t length = (prefix & 3) == 3 ? 4 : prefix & 3;
        uint32_t data = 0;
        for (size_t k = 0; k < length && i + 1 + k < descriptor.size(); ++k) data |= descriptor[i + 1 + k] << (8 * k);
        switch (prefix & 0xFC) {
            case 0xA0: ++depth; break;                       // Collection
            case 0xC0: result.balanced &= --depth >= 0; break;  // End Collection
            case 0x84: reportID = static_cast<int>(data); break;
            case 0x74: size = data; break;
            case 0x94: count = data; break;
            case 0x80: result.inputBits[reportID] += size * count; break;
            case 0x90: result.outputBits[reportID] += size * count; break;
        }
        i += 1 + length;
    }
    result.balanced &= depth == 0;
    return result;
}

}  // namespace

TEST(HIDReportMap, DescriptorByteForByte) {
    EXPECT_EQ(HIDReportMap::descriptor(), kExpected);
    ASSERT_EQ(kExpected.size(), 198u);
    // The collections, in order, make up the whole.
    Bytes joined;
    for (const Bytes* part : {&HIDReportMap::keyboard(), &HIDReportMap::absolutePointer(), &HIDReportMap::relativeMouse(),
                              &HIDReportMap::consumer()}) {
        joined.insert(joined.end(), part->begin(), part->end());
    }
    EXPECT_EQ(joined, kExpected);
}

TEST(HIDReportMap, DescriptorAgreesWithTheReportBuilders) {
    Walk found = walk(HIDReportMap::descriptor());
    EXPECT_TRUE(found.balanced);
    ASSERT_EQ(found.inputBits.size(), kAllReportIDs.size());
    for (ReportID id : kAllReportIDs) {
        EXPECT_EQ(found.inputBits[static_cast<int>(id)], inputReportLength(id) * 8) << reportName(id);
    }
    EXPECT_EQ(found.outputBits, (std::map<int, size_t>{{1, 8}}));  // the keyboard's LED byte
    EXPECT_EQ(keyboardReport(0, 0).size(), inputReportLength(ReportID::keyboard));
    EXPECT_EQ(absolutePointerReport(0, 0, 0).size(), inputReportLength(ReportID::absolutePointer));
    EXPECT_EQ(relativeMouseReport(0, 0, 0).size(), inputReportLength(ReportID::relativeMouse));
    EXPECT_EQ(consumerReport(0).size(), inputReportLength(ReportID::consumer));
}

TEST(ReportID, RawValuesRoundTrip) {
    EXPECT_FALSE(reportIDFromRaw(0));
    EXPECT_FALSE(reportIDFromRaw(5));
    for (ReportID id : kAllReportIDs) EXPECT_EQ(reportIDFromRaw(static_cast<uint8_t>(id)), id);
    EXPECT_EQ(inputReportLength(ReportID::keyboard), 8u);
    EXPECT_EQ(inputReportLength(ReportID::absolutePointer), 5u);
    EXPECT_EQ(inputReportLength(ReportID::relativeMouse), 4u);
    EXPECT_EQ(inputReportLength(ReportID::consumer), 2u);
}

TEST(Reports, Layouts) {
    // modifiers Left GUI, reserved, key 'a', five empty slots
    EXPECT_EQ(keyboardReport(0x08, 0x04), (Bytes{0x08, 0x00, 0x04, 0, 0, 0, 0, 0}));
    // primary button, X 0x4000 little-endian, Y 0x7FFF little-endian
    EXPECT_EQ(absolutePointerReport(1, 0x4000, 0x7FFF), (Bytes{0x01, 0x00, 0x40, 0xFF, 0x7F}));
    // no button, dX -10 as two's complement, dY 127, wheel 0
    EXPECT_EQ(relativeMouseReport(0, -10, 127), (Bytes{0x00, 0xF6, 0x7F, 0x00}));
    // AC Home 0x0223, little-endian
    EXPECT_EQ(consumerReport(0x0223), (Bytes{0x23, 0x02}));
    // start handle 0x0010, end handle 0xFFFF
    EXPECT_EQ(serviceChangedValue(), (Bytes{0x10, 0x00, 0xFF, 0xFF}));
}

TEST(Reports, PointerFractionsRoundAndClamp) {
    EXPECT_EQ(pointerCoordinate(0.5), 16384);  // 16383.5 rounds away from zero
    EXPECT_EQ(pointerCoordinate(-0.2), 0);
    EXPECT_EQ(pointerCoordinate(1.7), 32767);
    EXPECT_EQ(pointerCoordinate(1.0), 32767);
    EXPECT_EQ(pointerCoordinate(0.0), 0);
    EXPECT_EQ(pointerCoordinate(std::nan("")), 0);
}

TEST(Reports, AbsolutePointerDecodesWhatWasEncoded) {
    EXPECT_EQ(decodeAbsolutePointerReport(absolutePointerReport(1, 0x1234, 0x7FFF)), (AbsolutePointer{1, 0x1234, 0x7FFF}));
    EXPECT_FALSE(decodeAbsolutePointerReport(Bytes{1, 0, 0, 0}));
    EXPECT_EQ(pointerFraction(pointerCoordinate(0.25)), 8192 / 32767.0);
    EXPECT_EQ(pointerFraction(HIDReportMap::absoluteMax), 1.0);
}
