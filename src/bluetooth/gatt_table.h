#pragma once

#include <map>
#include <string>
#include <vector>

#include "bluetooth/report_map.h"
#include "platform/gatt.h"

namespace quintalis {

// The GATT database of the HID peripheral: Generic Attribute, Human
// Interface Device, Device Information and Battery. Built afresh on every
// power-on, so its characteristics are new identities each time.
struct HIDGATTTable {
    ServiceRef genericAttribute;
    ServiceRef hid;
    ServiceRef deviceInformation;
    ServiceRef battery;

    CharacteristicRef serviceChanged;
    CharacteristicRef controlPoint;
    CharacteristicRef protocolMode;
    CharacteristicRef keyboardOutput;
    CharacteristicRef batteryLevel;
    std::map<ReportID, CharacteristicRef> inputs;

    static HIDGATTTable build(const std::string& manufacturerName);

    // In registration order.
    std::vector<ServiceRef> services() const { return {genericAttribute, hid, deviceInformation, battery}; }
};

// The report an input Report characteristic carries, read from its Report
// Reference descriptor; nothing for any other characteristic.
std::optional<ReportID> inputReportOf(const GATTCharacteristic& characteristic);

}  // namespace quintalis
