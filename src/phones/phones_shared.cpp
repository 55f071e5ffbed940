#include "phones/devices.h"
#include "phones/screen_capture.h"
#include "platform/select_backends.h"
#include "platform/select_device_backends.h"

namespace quintalis {

ScreenCapture& ScreenCapture::shared() {
    static ScreenCapture capture(DeviceBackends::selected().capture);
    return capture;
}

Devices& Devices::shared() {
    auto& platform = PlatformBackends::selected();
    static Devices devices(ScreenCapture::shared(), HIDPeripheral::shared(), Clock::real(),
                           pairingsFileLocation(platform.host.applicationSupportDirectory(),
                                                platform.bundle.stringValue("SkifflineSupportFolder")));
    return devices;
}

}  // namespace quintalis
