#include "bluetooth/hid_peripheral.h"
#include "platform/select_backends.h"
#include "platform/select_device_backends.h"

namespace quintalis {

// Process-wide services live until exit and are never torn down: at exit
// that would only run their pending work (a queued matching pass) for nothing.
HIDPeripheral& HIDPeripheral::shared() {
    static HIDPeripheral& peripheral = *new HIDPeripheral(DeviceBackends::selected().bluetooth, bluetoothName(PlatformBackends::selected().bundle));
    return peripheral;
}

}  // namespace quintalis
