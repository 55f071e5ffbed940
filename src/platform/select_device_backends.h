#pragma once

#include "platform/capture_devices.h"
#include "platform/peripheral_manager.h"
#include "platform/text_recognizer.h"

namespace quintalis {

namespace simulator {
class Simulator;
}

// The one place that decides what stands behind the seams that reach the
// phone (the Bluetooth radio, the USB screens, reading text on a screen):
// the Linux backends, or the virtual iPhones when QUINTALIS_SIMULATOR asks
// for them. Created on first use; lives until exit.
struct DeviceBackends {
    BluetoothPeripheralRole& bluetooth;
    CaptureDevices& capture;
    TextRecognizer& text;
    simulator::Simulator* simulator;  // when the virtual iPhones stand in for real ones

    static DeviceBackends& selected();
};

}  // namespace quintalis
