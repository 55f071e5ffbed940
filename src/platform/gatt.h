#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quintalis {

// A Bluetooth attribute UUID. A 128-bit UUID on the Bluetooth base
// (0000xxxx-0000-1000-8000-00805F9B34FB) is kept in its 16-bit short form,
// so "2A4D" and its long spelling are the same UUID.
class BluetoothUUID {
public:
    // "2A4D" or "0000180F-0000-1000-8000-00805F9B34FB" in either letter case.
    explicit BluetoothUUID(std::string text);

    // The short form ("2A4D") or the full 128-bit form, upper-case.
    const std::string& text() const { return text_; }
    // A readable name for the attributes this program uses ("Report"), else the text.
    std::string description() const;

    bool operator==(const BluetoothUUID&) const = default;

private:
    std::string text_;
};

namespace gatt {

// Characteristic property bits.
inline constexpr uint8_t read = 0x02;
inline constexpr uint8_t writeWithoutResponse = 0x04;
inline constexpr uint8_t write = 0x08;
inline constexpr uint8_t notify = 0x10;
inline constexpr uint8_t indicate = 0x20;

// Attribute permission bits.
inline constexpr uint8_t readable = 0x01;
inline constexpr uint8_t writeable = 0x02;
inline constexpr uint8_t readEncryptionRequired = 0x04;
inline constexpr uint8_t writeEncryptionRequired = 0x08;

}  // namespace gatt

struct GATTDescriptor {
    BluetoothUUID uuid;
    std::vector<uint8_t> value;
};

// A characteristic is known by its identity, not its UUID: the HID service
// has five Report characteristics with one UUID, and a rebuilt table's
// characteristics are new ones even where the UUIDs repeat.
struct GATTCharacteristic {
    BluetoothUUID uuid;
    uint8_t properties = 0;
    uint8_t permissions = 0;
    // Answered by the platform itself when present; otherwise reads reach the delegate.
    std::optional<std::vector<uint8_t>> value;
    std::vector<GATTDescriptor> descriptors;
};
using CharacteristicRef = std::shared_ptr<const GATTCharacteristic>;

struct GATTService {
    BluetoothUUID uuid;
    bool primary = true;
    std::vector<CharacteristicRef> characteristics;
};
using ServiceRef = std::shared_ptr<const GATTService>;

}  // namespace quintalis
