#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/serial_queue.h"
#include "base/user_error.h"
#include "imaging/captured_frame.h"

namespace quintalis {

// A video source the system lists, as discovery reports it.
struct CaptureDeviceInfo {
    std::string uniqueID;
    std::string localizedName;
    std::string modelID;  // an iPhone's contains "iOS"
    bool connected = false;
};

enum class CaptureAuthorization { notDetermined, restricted, denied, authorized };

// A running capture; frames stop arriving once it is stopped or destroyed.
class CaptureSession {
public:
    virtual ~CaptureSession() = default;
    virtual void stop() = 0;
    // True once no more frames will come, whether stopped or ended on its
    // own (the device failed mid-stream); a capture that can end on its own
    // then calls its devices' connection observers, so the owner looks again.
    virtual bool ended() const { return false; }
};

// Thrown when a device cannot be captured; the text names the device and
// says why: "cannot capture Alice's iPhone: it is no longer on the USB bus".
class CaptureStartError : public UserError {
public:
    using UserError::UserError;
};

// The system's external video devices, among them iPhone screens on USB.
class CaptureDevices {
public:
    virtual ~CaptureDevices() = default;

    // Asks the system to list screen-capture devices (iPhones) at all.
    virtual void allowScreenCaptureDevices() = 0;
    // External muxed devices, in the system's order.
    virtual std::vector<CaptureDeviceInfo> discover() = 0;
    // Called, on the posting thread, whenever a device connects or disconnects,
    // and when a capture ends without being stopped.
    virtual void addConnectionObserver(std::function<void()> observer) = 0;

    virtual CaptureAuthorization authorizationStatus() = 0;
    // When the status is not authorized, a sentence the user can act on.
    virtual std::string authorizationReason() { return {}; }
    // Asks for camera access; the answer arrives on some other thread.
    virtual void requestAccess(std::function<void(bool granted)> answer) = 0;

    // Starts capturing frames of the device; each frame is delivered on
    // `queue`, late frames dropped. A frame may hold the decoder's picture
    // and become BGRA only when read. Throws CaptureStartError.
    virtual std::unique_ptr<CaptureSession> startCapture(const CaptureDeviceInfo& device, SerialQueue& queue,
                                                         std::function<void(CapturedFrame)> onFrame) = 0;
    // Stops every running capture and refuses new ones, giving each device
    // back to its normal use, and stops following devices' comings and
    // goings; for the process's ordered stop. Blocks until the devices are
    // given back.
    virtual void stopAll() {}
};

}  // namespace quintalis
