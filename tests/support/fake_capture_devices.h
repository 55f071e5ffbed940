#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <mutex>
#include <optional>

#include "platform/capture_devices.h"

namespace quintalis::testing {

// Scripted capture devices: the test plugs and unplugs them, and pushes
// frames, which arrive on each running capture's queue as a real capture's do.
class FakeCaptureDevices final : public CaptureDevices {
public:
    void plug(CaptureDeviceInfo device) {
        {
            std::lock_guard lock(mutex_);
            devices_.push_back(std::move(device));
        }
        notify();
    }
    void unplug(const std::string& uniqueID) {
        {
            std::lock_guard lock(mutex_);
            std::erase_if(devices_, [&](const CaptureDeviceInfo& d) { return d.uniqueID == uniqueID; });
        }
        notify();
    }
    // Makes the next startCapture of this device fail.
    void failNextCapture(const std::string& uniqueID) {
        std::lock_guard lock(mutex_);
        failing_.insert(uniqueID);
    }
    // Delivers a frame to the device's running capture, if any; returns
    // once the capture's queue has taken it.
    void push(const std::string& uniqueID, CapturedFrame frame) {
        Session* session = nullptr;
        {
            std::lock_guard lock(mutex_);
            auto found = sessions_.find(uniqueID);
            if (found == sessions_.end()) return;
            session = found->second;
        }
        session->queue.sync([&] { session->onFrame(frame); });
    }
    bool capturing(const std::string& uniqueID) {
        std::lock_guard lock(mutex_);
        return sessions_.count(uniqueID) > 0;
    }
    CaptureAuthorization status = CaptureAuthorization::authorized;
    std::string reason;  // what authorizationReason() says
    std::optional<bool> grant = true;  // nothing: asking is never answered
    bool optedIn = false;

    void allowScreenCaptureDevices() override { optedIn = true; }
    std::vector<CaptureDeviceInfo> discover() override {
        std::lock_guard lock(mutex_);
        return devices_;
    }
    void addConnectionObserver(std::function<void()> observer) override {
        std::lock_guard lock(mutex_);
        observers_.push_back(std::move(observer));
    }
    CaptureAuthorization authorizationStatus() override { return status; }
    std::string authorizationReason() override { return reason; }
    void requestAccess(std::function<void(bool)> answer) override {
        if (grant) answer(*grant);
    }
    std::unique_ptr<CaptureSession> startCapture(const CaptureDeviceInfo& device, SerialQueue& queue,
                                                 std::function<void(CapturedFrame)> onFrame) override {
        std::lock_guard lock(mutex_);
        if (failing_.erase(device.uniqueID)) throw CaptureStartError("cannot capture " + device.localizedName);
        auto session = std::make_unique<Session>(*this, device.uniqueID, queue, std::move(onFrame));
        sessions_[device.uniqueID] = session.get();
        return session;
    }

private:
    struct Session final : CaptureSession {
        Session(FakeCaptureDevices& owner, std::string id, SerialQueue& queue, std::function<void(CapturedFrame)> onFrame)
            : owner(owner), id(std::move(id)), queue(queue), onFrame(std::move(onFrame)) {}
        ~Session() override { stop(); }
        void stop() override {
            std::lock_guard lock(owner.mutex_);
            auto found = owner.sessions_.find(id);
            if (found != owner.sessions_.end() && found->second == this) owner.sessions_.erase(found);
        }
        FakeCaptureDevices& owner;
        std::string id;
        SerialQueue& queue;
        std::function<void(CapturedFrame)> onFrame;
    };

    void notify() {
        std::vector<std::function<void()>> observers;
        {
            std::lock_guard lock(mutex_);
            observers = observers_;
        }
        for (auto& observer : observers) observer();
    }

    std::mutex mutex_;
    std::vector<CaptureDeviceInfo> devices_;
    std::set<std::string> failing_;
    std::map<std::string, Session*> sessions_;
    std::vector<std::function<void()>> observers_;
};

inline CaptureDeviceInfo iPhone(const std::string& id, const std::string& name) {
    return CaptureDeviceInfo{id, name, "iOS Device", true};
}

// A frame of one colour.
inline PixelBufferRef solidFrame(int width, int height, uint8_t grey) {
    auto frame = std::make_shared<PixelBuffer>(width, height);
    std::fill(frame->mutableData(), frame->mutableData() + static_cast<size_t>(frame->bytesPerRow()) * height, grey);
    return frame;
}

}  // namespace quintalis::testing
