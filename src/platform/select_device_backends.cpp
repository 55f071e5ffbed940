#include "platform/select_device_backends.h"

#include "platform/linux/no_capture_devices.h"
#include "platform/linux/unsupported_peripheral_role.h"

namespace quintalis {

DeviceBackends& DeviceBackends::selected() {
    static UnsupportedPeripheralRole bluetooth;
    static NoCaptureDevices capture;
    static DeviceBackends backends{bluetooth, capture};
    return backends;
}

}  // namespace quintalis
