#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "base/uuid.h"

namespace quintalis::bluez {

// The devices that have used this program's GATT application: only they
// are HID hosts, whatever else connects to the adapter (headsets, mice, a
// phone that never paired). bluetoothd restores a bonded phone's
// subscriptions by itself when it reconnects, without a single call to us,
// so the book is kept in a file and survives restarts.
//
// Each entry keeps the host id the device was first known by, so a phone
// whose address changes at pairing (from its private address to its
// identity address) stays the same host, in this run and in stored
// pairings.
//
// Plain data, owned by whoever feeds it (the Bluetooth queue).
class HostBook {
public:
    // An empty path keeps the book in memory only.
    explicit HostBook(std::filesystem::path file);

    bool knows(const std::string& address) const;
    // The host id of an address: the one remembered, else the one derived from it.
    UUID host(const std::string& address) const;
    // The device used the application; true when it was new to the book.
    bool remember(const std::string& address);
    // The device now goes by another address.
    void moved(const std::string& from, const std::string& to);
    void forget(const std::string& address);

private:
    void save() const;

    std::filesystem::path file_;
    std::map<std::string, UUID> hosts_;  // by lower-case address
};

}  // namespace quintalis::bluez
