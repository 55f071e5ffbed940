#pragma once

namespace quintalis {

// The desktop's own settings windows, for what the user must switch on
// outside this app.
class SystemSettings {
public:
    virtual ~SystemSettings() = default;

    // Opens the desktop's Bluetooth settings. False when this desktop has
    // none that could be opened.
    virtual bool openBluetooth() = 0;
};

}  // namespace quintalis
