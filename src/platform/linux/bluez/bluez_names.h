#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/uuid.h"
#include "platform/gatt.h"

namespace quintalis::bluez {

inline constexpr const char* kService = "org.bluez";
inline constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
inline constexpr const char* kDeviceInterface = "org.bluez.Device1";
inline constexpr const char* kGattManagerInterface = "org.bluez.GattManager1";
inline constexpr const char* kAdvertisingManagerInterface = "org.bluez.LEAdvertisingManager1";
inline constexpr const char* kAgentManagerInterface = "org.bluez.AgentManager1";
inline constexpr const char* kAgentManagerPath = "/org/bluez";
inline constexpr const char* kServiceInterface = "org.bluez.GattService1";
inline constexpr const char* kCharacteristicInterface = "org.bluez.GattCharacteristic1";
inline constexpr const char* kDescriptorInterface = "org.bluez.GattDescriptor1";
inline constexpr const char* kAdvertisementInterface = "org.bluez.LEAdvertisement1";
inline constexpr const char* kAgentInterface = "org.bluez.Agent1";
inline constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr const char* kObjectManagerInterface = "org.freedesktop.DBus.ObjectManager";

// Error names bluetoothd turns into ATT errors, and the ones it answers with.
inline constexpr const char* kInvalidOffset = "org.bluez.Error.InvalidOffset";
inline constexpr const char* kNotSupported = "org.bluez.Error.NotSupported";
inline constexpr const char* kFailed = "org.bluez.Error.Failed";
inline constexpr const char* kRejected = "org.bluez.Error.Rejected";
inline constexpr const char* kAlreadyExists = "org.bluez.Error.AlreadyExists";

// The few kinds of property value this backend reads from bluetoothd's
// objects; object paths arrive as strings.
using PropertyValue = std::variant<bool, std::string>;
using PropertyMap = std::map<std::string, PropertyValue>;
using InterfaceMap = std::map<std::string, PropertyMap>;
using ObjectMap = std::map<std::string, InterfaceMap>;

struct BusError {
    std::string name;
    std::string message;
};

// bluetoothd already has what was registered: as good as a success.
inline bool alreadyExists(const std::optional<BusError>& error) { return error && error->name == kAlreadyExists; }

// What bluetoothd's read, write and acquire calls say about the request.
struct AttOptions {
    std::string device;  // the device's object path
    size_t offset = 0;
    uint16_t mtu = 23;
};

// The 128-bit lower-case form bluetoothd expects ("00002a4d-0000-1000-8000-00805f9b34fb").
std::string fullUUID(const BluetoothUUID& uuid);

// A phone's identifier as a host: the same for the same Bluetooth address on
// every run and through every adapter, so stored pairings keep working.
UUID centralId(const std::string& address);

// "hci0" for "/org/bluez/hci0".
std::string adapterName(const std::string& adapterPath);

// The adapter a device object lives under ("/org/bluez/hci0" for
// "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF"), and the address its path spells.
std::string adapterOfDevice(const std::string& devicePath);
std::string addressOfDevicePath(const std::string& devicePath);

// The bytes of `value` from `offset` on; nothing when the offset lies beyond it.
std::optional<std::vector<uint8_t>> sliceFrom(const std::vector<uint8_t>& value, size_t offset);

}  // namespace quintalis::bluez
