#include "platform/gatt.h"

#include <algorithm>
#include <map>

namespace quintalis {

BluetoothUUID::BluetoothUUID(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    const std::string base = "-0000-1000-8000-00805F9B34FB";
    if (text.size() == 36 && text.compare(0, 4, "0000") == 0 && text.compare(8, base.size(), base) == 0) {
        text = text.substr(4, 4);
    }
    text_ = std::move(text);
}

std::string BluetoothUUID::description() const {
    static const std::map<std::string, std::string> names{
        {"1801", "Generic Attribute"}, {"1812", "Human Interface Device"},
        {"180A", "Device Information"}, {"180F", "Battery"},
        {"2A05", "Service Changed"},   {"2A19", "Battery Level"},
        {"2A29", "Manufacturer Name String"}, {"2A4A", "HID Information"},
        {"2A4B", "Report Map"},        {"2A4C", "HID Control Point"},
        {"2A4D", "Report"},            {"2A4E", "Protocol Mode"},
        {"2A50", "PnP ID"},            {"2908", "Report Reference"},
    };
    auto found = names.find(text_);
    return found == names.end() ? text_ : found->second;
}

}  // namespace quintalis
