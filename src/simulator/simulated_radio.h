#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "base/liveness.h"
#include "platform/peripheral_manager.h"
#include "simulator/simulated_cameras.h"
#include "simulator/virtual_phone.h"

namespace quintalis::simulator {

// The computer's Bluetooth radio with the virtual phones around it. The
// manager powers on, takes the services and advertises; then every phone
// whose Bluetooth is on connects and subscribes to the four input reports,
// as an iPhone does. Notifications wait in a bounded transmit queue that
// drains a few per connection interval, so a burst fills it for real and
// the ready callback follows when there is room.
class SimulatedRadio final : public BluetoothPeripheralRole {
public:
    static constexpr size_t kQueueCapacity = 16;
    static constexpr size_t kPerInterval = 4;
    static constexpr auto kInterval = std::chrono::milliseconds(15);

    SimulatedRadio(std::vector<VirtualPhone*> phones, SerialQueue& simulatorQueue, SimulatedCameras& cameras);
    ~SimulatedRadio() override;

    BluetoothAuthorization authorization() const override { return BluetoothAuthorization::allowedAlways; }
    std::unique_ptr<PeripheralManager> makeManager(PeripheralManagerDelegate& delegate, SerialQueue& queue) override;

    // How often a full transmit queue has refused an update.
    size_t refusedUpdates() const { return refused_.load(); }

private:
    class Manager;
    friend class Manager;

    std::vector<VirtualPhone*> phones_;
    SerialQueue& simulatorQueue_;
    SimulatedCameras& cameras_;
    std::atomic<size_t> refused_{0};
    Liveness alive_;
};

}  // namespace quintalis::simulator
