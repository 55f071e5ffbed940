#include "platform/linux/bluez/bluez_agent.h"

#include "base/log.h"
#include "platform/linux/bluez/bluez_names.h"

namespace quintalis::bluez {

Agent::Agent(sdbus::IConnection& connection, std::string path, Decide decide)
    : path_(std::move(path)), object_(sdbus::createObject(connection, path_)) {
    const char* interface = kAgentInterface;
    auto ask = [decide = std::move(decide)](sdbus::Result<>&& result, const sdbus::ObjectPath& device) {
        auto reply = std::make_shared<sdbus::Result<>>(std::move(result));
        decide(device, [reply, address = addressOfDevicePath(device)](const std::optional<std::string>& refusal) {
            if (refusal) {
                log("refusing to pair with " + address + ": " + *refusal);
                reply->returnError(sdbus::Error(kRejected, *refusal));
            } else {
                log("accepting pairing with " + address);
                reply->returnResults();
            }
        });
    };
    object_->registerMethod("RequestAuthorization").onInterface(interface).implementedAs(
        [ask](sdbus::Result<>&& result, const sdbus::ObjectPath& device) { ask(std::move(result), device); });
    object_->registerMethod("RequestConfirmation").onInterface(interface).implementedAs(
        [ask](sdbus::Result<>&& result, const sdbus::ObjectPath& device, uint32_t) { ask(std::move(result), device); });
    object_->registerMethod("AuthorizeService").onInterface(interface).implementedAs(
        [](const sdbus::ObjectPath& device, const std::string& uuid) {
            log("refusing service " + uuid + " to " + addressOfDevicePath(device) + ": not a service of this program");
            throw sdbus::Error(kRejected, "not a service of this program");
        });
    object_->registerMethod("RequestPinCode").onInterface(interface).implementedAs([](const sdbus::ObjectPath&) -> std::string {
        throw sdbus::Error(kRejected, "no keys to type a PIN with");
    });
    object_->registerMethod("RequestPasskey").onInterface(interface).implementedAs([](const sdbus::ObjectPath&) -> uint32_t {
        throw sdbus::Error(kRejected, "no keys to type a passkey with");
    });
    object_->registerMethod("DisplayPinCode").onInterface(interface).implementedAs([](const sdbus::ObjectPath&, const std::string&) {
        throw sdbus::Error(kRejected, "no display to show a PIN on");
    });
    object_->registerMethod("DisplayPasskey").onInterface(interface).implementedAs([](const sdbus::ObjectPath&, uint32_t, uint16_t) {});
    object_->registerMethod("Cancel").onInterface(interface).implementedAs([] { log("pairing cancelled"); });
    object_->registerMethod("Release").onInterface(interface).implementedAs([] { log("pairing agent released by bluetoothd"); });
    object_->finishRegistration();
}

}  // namespace quintalis::bluez
