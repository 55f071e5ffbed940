#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "base/liveness.h"
#include "platform/capture_devices.h"
#include "simulator/virtual_phone.h"

namespace quintalis::simulator {

// The virtual phones as USB screen-capture devices. A phone's picture is
// rendered only when something changed, and delivered at most 60 times a
// second, plus a slow keep-alive; a locked phone delivers nothing. Frame
// work runs on the simulator's queue; start and stop may come from any thread.
class SimulatedCameras final : public CaptureDevices {
public:
    SimulatedCameras(std::vector<VirtualPhone*> phones, SerialQueue& queue);
    ~SimulatedCameras() override;

    // Called on the simulator's queue when a phone's picture changed.
    void pictureChanged(VirtualPhone& phone);

    void allowScreenCaptureDevices() override {}
    std::vector<CaptureDeviceInfo> discover() override;
    void addConnectionObserver(std::function<void()>) override {}  // the cable never moves
    CaptureAuthorization authorizationStatus() override { return CaptureAuthorization::authorized; }
    void requestAccess(std::function<void(bool)> answer) override { answer(true); }
    std::unique_ptr<CaptureSession> startCapture(const CaptureDeviceInfo& device, SerialQueue& queue,
                                                 std::function<void(CapturedFrame)> onFrame) override;

private:
    struct Sink {
        SerialQueue* queue;
        std::function<void(CapturedFrame)> onFrame;
    };
    class Session;

    void deliver(VirtualPhone& phone);
    void keepAlive();
    void stopSink(uint64_t id);

    std::vector<VirtualPhone*> phones_;
    SerialQueue& queue_;
    std::mutex mutex_;                     // guards sinks_; held while posting to them
    std::map<uint64_t, std::pair<VirtualPhone*, Sink>> sinks_;
    uint64_t nextSink_ = 0;
    Liveness alive_;
    // Owned by queue_.
    std::map<VirtualPhone*, MonotonicTime> lastDelivery_;
    std::map<VirtualPhone*, bool> deliveryScheduled_;
    bool keepAliveRunning_ = false;
};

}  // namespace quintalis::simulator
