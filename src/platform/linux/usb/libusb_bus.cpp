#include "platform/linux/usb/libusb_bus.h"

#include <libusb.h>

#include <fstream>
#include <thread>

#include "base/thread_name.h"
#include "platform/usb/usb_ids.h"

namespace quintalis {
namespace {

constexpr auto kLookInterval = std::chrono::seconds(2);
constexpr int kEventSliceMs = 250;

int millis(Duration duration) { return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(duration).count()); }

// "1-4.2", the device's place as sysfs names it.
std::string portPath(libusb_device* device) {
    uint8_t ports[8];
    int count = libusb_get_port_numbers(device, ports, sizeof ports);
    std::string path = std::to_string(libusb_get_bus_number(device)) + "-";
    for (int i = 0; i < count; ++i) path += (i ? "." : "") + std::to_string(ports[i]);
    return path;
}

// Where it sits now: its place and the address the bus gave it, which a
// re-enumeration changes.
std::string addressOf(libusb_device* device) { return portPath(device) + "@" + std::to_string(libusb_get_device_address(device)); }

// The serial from sysfs, readable without opening the device (so a user
// without permission still sees which phone is there).
std::string serialOf(libusb_device* device, const libusb_device_descriptor& descriptor) {
    std::ifstream file("/sys/bus/usb/devices/" + portPath(device) + "/serial");
    std::string serial;
    if (file && std::getline(file, serial)) return serial;
    libusb_device_handle* handle = nullptr;
    if (descriptor.iSerialNumber == 0 || libusb_open(device, &handle) != 0) return {};
    unsigned char text[256];
    int length = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text, sizeof text);
    libusb_close(handle);
    return length > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<size_t>(length)) : std::string();
}

// Whether the device has left the bus: sysfs no longer has it at its place
// with its address. A transfer cut short by an unplug can fail with a plain
// I/O error before the kernel has noticed the departure, so the answer is
// awaited for a moment.
bool leftTheBus(libusb_device* device) {
    const std::string devnum = "/sys/bus/usb/devices/" + portPath(device) + "/devnum";
    const std::string address = std::to_string(libusb_get_device_address(device));
    for (int look = 0; look < 20; ++look) {
        std::ifstream file(devnum);
        std::string now;
        if (!file || !std::getline(file, now) || now != address) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::vector<UsbConfiguration> configurationsOf(libusb_device* device, int count) {
    std::vector<UsbConfiguration> configurations;
    for (int index = 0; index < count; ++index) {
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_config_descriptor(device, static_cast<uint8_t>(index), &config) != 0) continue;
        UsbConfiguration configuration{config->bConfigurationValue, {}};
        for (int i = 0; i < config->bNumInterfaces; ++i) {
            const libusb_interface& interface = config->interface[i];
            for (int a = 0; a < interface.num_altsetting; ++a) {
                const libusb_interface_descriptor& setting = interface.altsetting[a];
                UsbInterface described{setting.bInterfaceNumber, setting.bAlternateSetting, setting.bInterfaceClass,
                                       setting.bInterfaceSubClass, setting.bInterfaceProtocol, {}};
                for (int e = 0; e < setting.bNumEndpoints; ++e) {
                    const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
                    described.endpoints.push_back({endpoint.bEndpointAddress, endpoint.bmAttributes, endpoint.wMaxPacketSize});
                }
                configuration.interfaces.push_back(std::move(described));
            }
        }
        libusb_free_config_descriptor(config);
        configurations.push_back(std::move(configuration));
    }
    return configurations;
}

// A handle with the context it was opened in.
class LibusbHandle final : public UsbDeviceHandle {
public:
    LibusbHandle(libusb_context* context, libusb_device_handle* handle) : context_(context), handle_(handle) {}
    ~LibusbHandle() override {
        libusb_close(handle_);
        libusb_exit(context_);
    }

    UsbStatus activeConfiguration(int& value) override { return usbStatusOfLibusb(libusb_get_configuration(handle_, &value)); }
    UsbStatus setConfiguration(int value) override { return usbStatusOfLibusb(libusb_set_configuration(handle_, value)); }
    UsbStatus claimInterface(int number) override { return usbStatusOfLibusb(libusb_claim_interface(handle_, number)); }
    UsbStatus releaseInterface(int number) override { return usbStatusOfLibusb(libusb_release_interface(handle_, number)); }
    UsbStatus clearHalt(uint8_t endpoint) override { return usbStatusOfLibusb(libusb_clear_halt(handle_, endpoint)); }
    UsbStatus controlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, Duration timeout) override {
        int result = libusb_control_transfer(handle_, requestType, request, value, index, nullptr, 0, static_cast<unsigned>(millis(timeout)));
        return result < 0 ? usbStatusOfLibusb(result) : UsbStatus::ok;
    }
    UsbStatus bulkWrite(uint8_t endpoint, const uint8_t* data, size_t size, Duration timeout) override {
        int sent = 0;
        int result = libusb_bulk_transfer(handle_, endpoint, const_cast<uint8_t*>(data), static_cast<int>(size), &sent,
                                          static_cast<unsigned>(millis(timeout)));
        if (result == 0 && static_cast<size_t>(sent) != size) return UsbStatus::timeout;
        return transferStatus(result);
    }
    UsbStatus bulkRead(uint8_t endpoint, uint8_t* into, size_t capacity, size_t& got, Duration timeout) override {
        int received = 0;
        int result = libusb_bulk_transfer(handle_, endpoint, into, static_cast<int>(capacity), &received,
                                          static_cast<unsigned>(std::max(1, millis(timeout))));
        // A time-out may still have brought part of a transfer.
        got = static_cast<size_t>(std::max(0, received));
        if (result == LIBUSB_ERROR_TIMEOUT && got > 0) return UsbStatus::ok;
        return transferStatus(result);
    }

private:
    UsbStatus transferStatus(int result) {
        if (result == LIBUSB_ERROR_IO && leftTheBus(libusb_get_device(handle_))) return UsbStatus::noDevice;
        return usbStatusOfLibusb(result);
    }

    libusb_context* context_;
    libusb_device_handle* handle_;
};

