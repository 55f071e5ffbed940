#include <gtest/gtest.h>

#include "bluetooth/gatt_table.h"

using namespace quintalis;

// What a host relies on beyond the layout: the report map and the reports
// are readable only over an encrypted link, and each input characteristic
// is found by its Report Reference.
TEST(HIDGATTTable, ReportsNeedEncryptionAndAreKnownByTheirReference) {
    auto table = HIDGATTTable::build("Maker");
    ASSERT_EQ(table.services().size(), 4u);
    const auto& reportMap = table.hid->characteristics.at(1);
    EXPECT_EQ(reportMap->value, HIDReportMap::descriptor());
    EXPECT_EQ(reportMap->permissions, 0x04);            // read encrypted only
    EXPECT_EQ(table.keyboardOutput->permissions, 0x0C);  // read and write encrypted
    EXPECT_EQ(table.deviceInformation->characteristics.at(0)->value, (Bytes{'M', 'a', 'k', 'e', 'r'}));
    for (ReportID id : kAllReportIDs) {
        EXPECT_EQ(table.inputs.at(id)->permissions, 0x04) << reportName(id);
        EXPECT_EQ(inputReportOf(*table.inputs.at(id)), id);
    }
    EXPECT_FALSE(inputReportOf(*table.keyboardOutput));
    EXPECT_FALSE(inputReportOf(*table.batteryLevel));
    GATTCharacteristic foreign{BluetoothUUID("2A4D"), 0, 0, std::nullopt, {{BluetoothUUID("2908"), {9, 1}}}};
    EXPECT_FALSE(inputReportOf(foreign));
}
