#include "bluetooth/hid_peripheral.h"
#include "platform/select_backends.h"
#include "platform/select_device_backends.h"

namespace quintalis {

HIDPeripheral& HIDPeripheral::shared() {
    static HIDPeripheral peripheral(DeviceBackends::selected().bluetooth, bluetoothName(PlatformBackends::selected().bundle));
    return peripheral;
}

}  // namespace quintalis
