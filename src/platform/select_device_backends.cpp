#include "platform/select_device_backends.h"

#include <memory>

#include "engine/app_log.h"
#include "platform/linux/bluez/bluez_peripheral_role.h"
#include "platform/linux/no_capture_devices.h"
#include "platform/linux/tesseract_recognizer.h"
#include "platform/linux/unsupported_peripheral_role.h"
#include "platform/select_backends.h"
#include "simulator/simulator.h"

namespace quintalis {
namespace {

std::unique_ptr<simulator::Simulator> makeSimulator() {
    auto wanted = PlatformBackends::selected().host.variable("QUINTALIS_SIMULATOR");
    if (!wanted || wanted->empty()) return nullptr;
    std::string error;
    auto specs = simulator::Simulator::parse(*wanted, error);
    if (!specs) {
        log("ignoring QUINTALIS_SIMULATOR=" + *wanted + ": " + error);
        return nullptr;
    }
    auto made = std::make_unique<simulator::Simulator>(*specs);
    log("simulator: " + std::to_string(made->phoneCount()) + " virtual " +
        (made->phoneCount() == 1 ? "iPhone" : "iPhones") + " running");
    return made;
}

// bluetoothd when the system bus has it (or can start it), else a radio that says it is unsupported.
BluetoothPeripheralRole& linuxBluetooth() {
    if (BluezPeripheralRole::available()) {
        static BluezPeripheralRole bluez(BluezPeripheralRole::systemBus());
        return bluez;
    }
    static UnsupportedPeripheralRole unsupported;
    return unsupported;
}

}  // namespace

// Process-wide services live until exit and are never torn down: at exit
// that would only run their pending work (a queued matching pass) for nothing.
DeviceBackends& DeviceBackends::selected() {
    static simulator::Simulator* simulated = makeSimulator().release();
    static NoCaptureDevices capture;
    static TesseractRecognizer& text = *new TesseractRecognizer();
    static DeviceBackends backends = simulated
                                         ? DeviceBackends{simulated->radio(), simulated->cameras(), text, simulated}
                                         : DeviceBackends{linuxBluetooth(), capture, text, nullptr};
    return backends;
}

}  // namespace quintalis
