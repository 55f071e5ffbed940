#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace quintalis {

using Bytes = std::vector<uint8_t>;

// The four top-level collections of the composite HID device, by report ID.
// Over HID-over-GATT the ID is never part of a report's bytes: each Report
// characteristic names its ID in a Report Reference descriptor.
enum class ReportID : uint8_t { keyboard = 1, absolutePointer = 2, relativeMouse = 3, consumer = 4 };

inline constexpr std::array<ReportID, 4> kAllReportIDs{ReportID::keyboard, ReportID::absolutePointer,
                                                       ReportID::relativeMouse, ReportID::consumer};

// 1 to 4 name a collection; anything else names none.
std::optional<ReportID> reportIDFromRaw(uint8_t raw);
// The length of the collection's input report on the wire: 8, 5, 4 or 2.
size_t inputReportLength(ReportID id);
// "keyboard", "absolutePointer", "relativeMouse", "consumer".
const char* reportName(ReportID id);

// The report descriptor, whole and by collection.
struct HIDReportMap {
    static constexpr uint16_t absoluteMax = 0x7FFF;

    // The whole 198-byte report descriptor served as the Report Map.
    static const Bytes& descriptor();
    static const Bytes& keyboard();
    static const Bytes& absolutePointer();
    static const Bytes& relativeMouse();
    static const Bytes& consumer();
};

// Report layouts, bytes only (no report ID).

// [modifiers, reserved, key, 0, 0, 0, 0, 0]
Bytes keyboardReport(uint8_t modifiers, uint8_t code);
// A fraction of the screen as an absolute coordinate: round(f × 32767), clamped.
uint16_t pointerCoordinate(double fraction);
// An absolute coordinate back as the fraction of the screen it stands for.
double pointerFraction(uint16_t coordinate);
// [buttons, X low, X high, Y low, Y high]
Bytes absolutePointerReport(uint8_t buttons, uint16_t x, uint16_t y);
struct AbsolutePointer {
    uint8_t buttons = 0;
    uint16_t x = 0;
    uint16_t y = 0;
    bool operator==(const AbsolutePointer&) const = default;
};
// The fields of an absolute-pointer report; nothing when it is too short.
std::optional<AbsolutePointer> decodeAbsolutePointerReport(const Bytes& bytes);
// [buttons, dX, dY, wheel 0]
Bytes relativeMouseReport(uint8_t buttons, int8_t dx, int8_t dy);
// The Consumer-page usage of the Home button (AC Home).
inline constexpr uint16_t kHomeUsage = 0x0223;
// One consumer usage, little-endian; 0 releases.
Bytes consumerReport(uint16_t usage);
// Service Changed indication: start handle 0x0010, end handle 0xFFFF.
Bytes serviceChangedValue();

}  // namespace quintalis
