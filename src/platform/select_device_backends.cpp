#include "platform/select_device_backends.h"

#include "platform/linux/unsupported_peripheral_role.h"

namespace quintalis {

DeviceBackends& DeviceBackends::selected() {
    static UnsupportedPeripheralRole bluetooth;
    static DeviceBackends backends{bluetooth};
    return backends;
}

}  // namespace quintalis