int onHotplug(libusb_context*, libusb_device*, libusb_hotplug_event, void* bus) {
    static_cast<LibusbBus*>(bus)->notify();
    return 0;
}

}  // namespace

UsbStatus usbStatusOfLibusb(int code) {
    switch (code) {
        case LIBUSB_SUCCESS: return UsbStatus::ok;
        case LIBUSB_ERROR_TIMEOUT: return UsbStatus::timeout;
        case LIBUSB_ERROR_NO_DEVICE: return UsbStatus::noDevice;
        case LIBUSB_ERROR_BUSY: return UsbStatus::busy;
        case LIBUSB_ERROR_ACCESS: return UsbStatus::access;
        case LIBUSB_ERROR_NOT_FOUND: return UsbStatus::notFound;
        case LIBUSB_ERROR_PIPE: return UsbStatus::pipe;
        case LIBUSB_ERROR_OVERFLOW: return UsbStatus::overflow;
        case LIBUSB_ERROR_INTERRUPTED: return UsbStatus::interrupted;
        default: return code > 0 ? UsbStatus::ok : UsbStatus::other;
    }
}

LibusbBus::LibusbBus() {
    if (libusb_init(&events_) != 0) events_ = nullptr;
    if (events_ && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        libusb_hotplug_register_callback(events_, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                                         LIBUSB_HOTPLUG_NO_FLAGS, usbscreen::kAppleVendor, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                                         onHotplug, this, nullptr);
    }
    thread_ = std::thread([this] { watch(); });
}

LibusbBus::~LibusbBus() {
    stop();
    if (events_) libusb_exit(events_);
}

void LibusbBus::stop() {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

std::vector<UsbDeviceInfo> LibusbBus::devices() {
    std::vector<UsbDeviceInfo> found;
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return found;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0) continue;
        UsbDeviceInfo info;
        info.address = addressOf(list[i]);
        info.vendor = descriptor.idVendor;
        info.product = descriptor.idProduct;
        if (info.vendor == usbscreen::kAppleVendor) {
            info.serial = serialOf(list[i], descriptor);
            info.configurations = configurationsOf(list[i], descriptor.bNumConfigurations);
        }
        found.push_back(std::move(info));
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    libusb_exit(context);
    return found;
}

UsbStatus LibusbBus::open(const std::string& address, std::unique_ptr<UsbDeviceHandle>& handle) {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return UsbStatus::other;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    UsbStatus status = UsbStatus::noDevice;
    libusb_device_handle* opened = nullptr;
    for (ssize_t i = 0; i < count; ++i) {
        if (addressOf(list[i]) != address) continue;
        status = usbStatusOfLibusb(libusb_open(list[i], &opened));
        break;
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    if (status != UsbStatus::ok) {
        libusb_exit(context);
        return status;
    }
    handle = std::make_unique<LibusbHandle>(context, opened);
    return UsbStatus::ok;
}

void LibusbBus::addHotplugObserver(std::function<void()> observer) {
    std::lock_guard lock(mutex_);
    observers_.push_back(std::move(observer));
}

void LibusbBus::notify() {
    std::vector<std::function<void()>> observers;
    {
        std::lock_guard lock(mutex_);
        observers = observers_;
    }
    for (auto& observer : observers) observer();
}

void LibusbBus::watch() {
    nameCurrentThread("quintalis.usb-events");
    auto nextLook = std::chrono::steady_clock::now();
    while (!stopping_) {
        if (events_) {
            timeval slice{0, kEventSliceMs * 1000};
            libusb_handle_events_timeout_completed(events_, &slice, nullptr);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(kEventSliceMs));
        }
        if (std::chrono::steady_clock::now() < nextLook) continue;
        nextLook = std::chrono::steady_clock::now() + kLookInterval;
        // Without udev no hot-plug event comes; a change seen here says the same.
        std::set<std::string> now;
        for (const auto& device : devices()) {
            if (device.vendor == usbscreen::kAppleVendor) now.insert(device.address);
        }
        if (now != seen_) {
            seen_ = std::move(now);
            notify();
        }
    }
}

}  // namespace quintalis
