#include "platform/usb_bus.h"

namespace quintalis {

std::string usbStatusText(UsbStatus status) {
    switch (status) {
        case UsbStatus::ok: return "ok";
        case UsbStatus::timeout: return "timed out";
        case UsbStatus::noDevice: return "no device";
        case UsbStatus::busy: return "busy";
        case UsbStatus::access: return "access denied";
        case UsbStatus::notFound: return "not found";
        case UsbStatus::pipe: return "stalled";
        case UsbStatus::overflow: return "overflow";
        case UsbStatus::interrupted: return "interrupted";
        case UsbStatus::other: break;
    }
    return "failed";
}

}  // namespace quintalis
