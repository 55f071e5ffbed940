#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/usb_bus.h"

namespace quintalis::testing {

// A device handle that passes every call on, for stand-ins that change one
// or two of them (a refusal, a timing).
class ForwardingUsbHandle : public UsbDeviceHandle {
public:
    explicit ForwardingUsbHandle(std::unique_ptr<UsbDeviceHandle> inner) : inner_(std::move(inner)) {}
    UsbStatus activeConfiguration(int& value) override { return inner_->activeConfiguration(value); }
    UsbStatus setConfiguration(int value) override { return inner_->setConfiguration(value); }
    UsbStatus claimInterface(int number) override { return inner_->claimInterface(number); }
    UsbStatus releaseInterface(int number) override { return inner_->releaseInterface(number); }
    UsbStatus clearHalt(uint8_t endpoint) override { return inner_->clearHalt(endpoint); }
    UsbStatus controlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                         Duration timeout) override {
        return inner_->controlOut(requestType, request, value, index, timeout);
    }
    UsbStatus bulkWrite(uint8_t endpoint, const uint8_t* data, size_t size, Duration timeout) override {
        return inner_->bulkWrite(endpoint, data, size, timeout);
    }
    UsbStatus bulkRead(uint8_t endpoint, uint8_t* into, size_t capacity, size_t& got, Duration timeout) override {
        return inner_->bulkRead(endpoint, into, capacity, got, timeout);
    }

protected:
    std::unique_ptr<UsbDeviceHandle> inner_;
};

// A bus that lists and watches the real one, and hands out its handles
// wrapped by `wrap` once they have opened.
class WrappingUsbBus : public UsbBus {
public:
    explicit WrappingUsbBus(UsbBus& real) : real_(real) {}
    std::vector<UsbDeviceInfo> devices() override { return real_.devices(); }
    UsbStatus open(const std::string& address, std::unique_ptr<UsbDeviceHandle>& handle) override {
        std::unique_ptr<UsbDeviceHandle> inner;
        UsbStatus status = real_.open(address, inner);
        if (status == UsbStatus::ok) handle = wrap(address, std::move(inner));
        return status;
    }
    void addHotplugObserver(std::function<void()> observer) override { real_.addHotplugObserver(std::move(observer)); }

protected:
    virtual std::unique_ptr<UsbDeviceHandle> wrap(const std::string& address, std::unique_ptr<UsbDeviceHandle> inner) = 0;

private:
    UsbBus& real_;
};

}  // namespace quintalis::testing
