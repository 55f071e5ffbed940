#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace quintalis::bluez {

// What the user and the program decide about the BlueZ backend.
struct BluezSettings {
    // The adapters to use, by name ("hci0"); empty for every one.
    std::set<std::string> adapters;
    // Where the book of HID hosts is kept; empty keeps it in memory only.
    std::filesystem::path hostBook;
};

}  // namespace quintalis::bluez
