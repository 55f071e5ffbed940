#include <gtest/gtest.h>

#include "bluetooth/gatt_table.h"

using namespace quintalis;

namespace {

// One characteristic as a host sees it: UUID, property bits, permission bits,
// the value the platform answers by itself, and the Report Reference.
struct Row {
    const char* uuid;
    uint8_t properties;
    uint8_t permissions;
    std::optional<Bytes> value;
    std::optional<Bytes> reference;
};

void expectRows(const ServiceRef& service, const char* uuid, const std::vector<Row>& rows) {
    EXPECT_EQ(service->uuid, BluetoothUUID(uuid));
    EXPECT_TRUE(service->primary);
    ASSERT_EQ(service->characteristics.size(), rows.size()) << uuid;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& actual = *service->characteristics[i];
        const Row& row = rows[i];
        SCOPED_TRACE(std::string(uuid) + " characteristic " + std::to_string(i));
        EXPECT_EQ(actual.uuid, BluetoothUUID(row.uuid));
        EXPECT_EQ(actual.properties, row.properties);
        EXPECT_EQ(actual.permissions, row.permissions);
        EXPECT_EQ(actual.value, row.value);
        if (row.reference) {
            ASSERT_EQ(actual.descriptors.size(), 1u);
            EXPECT_EQ(actual.descriptors[0].uuid, BluetoothUUID("2908"));
            EXPECT_EQ(actual.descriptors[0].value, *row.reference);
        } else {
            EXPECT_TRUE(actual.descriptors.empty());
        }
    }
}

}  // namespace

TEST(HIDGATTTable, EveryCharacteristic) {
    auto table = HIDGATTTable::build("Maker");
    auto services = table.services();
    ASSERT_EQ(services.size(), 4u);
    // properties: 0x02 read, 0x04 write without response, 0x08 write, 0x10 notify, 0x20 indicate
    // permissions: 0x01 readable, 0x02 writeable, 0x04 read encrypted, 0x08 write encrypted
    expectRows(services[0], "1801", {{"2A05", 0x20, 0x01, std::nullopt, std::nullopt}});  // Service Changed
    expectRows(services[1], "1812",
               {
                   {"2A4A", 0x02, 0x01, Bytes{0x11, 0x01, 0x00, 0x02}, std::nullopt},  // HID Information: 1.11, country 0, connectable
                   {"2A4B", 0x02, 0x04, HIDReportMap::descriptor(), std::nullopt},     // Report Map, read encrypted
                   {"2A4C", 0x04, 0x08, std::nullopt, std::nullopt},                   // HID Control Point
                   {"2A4E", 0x06, 0x03, std::nullopt, std::nullopt},                   // Protocol Mode
                   {"2A4D", 0x12, 0x04, std::nullopt, Bytes{1, 1}},                    // keyboard input
                   {"2A4D", 0x12, 0x04, std::nullopt, Bytes{2, 1}},                    // absolute pointer input
                   {"2A4D", 0x12, 0x04, std::nullopt, Bytes{3, 1}},                    // relative mouse input
                   {"2A4D", 0x12, 0x04, std::nullopt, Bytes{4, 1}},                    // consumer input
                   {"2A4D", 0x0E, 0x0C, std::nullopt, Bytes{1, 2}},                    // keyboard output (LEDs)
               });
    expectRows(services[2], "180A",
               {
                   {"2A29", 0x02, 0x01, Bytes{'M', 'a', 'k', 'e', 'r'}, std::nullopt},  // Manufacturer Name
                   // PnP ID: vendor ID source USB, vendor 0xFFFF, product 0x0100, version 0x0100
                   {"2A50", 0x02, 0x01, Bytes{0x02, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x01}, std::nullopt},
               });
    expectRows(services[3], "180F", {{"2A19", 0x12, 0x01, std::nullopt, std::nullopt}});  // Battery Level

    // The named members point into the services.
    EXPECT_EQ(table.serviceChanged, services[0]->characteristics[0]);
    EXPECT_EQ(table.controlPoint, services[1]->characteristics[2]);
    EXPECT_EQ(table.protocolMode, services[1]->characteristics[3]);
    EXPECT_EQ(table.keyboardOutput, services[1]->characteristics[8]);
    EXPECT_EQ(table.batteryLevel, services[3]->characteristics[0]);
    for (ReportID id : kAllReportIDs) {
        EXPECT_EQ(table.inputs.at(id), services[1]->characteristics[3 + static_cast<size_t>(id)]);
        EXPECT_EQ(inputReportOf(*table.inputs.at(id)), id);  // known by its Report Reference
    }
    EXPECT_FALSE(inputReportOf(*table.keyboardOutput));  // an output report
    EXPECT_FALSE(inputReportOf(*table.batteryLevel));
    GATTCharacteristic foreign{BluetoothUUID("2A4D"), 0, 0, std::nullopt, {{BluetoothUUID("2908"), {9, 1}}}};
    EXPECT_FALSE(inputReportOf(foreign));  // no such collection
}
