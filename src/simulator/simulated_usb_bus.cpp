#include "simulator/simulated_usb_bus.h"

#include <algorithm>

namespace quintalis::simulator {
namespace {

class Handle final : public UsbDeviceHandle {
public:
    Handle(SimulatedUsbDevice& device, std::string address) : device_(device), address_(std::move(address)) {}

    UsbStatus activeConfiguration(int& value) override { return device_.activeConfiguration(address_, value); }
    UsbStatus setConfiguration(int value) override { return device_.setConfiguration(address_, value); }
    UsbStatus claimInterface(int number) override { return device_.claimInterface(address_, number); }
    UsbStatus releaseInterface(int number) override { return device_.releaseInterface(address_, number); }
    UsbStatus clearHalt(uint8_t endpoint) override { return device_.clearHalt(address_, endpoint); }
    UsbStatus controlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, Duration) override {
        return device_.controlOut(address_, requestType, request, value, index);
    }
    UsbStatus bulkWrite(uint8_t endpoint, const uint8_t* data, size_t size, Duration) override {
        return device_.bulkWrite(address_, endpoint, data, size);
    }
    UsbStatus bulkRead(uint8_t endpoint, uint8_t* into, size_t capacity, size_t& got, Duration timeout) override {
        return device_.bulkRead(address_, endpoint, into, capacity, got, timeout);
    }

private:
    SimulatedUsbDevice& device_;
    const std::string address_;
};

}  // namespace

void SimulatedUsbBus::stop() {
    std::vector<SimulatedUsbDevice*> devices;
    {
        std::lock_guard lock(mutex_);
        devices = devices_;
    }
    // Unlocked: a re-enumeration still queued notifies through this bus.
    for (auto* device : devices) device->stopReporting();
}

void SimulatedUsbBus::add(SimulatedUsbDevice& device, PhoneFacts facts) {
    {
        std::lock_guard lock(mutex_);
        devices_.push_back(&device);
        facts_[device.serial()] = std::move(facts);
    }
    device.setOnReenumerated([this] { notify(); });
    notify();
}

std::vector<UsbDeviceInfo> SimulatedUsbBus::devices() {
    std::vector<SimulatedUsbDevice*> devices;
    {
        std::lock_guard lock(mutex_);
        devices = devices_;
    }
    std::vector<UsbDeviceInfo> found;
    for (auto* device : devices) {
        if (auto info = device->info()) found.push_back(std::move(*info));
    }
    return found;
}

UsbStatus SimulatedUsbBus::open(const std::string& address, std::unique_ptr<UsbDeviceHandle>& handle) {
    std::vector<SimulatedUsbDevice*> devices;
    {
        std::lock_guard lock(mutex_);
        devices = devices_;
    }
    for (auto* device : devices) {
        auto info = device->info();
        if (info && info->address == address) {
            handle = std::make_unique<Handle>(*device, address);
            return UsbStatus::ok;
        }
    }
    return UsbStatus::noDevice;
}

void SimulatedUsbBus::addHotplugObserver(std::function<void()> observer) {
    std::lock_guard lock(mutex_);
    observers_.push_back(std::move(observer));
}

void SimulatedUsbBus::notify() {
    std::vector<std::function<void()>> observers;
    {
        std::lock_guard lock(mutex_);
        observers = observers_;
    }
    for (auto& observer : observers) observer();
}

std::optional<PhoneFacts> SimulatedUsbBus::facts(const std::string& udid) {
    std::string serial = udid;
    std::erase(serial, '-');
    std::lock_guard lock(mutex_);
    auto found = facts_.find(serial);
    if (found == facts_.end()) return std::nullopt;
    return found->second;
}

}  // namespace quintalis::simulator
