#include "platform/linux/bluez/bluez_names.h"

#include <algorithm>

#include "base/text.h"

namespace quintalis::bluez {

std::string fullUUID(const BluetoothUUID& uuid) {
    return asciiLowercase(uuid.text().size() == 4 ? "0000" + uuid.text() + "-0000-1000-8000-00805F9B34FB" : uuid.text());
}

UUID centralId(const std::string& address) {
    // Lower case, since bluetoothd spells addresses upper-case and a stored
    // pairing must not depend on that.
    return UUID::fromName("quintalis bluetooth central " + asciiLowercase(address));
}

std::string adapterName(const std::string& adapterPath) {
    auto slash = adapterPath.rfind('/');
    return slash == std::string::npos ? adapterPath : adapterPath.substr(slash + 1);
}

std::string adapterOfDevice(const std::string& devicePath) {
    auto slash = devicePath.rfind('/');
    return slash == std::string::npos ? std::string() : devicePath.substr(0, slash);
}

std::string addressOfDevicePath(const std::string& devicePath) {
    std::string name = adapterName(devicePath);
    if (name.rfind("dev_", 0) != 0) return {};
    std::string address = name.substr(4);
    std::replace(address.begin(), address.end(), '_', ':');
    return address;
}

std::optional<std::vector<uint8_t>> sliceFrom(const std::vector<uint8_t>& value, size_t offset) {
    if (offset > value.size()) return std::nullopt;
    return std::vector<uint8_t>(value.begin() + static_cast<long>(offset), value.end());
}

}  // namespace quintalis::bluez
