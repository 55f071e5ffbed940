#pragma once

#include <cstdint>

namespace quintalis::usbscreen {

// How an iPhone shows itself on USB, and the vendor request that reveals
// (and hides again) its screen-capture configuration.
constexpr uint16_t kAppleVendor = 0x05AC;
constexpr uint8_t kVendorInterfaceClass = 0xFF;
constexpr uint8_t kUsbmuxSubclass = 0xFE;
constexpr uint8_t kCaptureSubclass = 0x2A;

constexpr uint8_t kVendorRequestOut = 0x40;  // host to device, vendor, device
constexpr uint8_t kRevealRequest = 0x52;
constexpr uint16_t kRevealIndex = 2;
constexpr uint16_t kHideIndex = 0;

}  // namespace quintalis::usbscreen
