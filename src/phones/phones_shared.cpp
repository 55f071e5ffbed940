#include "phones/devices.h"
#include "phones/screen_capture.h"
#include "platform/select_backends.h"
#include "platform/select_device_backends.h"

namespace quintalis {

// Process-wide services live until exit and are never torn down: at exit
// that would only run their pending work (a queued matching pass) for nothing.
ScreenCapture& ScreenCapture::shared() {
    static ScreenCapture& capture = *new ScreenCapture(DeviceBackends::selected().capture);
    return capture;
}

Devices& Devices::shared() {
    auto& platform = PlatformBackends::selected();
    static Devices& devices = *new Devices(ScreenCapture::shared(), HIDPeripheral::shared(), Clock::real(),
                           pairingsFileLocation(platform.host.applicationSupportDirectory(),
                                                platform.bundle.stringValue("SkifflineSupportFolder")));
    return devices;
}

}  // namespace quintalis
