#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <stdexcept>

#include "bluetooth/keymap.h"
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

// One Input or Output item as a host reads it, with the global items in force.
struct Field {
    bool input;
    int report;
    int page;
    size_t size;
    size_t count;
    int32_t min;
    int32_t max;
    bool constant;
    bool relative;
};

// Walks the descriptor's short items as a host does; false when the
// collections do not balance.
bool walk(const Bytes& descriptor, std::vector<Field>& fields) {
    int depth = 0, report = 0, page = 0;
    size_t size = 0, count = 0;
    int32_t min = 0, max = 0;
    for (size_t i = 0; i < descriptor.size();) {
        uint8_t prefix = descriptor[i];
        size_t length = (prefix & 3) == 3 ? 4 : prefix & 3;
        if (i + 1 + length > descriptor.size()) return false;
        uint32_t data = 0;
        for (size_t k = 0; k < length; ++k) data |= descriptor[i + 1 + k] << (8 * k);
        // Logical limits are signed in the item's own width.
        int32_t value = length == 1   ? static_cast<int8_t>(data)
                        : length == 2 ? static_cast<int16_t>(data)
                                      : static_cast<int32_t>(data);
        switch (prefix & 0xFC) {
            case 0xA0: ++depth; break;
            case 0xC0: if (--depth < 0) return false; break;
            case 0x04: page = static_cast<int>(data); break;
            case 0x14: min = value; break;
            case 0x24: max = value; break;
            case 0x74: size = data; break;
            case 0x84: report = static_cast<int>(data); break;
            case 0x94: count = data; break;
            case 0x80:
            case 0x90:
                fields.push_back({(prefix & 0xFC) == 0x80, report, page, size, count, min, max, (data & 1) != 0,
                                  (data & 4) != 0});
                break;
        }
        i += 1 + length;
    }
    return depth == 0;
}

// The one data field of a report with the given item size.
const Field& field(const std::vector<Field>& fields, ReportID id, size_t size) {
    for (const auto& f : fields) {
        if (f.input && !f.constant && f.report == static_cast<int>(id) && f.size == size) return f;
    }
    throw std::runtime_error(std::string("no field in ") + reportName(id));
}

}  // namespace

TEST(HIDReportMap, DescriptorIsTheOneHostsCachedAndItsCollectionsMakeTheWhole) {
    EXPECT_EQ(HIDReportMap::descriptor(), fromHex(kDescriptorHex));
    EXPECT_EQ(HIDReportMap::descriptor().size(), 198u);
    Bytes joined;
    for (const Bytes* part : {&HIDReportMap::keyboard(), &HIDReportMap::absolutePointer(), &HIDReportMap::relativeMouse(),
                              &HIDReportMap::consumer()}) {
        joined.insert(joined.end(), part->begin(), part->end());
    }
    EXPECT_EQ(joined, HIDReportMap::descriptor());
}

// What the descriptor promises a host must hold for what the builders send.
TEST(HIDReportMap, DescriptorAgreesWithTheReportBuilders) {
    std::vector<Field> fields;
    ASSERT_TRUE(walk(HIDReportMap::descriptor(), fields));
    std::map<int, size_t> inputBits, outputBits;
    for (const auto& f : fields) (f.input ? inputBits : outputBits)[f.report] += f.size * f.count;
    ASSERT_EQ(inputBits.size(), kAllReportIDs.size());
    const std::map<ReportID, size_t> built{{ReportID::keyboard, keyboardReport(0, 0).size()},
                                           {ReportID::absolutePointer, absolutePointerReport(0, 0, 0).size()},
                                           {ReportID::relativeMouse, relativeMouseReport(0, 0, 0).size()},
                                           {ReportID::consumer, consumerReport(0).size()}};
    for (ReportID id : kAllReportIDs) {
        EXPECT_EQ(inputBits[static_cast<int>(id)], inputReportLength(id) * 8) << reportName(id);
        EXPECT_EQ(built.at(id), inputReportLength(id)) << reportName(id);
    }
    EXPECT_EQ(outputBits, (std::map<int, size_t>{{1, 8}}));  // the keyboard's LED byte

    // The pointer's range is the builders' coordinate range.
    const Field& absolute = field(fields, ReportID::absolutePointer, 16);
    EXPECT_EQ(absolute.count, 2u);
    EXPECT_FALSE(absolute.relative);
    EXPECT_EQ(absolute.min, pointerCoordinate(0));
    EXPECT_EQ(absolute.max, pointerCoordinate(1));
    EXPECT_EQ(absolute.max, HIDReportMap::absoluteMax);
    // Relative steps stop short of -128, which a signed byte could hold.
    const Field& relative = field(fields, ReportID::relativeMouse, 8);
    EXPECT_TRUE(relative.relative);
    EXPECT_EQ(relative.min, -127);
    EXPECT_EQ(relative.max, 127);
    // Every key the keymap presses and the Home usage lie inside their arrays.
    const Field& keys = field(fields, ReportID::keyboard, 8);
    EXPECT_EQ(keys.page, 0x07);
    EXPECT_EQ(keys.count, 6u);
    for (const auto& [name, code] : Keymap::named()) EXPECT_LE(code, keys.max) << name;
    for (int c = 0x20; c < 0x7F; ++c) {
        auto stroke = Keymap::stroke(std::string(1, static_cast<char>(c)));
        EXPECT_LE(stroke.value_or(Keymap::Stroke{}).code, keys.max) << c;
    }
    const Field& consumer = field(fields, ReportID::consumer, 16);
    EXPECT_EQ(consumer.page, 0x0C);
    EXPECT_LE(kHomeUsage, consumer.max);
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
