#include "simulator/simulated_usb_device.h"

#include "base/log.h"
#include "platform/usb/usb_ids.h"

namespace quintalis::simulator {
namespace {

constexpr uint8_t kCaptureInterface = 2;

UsbInterface stillImage(uint8_t number) { return {number, 0, 0x06, 0x01, 0x01, {{0x81, 2, 512}, {0x02, 2, 512}, {0x83, 3, 64}}}; }
UsbInterface usbmux(uint8_t number) { return {number, 0, 0xFF, 0xFE, 0x02, {{0x04, 2, 512}, {0x85, 2, 512}}}; }

}  // namespace

using namespace usbscreen;

SimulatedUsbDevice::SimulatedUsbDevice(std::string serial, PictureFeed pictures)
    : serial_(std::move(serial)),
      queue_("quintalis.usb-cable." + serial_),
      screen_(serial_, std::move(pictures), faults, [this](const std::string& event) { noteEvent(event); }) {}

SimulatedUsbDevice::~SimulatedUsbDevice() {
    alive_.end();
    queue_.sync([] {});
}

std::optional<UsbDeviceInfo> SimulatedUsbDevice::info() {
    std::lock_guard lock(mutex_);
    if (!plugged_) return std::nullopt;
    UsbDeviceInfo info;
    info.address = addressLocked();
    info.vendor = kVendor;
    info.product = kProduct;
    info.serial = serial_;
    // Before the reveal: four configurations, usbmux in the last two.
    info.configurations = {{1, {stillImage(0)}}, {2, {stillImage(0)}}, {3, {stillImage(0), usbmux(1)}}, {4, {stillImage(0), usbmux(1)}}};
    if (revealed_) {
        UsbInterface capture{kCaptureInterface, 0, 0xFF, 0x2A, 0xFF, {{kInEndpoint, 2, 512}, {kOutEndpoint, 2, 512}}};
        info.configurations.push_back({kCaptureConfiguration, {stillImage(0), usbmux(1), capture}});
    }
    return info;
}

void SimulatedUsbDevice::setOnReenumerated(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    onReenumerated_ = std::move(callback);
}

std::string SimulatedUsbDevice::addressLocked() const { return "sim-" + serial_.substr(serial_.size() - 4) + "." + std::to_string(generation_); }

bool SimulatedUsbDevice::staleLocked(const std::string& address) const { return !plugged_ || address != addressLocked(); }

void SimulatedUsbDevice::reenumerateLocked(bool revealed) {
    revealed_ = revealed;
    ++generation_;
    configuration_ = 1;  // what the kernel picks for a device it enumerates
    claimed_ = false;
    screen_.close();
    auto watch = alive_.watch();
    queue_.async([this, watch] {
        if (!watch.alive()) return;
        std::function<void()> callback;
        {
            std::lock_guard lock(mutex_);
            callback = onReenumerated_;
        }
        if (callback) callback();
    });
}

UsbStatus SimulatedUsbDevice::activeConfiguration(const std::string& address, int& value) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    value = configuration_;
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::setConfiguration(const std::string& address, int value) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (claimed_) return UsbStatus::busy;
    if (value < 1 || value > (revealed_ ? kCaptureConfiguration : kUsbmuxConfiguration)) return UsbStatus::notFound;
    noteEvent("set configuration " + std::to_string(value));
    configuration_ = value;
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::claimInterface(const std::string& address, int number) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (number != kCaptureInterface || configuration_ != kCaptureConfiguration) return UsbStatus::notFound;
    if (claimed_) return UsbStatus::busy;
    claimed_ = true;
    noteEvent("claim");
    screen_.open();
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::releaseInterface(const std::string& address, int number) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (number != kCaptureInterface || !claimed_) return UsbStatus::notFound;
    claimed_ = false;
    noteEvent("release");
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::clearHalt(const std::string& address, uint8_t endpoint) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (!claimed_ || (endpoint != kInEndpoint && endpoint != kOutEndpoint)) return UsbStatus::notFound;
    noteEvent("clear halt " + std::to_string(endpoint));
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::controlOut(const std::string& address, uint8_t requestType, uint8_t request, uint16_t value,
                                         uint16_t index) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (requestType != kVendorRequestOut || request != kRevealRequest || value != 0 || (index != kRevealIndex && index != kHideIndex)) {
        return UsbStatus::pipe;  // a request the phone does not know stalls
    }
    if (index == kRevealIndex) {
        noteEvent("reveal");
        if (!revealed_) reenumerateLocked(true);
        // The phone may leave the bus before the status stage completes.
        return faults.failRevealStatus ? UsbStatus::pipe : UsbStatus::ok;
    }
    noteEvent("hide");
    if (!faults.keepsCaptureConfiguration) revealed_ = false;
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::bulkWrite(const std::string& address, uint8_t endpoint, const uint8_t* data, size_t size) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (endpoint != kOutEndpoint || !claimed_) return UsbStatus::pipe;
    screen_.receive(data, size);
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::bulkRead(const std::string& address, uint8_t endpoint, uint8_t* into, size_t capacity,
                                       size_t& got, Duration timeout) {
    got = 0;
    {
        std::lock_guard lock(mutex_);
        if (staleLocked(address)) return UsbStatus::noDevice;
        if (endpoint != kInEndpoint || !claimed_) return UsbStatus::pipe;
    }
    // Unlocked while it waits, so the host may write (a NEED, a reply) meanwhile.
    auto result = screen_.read(into, capacity, got, timeout);
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) {
        got = 0;
        return UsbStatus::noDevice;
    }
    return result == PhoneScreenSide::ReadResult::data ? UsbStatus::ok : UsbStatus::timeout;
}

void SimulatedUsbDevice::noteEvent(const std::string& event) {
    std::lock_guard lock(eventsMutex_);
    events_.push_back(event);
}

void SimulatedUsbDevice::unplug() {
    std::lock_guard lock(mutex_);
    if (!plugged_) return;
    plugged_ = false;
    reenumerateLocked(false);
}

void SimulatedUsbDevice::plug() {
    std::lock_guard lock(mutex_);
    if (plugged_) return;
    plugged_ = true;
    reenumerateLocked(false);
}

std::vector<std::string> SimulatedUsbDevice::events() {
    std::lock_guard lock(eventsMutex_);
    return events_;
}

}  // namespace quintalis::simulator
