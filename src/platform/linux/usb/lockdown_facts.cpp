#include "platform/linux/usb/lockdown_facts.h"

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace quintalis {
namespace {

constexpr char kUsbmuxdSocket[] = "/var/run/usbmuxd";

std::string stringValue(lockdownd_client_t client, const char* key) {
    plist_t value = nullptr;
    std::string text;
    if (lockdownd_get_value(client, nullptr, key, &value) == LOCKDOWN_E_SUCCESS && value) {
        char* raw = nullptr;
        plist_get_string_val(value, &raw);
        if (raw) text = raw;
        std::free(raw);
        plist_free(value);
    }
    return text;
}

}  // namespace

std::optional<PhoneFacts> LockdownFacts::facts(const std::string& udid) {
    if (!usbmuxdRunning()) return std::nullopt;
    idevice_t device = nullptr;
    if (idevice_new_with_options(&device, udid.c_str(), IDEVICE_LOOKUP_USBMUX) != IDEVICE_E_SUCCESS) return std::nullopt;
    lockdownd_client_t client = nullptr;
    std::optional<PhoneFacts> facts;
    // The handshake fails until the phone trusts this computer.
    if (lockdownd_client_new_with_handshake(device, &client, "quintalis") == LOCKDOWN_E_SUCCESS) {
        facts = PhoneFacts{stringValue(client, "DeviceName"), stringValue(client, "ProductType")};
        lockdownd_client_free(client);
    }
    idevice_free(device);
    return facts;
}

bool LockdownFacts::usbmuxdHas(const std::string& udid) {
    if (!usbmuxdRunning()) return false;
    idevice_info_t* devices = nullptr;
    int count = 0;
    if (idevice_get_device_list_extended(&devices, &count) != IDEVICE_E_SUCCESS) return false;
    bool found = false;
    for (int i = 0; i < count; ++i) {
        if (devices[i]->conn_type == CONNECTION_USBMUXD && devices[i]->udid && udid == devices[i]->udid) found = true;
    }
    idevice_device_list_extended_free(devices);
    return found;
}

bool LockdownFacts::usbmuxdRunning() {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, kUsbmuxdSocket, sizeof address.sun_path - 1);
    bool listening = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return listening;
}

}  // namespace quintalis
