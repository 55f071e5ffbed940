#include "platform/linux/bluez/gatt_application.h"

#include <cstdio>

namespace quintalis::bluez {
namespace {

std::string indexed(const char* kind, size_t index) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%02zu", kind, index);
    return text;
}

}  // namespace

std::vector<std::string> characteristicFlags(const GATTCharacteristic& characteristic) {
    const uint8_t properties = characteristic.properties;
    const bool readEncrypted = characteristic.permissions & gatt::readEncryptionRequired;
    const bool writeEncrypted = characteristic.permissions & gatt::writeEncryptionRequired;
    std::vector<std::string> flags;
    if (properties & gatt::read) flags.push_back(readEncrypted ? "encrypt-read" : "read");
    if (properties & gatt::writeWithoutResponse) flags.push_back("write-without-response");
    // bluetoothd has no encrypted write-without-response; "encrypt-write"
    // adds the write property too, which is the price of keeping the
    // encryption the permissions ask for.
    if ((properties & gatt::write) || ((properties & gatt::writeWithoutResponse) && writeEncrypted)) {
        flags.push_back(writeEncrypted ? "encrypt-write" : "write");
    }
    // A value that needs encryption to read needs it to subscribe as well,
    // or an unpaired device could enable notifications of input reports.
    if (properties & gatt::notify) flags.push_back(readEncrypted ? "encrypt-notify" : "notify");
    if (properties & gatt::indicate) flags.push_back(readEncrypted ? "encrypt-indicate" : "indicate");
    return flags;
}

AttOptions attOptions(const std::map<std::string, sdbus::Variant>& options) {
    AttOptions parsed;
    if (auto device = options.find("device"); device != options.end() && device->second.containsValueOfType<sdbus::ObjectPath>()) {
        parsed.device = device->second.get<sdbus::ObjectPath>();
    }
    if (auto offset = options.find("offset"); offset != options.end() && offset->second.containsValueOfType<uint16_t>()) {
        parsed.offset = offset->second.get<uint16_t>();
    }
    if (auto mtu = options.find("mtu"); mtu != options.end() && mtu->second.containsValueOfType<uint16_t>()) {
        parsed.mtu = mtu->second.get<uint16_t>();
    }
    return parsed;
}

void answerRead(const sdbus::Result<std::vector<uint8_t>>& reply, const std::vector<uint8_t>& value, size_t offset) {
    if (auto rest = sliceFrom(value, offset)) {
        reply.returnResults(*rest);
    } else {
        reply.returnError(sdbus::Error(kInvalidOffset, "offset beyond the value"));
    }
}

GATTApplication::GATTApplication(sdbus::IConnection& connection, std::string rootPath,
                                 const std::vector<ServiceRef>& services, Handlers handlers)
    : connection_(connection), rootPath_(std::move(rootPath)), handlers_(std::move(handlers)) {
    auto root = sdbus::createObject(connection_, rootPath_);
    root->addObjectManager();
    objects_.push_back(std::move(root));
    // bluetoothd stores the attributes in the order it is given the objects,
    // and its discovery answers walk them in that order, whatever their
    // handles. sd-bus lists a node's children newest first, so the objects
    // are made last to first, for bluetoothd to get them in the table's order.
    std::vector<std::function<void()>> inTableOrder;
    for (size_t i = 0; i < services.size(); ++i) {
        const GATTService& service = *services[i];
        std::string path = rootPath_ + "/" + indexed("service", i);
        inTableOrder.push_back([this, &service, path, handle = take()] { addService(service, path, handle); });
        for (size_t j = 0; j < service.characteristics.size(); ++j) {
            const CharacteristicRef& characteristic = service.characteristics[j];
            std::string characteristicPath = path + "/" + indexed("char", j);
            // The declaration comes first; the characteristic's handle is its value's.
            auto value = static_cast<uint16_t>(take(2) + 1);
            // bluetoothd puts the configuration descriptor right after the value.
            if (characteristic->properties & (gatt::notify | gatt::indicate)) take();
            inTableOrder.push_back([this, &characteristic, characteristicPath, path, value] {
                addCharacteristic(characteristic, characteristicPath, path, value);
            });
            for (size_t k = 0; k < characteristic->descriptors.size(); ++k) {
                inTableOrder.push_back([this, &descriptor = characteristic->descriptors[k],
                                        descriptorPath = characteristicPath + "/" + indexed("desc", k), characteristicPath,
                                        handle = take()] { addDescriptor(descriptor, descriptorPath, characteristicPath, handle); });
            }
        }
    }
    for (auto make = inTableOrder.rbegin(); make != inTableOrder.rend(); ++make) (*make)();
}

uint16_t GATTApplication::take(uint16_t count) {
    uint16_t first = nextHandle_;
    nextHandle_ = static_cast<uint16_t>(nextHandle_ + count);
    return first;
}

namespace {

// bluetoothd writes a handle back when it chose one itself; ours are fixed,
// so a write back is accepted and changes nothing.
void registerHandle(sdbus::IObject& object, const char* interface, uint16_t handle) {
    object.registerProperty("Handle").onInterface(interface).withGetter([handle] { return handle; }).withSetter([](uint16_t) {});
}

}  // namespace

