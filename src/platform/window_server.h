#pragma once

#include <cstdint>
#include <string>

namespace quintalis {

// One window as the window server lists it (front to back, hidden and
// off-screen ones included); positions in global display points, top-left
// origin. The window listing itself comes with window capture.
struct WindowDescription {
    uint32_t number = 0;
    std::string owner;
    std::string bundle;  // the owning application's identifier, "" when unknown
    int32_t pid = 0;
    std::string title;
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    int layer = 0;
    bool onScreen = false;
};

}  // namespace quintalis
