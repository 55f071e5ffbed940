#include "bluetooth/report_map.h"

#include <algorithm>
#include <cmath>

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

// The absolute pointer and the relative mouse share their first 40 bytes but
// for the report ID.
Bytes pointerHead(uint8_t reportID) {
    return {
        0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, reportID,  // Generic Desktop, Mouse, Application, ID
        0x09, 0x01, 0xA1, 0x00,                              // Pointer, Physical
        0x05, 0x09, 0x19, 0x01, 0x29, 0x03,                  // Buttons 1..3
        0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,  // Input: three button bits
        0x95, 0x01, 0x75, 0x05, 0x81, 0x01,                  // Input, constant: five bits padding
        0x05, 0x01, 0x09, 0x30, 0x09, 0x31,                  // X, Y
    };
}

Bytes concatenated(std::initializer_list<const Bytes*> parts) {
    Bytes out;
    for (const Bytes* part : parts) out.insert(out.end(), part->begin(), part->end());
    return out;
}

}  // namespace

const Bytes& HIDReportMap::keyboard() {
    static const Bytes bytes{
        0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01,  // Generic Desktop, Keyboard, Application, ID 1
        0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,              // modifier usages Left Control..Right GUI
        0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08,  // 8 one-bit fields, 0..1
        0x81, 0x02,                                      // Input: the modifier byte
        0x95, 0x01, 0x75, 0x08, 0x81, 0x01,              // Input, constant: the reserved byte
        0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65,  // six 8-bit slots, 0..101
        0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00,  // Input, array: the key slots
        0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05,
        0x91, 0x02,                                      // Output: five LED bits
        0x95, 0x01, 0x75, 0x03, 0x91, 0x01,              // Output, constant: padding
        0xC0,
    };
    return bytes;
}

const Bytes& HIDReportMap::absolutePointer() {
    static const Bytes bytes = [] {
        Bytes tail{
            0x16, 0x00, 0x00, 0x26, 0xFF, 0x7F,  // 0..32767
            0x75, 0x10, 0x95, 0x02, 0x81, 0x02,  // Input: two 16-bit absolute values
            0xC0, 0xC0,
        };
        Bytes head = pointerHead(0x02);
        return concatenated({&head, &tail});
    }();
    return bytes;
}

const Bytes& HIDReportMap::relativeMouse() {
    static const Bytes bytes = [] {
        Bytes tail{
            0x09, 0x38,                          // Wheel
            0x15, 0x81, 0x25, 0x7F,              // -127..127
            0x75, 0x08, 0x95, 0x03, 0x81, 0x06,  // Input: three 8-bit relative values
            0xC0, 0xC0,
        };
        Bytes head = pointerHead(0x03);
        return concatenated({&head, &tail});
    }();
    return bytes;
}

const Bytes& HIDReportMap::consumer() {
    static const Bytes bytes{
        0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x04,  // Consumer, Consumer Control, Application, ID 4
        0x15, 0x00, 0x26, 0xFF, 0x03,                    // 0..1023
        0x19, 0x00, 0x2A, 0xFF, 0x03,                    // usages 0..0x3FF
        0x75, 0x10, 0x95, 0x01, 0x81, 0x00,              // Input, array: one 16-bit slot
        0xC0,
    };
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