void GATTApplication::addService(const GATTService& service, const std::string& path, uint16_t handle) {
    auto object = sdbus::createObject(connection_, path);
    registerHandle(*object, kServiceInterface, handle);
    object->registerProperty("UUID").onInterface(kServiceInterface).withGetter([uuid = fullUUID(service.uuid)] { return uuid; });
    object->registerProperty("Primary").onInterface(kServiceInterface).withGetter([primary = service.primary] { return primary; });
    object->finishRegistration();
    objects_.push_back(std::move(object));
}

void GATTApplication::addCharacteristic(const CharacteristicRef& characteristic, const std::string& path,
                                        const std::string& service, uint16_t handle) {
    auto object = sdbus::createObject(connection_, path);
    const char* interface = kCharacteristicInterface;
    object->registerProperty("UUID").onInterface(interface).withGetter([uuid = fullUUID(characteristic->uuid)] { return uuid; });
    object->registerProperty("Service").onInterface(interface).withGetter([service] { return sdbus::ObjectPath(service); });
    object->registerProperty("Flags").onInterface(interface).withGetter([flags = characteristicFlags(*characteristic)] { return flags; });
    registerHandle(*object, interface, handle);

    if (characteristic->properties & gatt::read) {
        object->registerMethod("ReadValue").onInterface(interface).implementedAs(
            [this, characteristic](sdbus::Result<std::vector<uint8_t>>&& result, const std::map<std::string, sdbus::Variant>& options) {
                auto parsed = attOptions(options);
                handlers_.used(parsed);
                if (characteristic->value) return answerRead(result, *characteristic->value, parsed.offset);
                handlers_.read(characteristic, parsed, std::make_shared<sdbus::Result<std::vector<uint8_t>>>(std::move(result)));
            });
    }
    if (characteristic->properties & (gatt::write | gatt::writeWithoutResponse)) {
        object->registerMethod("WriteValue").onInterface(interface).implementedAs(
            [this, characteristic](sdbus::Result<>&& result, const std::vector<uint8_t>& value,
                                   const std::map<std::string, sdbus::Variant>& options) {
                auto parsed = attOptions(options);
                handlers_.used(parsed);
                handlers_.write(characteristic, value, parsed, std::make_shared<sdbus::Result<>>(std::move(result)));
            });
    }
    if (characteristic->properties & gatt::notify) {
        // The presence of NotifyAcquired is what makes bluetoothd hand out a
        // socket (AcquireNotify) instead of calling StartNotify.
        auto acquired = std::make_shared<std::atomic<bool>>(false);
        object->registerProperty("NotifyAcquired").onInterface(interface).withGetter([acquired] { return acquired->load(); });
        object->registerMethod("AcquireNotify").onInterface(interface).implementedAs(
            [this, characteristic](sdbus::Result<sdbus::UnixFd, uint16_t>&& result,
                                   const std::map<std::string, sdbus::Variant>& options) {
                auto parsed = attOptions(options);
                handlers_.used(parsed);
                handlers_.acquireNotify(characteristic, parsed,
                                        std::make_shared<sdbus::Result<sdbus::UnixFd, uint16_t>>(std::move(result)));
            });
        for (const char* method : {"StartNotify", "StopNotify"}) {
            object->registerMethod(method).onInterface(interface).implementedAs([] {
                throw sdbus::Error(kNotSupported, "notifications go through AcquireNotify");
            });
        }
        notifiable_[characteristic] = Notifiable{object.get(), acquired};
    }
    object->finishRegistration();
    objects_.push_back(std::move(object));
}

void GATTApplication::addDescriptor(const GATTDescriptor& descriptor, const std::string& path,
                                    const std::string& characteristic, uint16_t handle) {
    auto object = sdbus::createObject(connection_, path);
    const char* interface = kDescriptorInterface;
    object->registerProperty("UUID").onInterface(interface).withGetter([uuid = fullUUID(descriptor.uuid)] { return uuid; });
    object->registerProperty("Characteristic").onInterface(interface).withGetter([characteristic] {
        return sdbus::ObjectPath(characteristic);
    });
    object->registerProperty("Flags").onInterface(interface).withGetter([] { return std::vector<std::string>{"read"}; });
    registerHandle(*object, interface, handle);
    object->registerMethod("ReadValue").onInterface(interface).implementedAs(
        [this, value = descriptor.value](sdbus::Result<std::vector<uint8_t>>&& result,
                                         const std::map<std::string, sdbus::Variant>& options) {
            auto parsed = attOptions(options);
            handlers_.used(parsed);
            answerRead(result, value, parsed.offset);
        });
    object->finishRegistration();
    objects_.push_back(std::move(object));
}

void GATTApplication::setNotifyAcquired(const CharacteristicRef& characteristic, bool acquired) {
    auto found = notifiable_.find(characteristic);
    if (found == notifiable_.end() || found->second.acquired->exchange(acquired) == acquired) return;
    found->second.object->emitPropertiesChangedSignal(kCharacteristicInterface, {"NotifyAcquired"});
}

}  // namespace quintalis::bluez
