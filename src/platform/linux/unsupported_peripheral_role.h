#pragma once

#include "platform/peripheral_manager.h"

namespace quintalis {

// Linux without a radio backend: the manager reports the radio unsupported
// and refuses everything, so the engine says so in its status.
class UnsupportedPeripheralRole final : public BluetoothPeripheralRole {
public:
    BluetoothAuthorization authorization() const override { return BluetoothAuthorization::allowedAlways; }
    std::unique_ptr<PeripheralManager> makeManager(PeripheralManagerDelegate& delegate, SerialQueue& queue) override;
};

}  // namespace quintalis
