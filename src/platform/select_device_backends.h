#pragma once

#include "platform/capture_devices.h"
#include "platform/peripheral_manager.h"

namespace quintalis {

// The one place that decides what stands behind the phone-facing seams (the
// Bluetooth radio and the USB screens): the Linux backends, or simulated
// phones. Created on first use; lives until exit.
struct DeviceBackends {
    BluetoothPeripheralRole& bluetooth;
    CaptureDevices& capture;

    static DeviceBackends& selected();
};

}  // namespace quintalis
