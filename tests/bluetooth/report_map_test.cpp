#include <gtest/gtest.h>

#include <cmath>

#include "bluetooth/report_map.h"

using namespace quintalis;

TEST(HIDReportMap, DescriptorIsTheFourCollectionsInOrder) {
    const Bytes& descriptor = HIDReportMap::descriptor();
    ASSERT_EQ(descriptor.size(), 198u);
    EXPECT_EQ(HIDReportMap::keyboard().size(), 65u);
    EXPECT_EQ(HIDReportMap::absolutePointer().size(), 54u);
    EXPECT_EQ(HIDReportMap::relativeMouse().size(), 54u);
    EXPECT_EQ(HIDReportMap::consumer().size(), 25u);
    EXPECT_EQ(Bytes(descriptor.begin(), descriptor.begin() + 8), (Bytes{0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01}));
    EXPECT_EQ(Bytes(descriptor.end() - 5, descriptor.end()), (Bytes{0x95, 0x01, 0x81, 0x00, 0xC0}));
}

TEST(HIDReportMap, PointerCollectionsDifferWhereTheyShould) {
    const Bytes& absolute = HIDReportMap::absolutePointer();
    const Bytes& relative = HIDReportMap::relativeMouse();
    EXPECT_EQ(absolute[7], 0x02);  // report ID
    EXPECT_EQ(relative[7], 0x03);
    // X and Y: 16-bit absolute 0..32767 against 8-bit relative -127..127 with a wheel.
    EXPECT_EQ(Bytes(absolute.begin() + 40, absolute.end()),
              (Bytes{0x16, 0x00, 0x00, 0x26, 0xFF, 0x7F, 0x75, 0x10, 0x95, 0x02, 0x81, 0x02, 0xC0, 0xC0}));
    EXPECT_EQ(Bytes(relative.begin() + 40, relative.end()),
              (Bytes{0x09, 0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0}));
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
