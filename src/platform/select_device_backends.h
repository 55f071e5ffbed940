#pragma once

#include "platform/peripheral_manager.h"

namespace quintalis {

// The one place that decides what stands behind the phone-facing seams (the
// Bluetooth radio, and the screens): real Linux backends, or simulated
// phones. Created on first use; lives until exit.
struct DeviceBackends {
    BluetoothPeripheralRole& bluetooth;

    static DeviceBackends& selected();
};

}  // namespace quintalis
