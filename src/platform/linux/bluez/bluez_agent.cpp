#include "platform/linux/bluez/bluez_agent.h"

#include "base/log.h"
#include "platform/linux/bluez/bluez_names.h"

namespace quintalis::bluez {

Agent::Agent(sdbus::IConnection& connection, std::string path, std::function<void(const std::string& device)> onAccepted)
    : path_(std::move(path)), object_(sdbus::createObject(connection, path_)) {
    const char* interface = kAgentInterface;
    auto accept = [onAccepted](const sdbus::ObjectPath& device) {
        log("accepting pairing with " + addressOfDevicePath(device));
        onAccepted(device);
    };
    object_->registerMethod("RequestAuthorization").onInterface(interface).implementedAs(
        [accept](const sdbus::ObjectPath& device) { accept(device); });
    object_->registerMethod("RequestConfirmation").onInterface(interface).implementedAs(
        [accept](const sdbus::ObjectPath& device, uint32_t) { accept(device); });
    object_->registerMethod("AuthorizeService").onInterface(interface).implementedAs(
        [accept](const sdbus::ObjectPath& device, const std::string&) { accept(device); });
    object_->registerMethod("RequestPinCode").onInterface(interface).implementedAs([](const sdbus::ObjectPath&) -> std::string {
        throw sdbus::Error(kRejected, "no keys to type a PIN with");
    });
    object_->registerMethod("RequestPasskey").onInterface(interface).implementedAs([](const sdbus::ObjectPath&) -> uint32_t {
        throw sdbus::Error(kRejected, "no keys to type a passkey with");
    });
    object_->registerMethod("DisplayPinCode").onInterface(interface).implementedAs([](const sdbus::ObjectPath&, const std::string&) {});
    object_->registerMethod("DisplayPasskey").onInterface(interface).implementedAs([](const sdbus::ObjectPath&, uint32_t, uint16_t) {});
    object_->registerMethod("Cancel").onInterface(interface).implementedAs([] { log("pairing cancelled"); });
    object_->registerMethod("Release").onInterface(interface).implementedAs([] { log("pairing agent released by bluetoothd"); });
    object_->finishRegistration();
}

}  // namespace quintalis::bluez
