#include "platform/linux/bluez/bluez_advertisement.h"

#include "platform/linux/bluez/bluez_names.h"

namespace quintalis::bluez {

Advertisement::Advertisement(sdbus::IConnection& connection, std::string path, const AdvertisementData& data,
                             std::function<void()> onRelease)
    : path_(std::move(path)), object_(sdbus::createObject(connection, path_)) {
    std::vector<std::string> services;
    for (const auto& uuid : data.services) services.push_back(fullUUID(uuid));
    const char* interface = kAdvertisementInterface;
    object_->registerProperty("Type").onInterface(interface).withGetter([] { return std::string("peripheral"); });
    object_->registerProperty("ServiceUUIDs").onInterface(interface).withGetter([services] { return services; });
    object_->registerProperty("LocalName").onInterface(interface).withGetter([name = data.localName] { return name; });
    object_->registerProperty("Appearance").onInterface(interface).withGetter([appearance = data.appearance] { return appearance; });
    object_->registerProperty("Discoverable").onInterface(interface).withGetter([] { return true; });
    object_->registerMethod("Release").onInterface(interface).implementedAs([onRelease = std::move(onRelease)] { onRelease(); }).withNoReply();
    object_->finishRegistration();
}

}  // namespace quintalis::bluez
