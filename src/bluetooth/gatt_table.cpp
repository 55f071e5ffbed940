#include "bluetooth/gatt_table.h"

namespace quintalis {
namespace {

CharacteristicRef characteristic(const char* uuid, uint8_t properties, uint8_t permissions,
                                 std::optional<Bytes> value = std::nullopt, std::vector<GATTDescriptor> descriptors = {}) {
    return std::make_shared<GATTCharacteristic>(
        GATTCharacteristic{BluetoothUUID(uuid), properties, permissions, std::move(value), std::move(descriptors)});
}

ServiceRef service(const char* uuid, std::vector<CharacteristicRef> characteristics) {
    return std::make_shared<GATTService>(GATTService{BluetoothUUID(uuid), true, std::move(characteristics)});
}

const BluetoothUUID kReportReference("2908");
// The Report Reference's second byte.
constexpr uint8_t kInputReport = 1;
constexpr uint8_t kOutputReport = 2;

GATTDescriptor reportReference(ReportID id, uint8_t type) {
    return GATTDescriptor{kReportReference, {static_cast<uint8_t>(id), type}};
}

}  // namespace

std::optional<ReportID> inputReportOf(const GATTCharacteristic& characteristic) {
    for (const auto& descriptor : characteristic.descriptors) {
        if (descriptor.uuid == kReportReference && descriptor.value.size() == 2 && descriptor.value[1] == kInputReport) {
            return reportIDFromRaw(descriptor.value[0]);
        }
    }
    return std::nullopt;
}

HIDGATTTable HIDGATTTable::build(const std::string& manufacturerName) {
    using namespace gatt;
    HIDGATTTable table;
    table.serviceChanged = characteristic("2A05", indicate, readable);
    table.genericAttribute = service("00001801-0000-1000-8000-00805F9B34FB", {table.serviceChanged});

    // bcdHID 1.11, country 0, normally connectable without remote wake.
    auto information = characteristic("2A4A", read, readable, Bytes{0x11, 0x01, 0x00, 0x02});
    auto reportMap = characteristic("2A4B", read, readEncryptionRequired, HIDReportMap::descriptor());
    table.controlPoint = characteristic("2A4C", writeWithoutResponse, writeEncryptionRequired);
    table.protocolMode = characteristic("2A4E", read | writeWithoutResponse, readable | writeable);
    std::vector<CharacteristicRef> hidCharacteristics{information, reportMap, table.controlPoint, table.protocolMode};
    for (ReportID id : kAllReportIDs) {
        auto input = characteristic("2A4D", read | notify, readEncryptionRequired, std::nullopt, {reportReference(id, kInputReport)});
        table.inputs[id] = input;
        hidCharacteristics.push_back(input);
    }
    table.keyboardOutput = characteristic("2A4D", read | writeWithoutResponse | write,
                                          readEncryptionRequired | writeEncryptionRequired, std::nullopt,
                                          {reportReference(ReportID::keyboard, kOutputReport)});
    hidCharacteristics.push_back(table.keyboardOutput);
    table.hid = service("00001812-0000-1000-8000-00805F9B34FB", hidCharacteristics);

    auto manufacturer = characteristic("2A29", read, readable, Bytes(manufacturerName.begin(), manufacturerName.end()));
    // Vendor ID source USB, vendor 0xFFFF, product 0x0100, version 0x0100.
    auto pnpID = characteristic("2A50", read, readable, Bytes{0x02, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x01});
    table.deviceInformation = service("0000180A-0000-1000-8000-00805F9B34FB", {manufacturer, pnpID});

    table.batteryLevel = characteristic("2A19", read | notify, readable);
    table.battery = service("0000180F-0000-1000-8000-00805F9B34FB", {table.batteryLevel});
    return table;
}

}  // namespace quintalis
