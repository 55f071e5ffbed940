#include "platform/linux/unsupported_peripheral_role.h"

namespace quintalis {
namespace {

class UnsupportedManager final : public PeripheralManager {
public:
    ManagerState state() const override { return ManagerState::unsupported; }
    std::string unusableReason() const override { return "no system bus, so no bluetoothd"; }
    void addService(const ServiceRef&) override {}
    void removeAllServices() override {}
    void startAdvertising(const std::string&, const std::vector<BluetoothUUID>&) override {}
    bool isAdvertising() const override { return false; }
    bool updateValue(const std::vector<uint8_t>&, const CharacteristicRef&, const std::vector<UUID>&) override {
        return true;  // nothing will ever be sent, so nothing should wait for room
    }
    void respond(const ReadRequest&, AttResult, const std::vector<uint8_t>&) override {}
    void respond(const WriteRequest&, AttResult) override {}
    void setPairingWindow(Duration) override {}
};

}  // namespace

std::unique_ptr<PeripheralManager> UnsupportedPeripheralRole::makeManager(PeripheralManagerDelegate& delegate,
                                                                          SerialQueue& queue) {
    queue.async([&delegate] { delegate.didUpdateState(); });
    return std::make_unique<UnsupportedManager>();
}

}  // namespace quintalis
