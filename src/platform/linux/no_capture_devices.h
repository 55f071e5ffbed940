#pragma once

#include "platform/capture_devices.h"

namespace quintalis {

// Linux without a USB screen backend: no device is ever listed.
class NoCaptureDevices final : public CaptureDevices {
public:
    void allowScreenCaptureDevices() override {}
    std::vector<CaptureDeviceInfo> discover() override { return {}; }
    void addConnectionObserver(std::function<void()>) override {}
    CaptureAuthorization authorizationStatus() override { return CaptureAuthorization::authorized; }
    void requestAccess(std::function<void(bool)> answer) override { answer(true); }
    std::unique_ptr<CaptureSession> startCapture(const CaptureDeviceInfo& device, SerialQueue&,
                                                 std::function<void(CapturedFrame)>) override {
        throw CaptureStartError("cannot capture " + device.localizedName);
    }
};

}  // namespace quintalis
