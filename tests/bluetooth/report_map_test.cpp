#include <gtest/gtest.h>

#include <cmath>

#include "bluetooth/report_map.h"

using namespace quintalis;

namespace {

// A bonded host keeps the descriptor it read at pairing, so any change to
// these bytes must be deliberate: keyboard (ID 1, modifiers, reserved byte,
// six key slots, five LED bits), absolute pointer (ID 2, three buttons, X
// and Y 0..32767), relative mouse (ID 3, three buttons, X, Y, wheel
// -127..127) and consumer (ID 4, one 16-bit usage).
constexpr std::string_view kDescriptorHex =
    "05010906A1018501050719E029E71500250175019508810295017508810195067508150025650507190029658100"
    "950575010508190129059102950175039101C0"
    "05010902A10185020901A1000509190129031500250195037501810295017505810105010930093116000026FF7F751095028102C0C0"
    "05010902A10185030901A1000509190129031500250195037501810295017505810105010930093109381581257F750895038106C0C0"
    "050C0901A1018504150026FF0319002AFF03751095018100C0";

Bytes fromHex(std::string_view hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

}  // namespace

TEST(HIDReportMap, DescriptorIsTheOneHostsCachedAndItsCollectionsMakeTheWhole) {
    EXPECT_EQ(HIDReportMap::descriptor(), fromHex(kDescriptorHex));
    Bytes joined;
    for (const Bytes* part : {&HIDReportMap::keyboard(), &HIDReportMap::absolutePointer(), &HIDReportMap::relativeMouse(),
                              &HIDReportMap::consumer()}) {
        joined.insert(joined.end(), part->begin(), part->end());
    }
    EXPECT_EQ(joined, HIDReportMap::descriptor());
}

TEST(Reports, LayoutsRoundingAndRawIDs) {
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

    // Fractions round halves away from zero and clamp; NaN is the edge.
    const std::pair<double, uint16_t> fractions[] = {{0.5, 16384}, {-0.2, 0}, {1.7, 32767}, {1.0, 32767}, {0.0, 0},
                                                     {std::nan(""), 0}};
    for (auto [fraction, coordinate] : fractions) EXPECT_EQ(pointerCoordinate(fraction), coordinate) << fraction;
    EXPECT_EQ(decodeAbsolutePointerReport(absolutePointerReport(1, 0x1234, 0x7FFF)), (AbsolutePointer{1, 0x1234, 0x7FFF}));
    EXPECT_FALSE(decodeAbsolutePointerReport(Bytes{1, 0, 0, 0}));
    EXPECT_EQ(pointerFraction(pointerCoordinate(0.25)), 8192 / 32767.0);
    EXPECT_EQ(pointerFraction(HIDReportMap::absoluteMax), 1.0);

    EXPECT_FALSE(reportIDFromRaw(0));
    EXPECT_FALSE(reportIDFromRaw(5));
    for (ReportID id : kAllReportIDs) EXPECT_EQ(reportIDFromRaw(static_cast<uint8_t>(id)), id);
}
