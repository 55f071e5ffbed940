#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"

namespace quintalis {

// The USB bus as the screen capture needs it: descriptors, a handle's control
// and bulk transfers, and hot-plug. Shaped after libusb so that its Linux
// backend only translates; the virtual iPhones implement the device side.

struct UsbEndpoint {
    uint8_t address = 0;     // bit 7 set: IN
    uint8_t attributes = 0;  // 2: bulk
    uint16_t maxPacketSize = 0;
    bool isBulkIn() const { return (attributes & 3) == 2 && (address & 0x80); }
    bool isBulkOut() const { return (attributes & 3) == 2 && !(address & 0x80); }
};

struct UsbInterface {
    uint8_t number = 0;
    uint8_t alternate = 0;
    uint8_t interfaceClass = 0, subclass = 0, protocol = 0;
    std::vector<UsbEndpoint> endpoints;
};

struct UsbConfiguration {
    uint8_t value = 0;  // bConfigurationValue
    std::vector<UsbInterface> interfaces;
};

struct UsbDeviceInfo {
    std::string address;  // where it sits on the bus now ("1-4"); changes when it re-enumerates
    uint16_t vendor = 0, product = 0;
    std::string serial;   // empty when the descriptor could not be read
    std::vector<UsbConfiguration> configurations;
};

enum class UsbStatus { ok, timeout, noDevice, busy, access, notFound, pipe, overflow, interrupted, other };

// A libusb-like word for a status, for log lines ("busy", "no device").
std::string usbStatusText(UsbStatus status);

// One opened device. Not thread-safe except that one thread may read the IN
// endpoint while another writes the OUT endpoint, as libusb allows.
class UsbDeviceHandle {
public:
    virtual ~UsbDeviceHandle() = default;
    virtual UsbStatus activeConfiguration(int& value) = 0;  // 0: unconfigured
    virtual UsbStatus setConfiguration(int value) = 0;
    virtual UsbStatus claimInterface(int number) = 0;
    virtual UsbStatus releaseInterface(int number) = 0;
    virtual UsbStatus clearHalt(uint8_t endpoint) = 0;
    // A vendor or class request without a data stage.
    virtual UsbStatus controlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, Duration timeout) = 0;
    virtual UsbStatus bulkWrite(uint8_t endpoint, const uint8_t* data, size_t size, Duration timeout) = 0;
    // Reads what one transfer brings, at most `capacity` bytes; `got` may be 0.
    virtual UsbStatus bulkRead(uint8_t endpoint, uint8_t* into, size_t capacity, size_t& got, Duration timeout) = 0;
};

class UsbBus {
public:
    virtual ~UsbBus() = default;
    // The devices on the bus now, read afresh (a re-enumerated device shows
    // its new configurations).
    virtual std::vector<UsbDeviceInfo> devices() = 0;
    virtual UsbStatus open(const std::string& address, std::unique_ptr<UsbDeviceHandle>& handle) = 0;
    // Called on some thread of the bus whenever a device arrives or leaves.
    virtual void addHotplugObserver(std::function<void()> observer) = 0;
    // For the process's ordered stop: no more arrivals and departures are
    // reported, and the threads that watched for them end. Listing and
    // opening devices still work. Blocks; not from an observer.
    virtual void stop() {}
};

// What the phone's own services (lockdown over usbmuxd) say about it.
struct PhoneFacts {
    std::string name;         // "DeviceName"
    std::string productType;  // "ProductType", such as "iPhone15,2"
};

class PhoneLockdown {
public:
    virtual ~PhoneLockdown() = default;
    // Nothing when usbmuxd does not run or the phone does not trust this computer.
    virtual std::optional<PhoneFacts> facts(const std::string& udid) = 0;
    virtual bool usbmuxdRunning() = 0;
    // Whether usbmuxd has this phone over USB, and so holds its usbmux
    // interface. Without a way to ask, a running usbmuxd is taken to.
    virtual bool usbmuxdHas(const std::string& udid) {
        (void)udid;
        return usbmuxdRunning();
    }
};

}  // namespace quintalis
