#include "bluetooth/report_map.h"

#include <algorithm>
#include <cmath>

#include "bluetooth/hid_items.h"

namespace quintalis {

std::optional<ReportID> reportIDFromRaw(uint8_t raw) {
    if (raw < 1 || raw > 4) return std::nullopt;
    return static_cast<ReportID>(raw);
}

size_t inputReportLength(ReportID id) {
    switch (id) {
        case ReportID::keyboard: return 8;
        case ReportID::absolutePointer: return 5;
        case ReportID::relativeMouse: return 4;
        case ReportID::consumer: return 2;
    }
    return 0;
}

const char* reportName(ReportID id) {
    switch (id) {
        case ReportID::keyboard: return "keyboard";
        case ReportID::absolutePointer: return "absolutePointer";
        case ReportID::relativeMouse: return "relativeMouse";
        case ReportID::consumer: return "consumer";
    }
    return "";
}

namespace {

using namespace hid;

// The highest key a key slot can hold: Keyboard Application (the Menu key).
constexpr uint8_t kHighestKey = 0x65;
// The highest usage the consumer slot can hold, and the highest it names.
constexpr int16_t kHighestConsumerUsage = 0x03FF;

uint8_t idOf(ReportID id) { return static_cast<uint8_t>(id); }

// The absolute pointer and the relative mouse share their first 40 bytes but
// for the report ID: three buttons, five bits of padding, then X and Y.
Descriptor pointerHead(ReportID id) {
    Descriptor d;
    d.usagePage(Page::genericDesktop).usage(kMouse).collection(Collection::application).reportID(idOf(id));
    d.usage(kPointer).collection(Collection::physical);
    d.usagePage(Page::button).usageMinimum(1).usageMaximum(3);
    d.logicalMinimum(0).logicalMaximum(1).reportCount(3).reportSize(1).input(kData | kVariable | kAbsolute);
    d.reportCount(1).reportSize(5).input(kConstant);
    d.usagePage(Page::genericDesktop).usage(kX).usage(kY);
    return d;
}

Bytes concatenated(std::initializer_list<const Bytes*> parts) {
    Bytes out;
    for (const Bytes* part : parts) out.insert(out.end(), part->begin(), part->end());
    return out;
}

}  // namespace

const Bytes& HIDReportMap::keyboard() {
    static const Bytes bytes = [] {
        Descriptor d;
        d.usagePage(Page::genericDesktop).usage(hid::kKeyboard).collection(Collection::application);
        d.reportID(idOf(ReportID::keyboard));
        // The modifier byte: one bit for each of the eight modifier keys.
        d.usagePage(Page::keyboard).usageMinimum(kLeftControl).usageMaximum(kRightGUI);
        d.logicalMinimum(0).logicalMaximum(1).reportSize(1).reportCount(8).input(kData | kVariable | kAbsolute);
        d.reportCount(1).reportSize(8).input(kConstant);  // the reserved byte
        // Six key slots, each holding the usage of a key that is down.
        d.reportCount(6).reportSize(8).logicalMinimum(0).logicalMaximum(kHighestKey);
        d.usagePage(Page::keyboard).usageMinimum(0).usageMaximum(kHighestKey).input(kData | kArray | kAbsolute);
        // Five LEDs the host may set (Num Lock to Kana), and padding to a byte.
        d.reportCount(5).reportSize(1).usagePage(Page::leds).usageMinimum(1).usageMaximum(5);
        d.output(kData | kVariable | kAbsolute);
        d.reportCount(1).reportSize(3).output(kConstant);
        d.endCollection();
        return d.bytes();
    }();
    return bytes;
}

const Bytes& HIDReportMap::absolutePointer() {
    static const Bytes bytes = [] {
        Descriptor d = pointerHead(ReportID::absolutePointer);
        d.logicalMinimum16(0).logicalMaximum16(static_cast<int16_t>(absoluteMax));
        d.reportSize(16).reportCount(2).input(kData | kVariable | kAbsolute);
        d.endCollection().endCollection();
        return d.bytes();
    }();
    return bytes;
}

const Bytes& HIDReportMap::relativeMouse() {
    static const Bytes bytes = [] {
        Descriptor d = pointerHead(ReportID::relativeMouse);
        d.usage(kWheel).logicalMinimum(-127).logicalMaximum(127);
        d.reportSize(8).reportCount(3).input(kData | kVariable | kRelative);
        d.endCollection().endCollection();
        return d.bytes();
    }();
    return bytes;
}

const Bytes& HIDReportMap::consumer() {
    static const Bytes bytes = [] {
        Descriptor d;
        d.usagePage(Page::consumer).usage(kConsumerControl).collection(Collection::application);
        d.reportID(idOf(ReportID::consumer));
        // One 16-bit slot holding the usage of the button that is down (AC Home, ...).
        d.logicalMinimum(0).logicalMaximum16(kHighestConsumerUsage);
        d.usageMinimum(0).usageMaximum16(kHighestConsumerUsage);
        d.reportSize(16).reportCount(1).input(kData | kArray | kAbsolute);
        d.endCollection();
        return d.bytes();
    }();
    return bytes;
}

const Bytes& HIDReportMap::descriptor() {
    static const Bytes bytes = concatenated({&keyboard(), &absolutePointer(), &relativeMouse(), &consumer()});
    return bytes;
}

Bytes keyboardReport(uint8_t modifiers, uint8_t code) { return {modifiers, 0, code, 0, 0, 0, 0, 0}; }

uint16_t pointerCoordinate(double fraction) {
    double scaled = std::round(fraction * HIDReportMap::absoluteMax);  // halves away from zero
    if (!(scaled > 0)) return 0;  // also NaN
    return static_cast<uint16_t>(std::min<double>(scaled, HIDReportMap::absoluteMax));
}

double pointerFraction(uint16_t coordinate) { return coordinate / static_cast<double>(HIDReportMap::absoluteMax); }

Bytes absolutePointerReport(uint8_t buttons, uint16_t x, uint16_t y) {
    return {buttons, static_cast<uint8_t>(x & 0xFF), static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(y & 0xFF),
            static_cast<uint8_t>(y >> 8)};
}

std::optional<AbsolutePointer> decodeAbsolutePointerReport(const Bytes& bytes) {
    if (bytes.size() < inputReportLength(ReportID::absolutePointer)) return std::nullopt;
    return AbsolutePointer{bytes[0], static_cast<uint16_t>(bytes[1] | bytes[2] << 8),
                           static_cast<uint16_t>(bytes[3] | bytes[4] << 8)};
}

Bytes relativeMouseReport(uint8_t buttons, int8_t dx, int8_t dy) {
    return {buttons, static_cast<uint8_t>(dx), static_cast<uint8_t>(dy), 0};
}

Bytes consumerReport(uint16_t usage) { return {static_cast<uint8_t>(usage & 0xFF), static_cast<uint8_t>(usage >> 8)}; }

Bytes serviceChangedValue() { return {0x10, 0x00, 0xFF, 0xFF}; }

}  // namespace quintalis
