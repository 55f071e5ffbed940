#include "simulator/simulated_cameras.h"

namespace quintalis::simulator {
namespace {

constexpr auto kFrameInterval = std::chrono::microseconds(16667);  // 60 frames a second
constexpr auto kKeepAlive = std::chrono::seconds(2);

}  // namespace

class SimulatedCameras::Session final : public CaptureSession {
public:
    Session(SimulatedCameras& owner, uint64_t id, Liveness::Watch watch) : owner_(owner), id_(id), ownerWatch_(watch) {}
    ~Session() override { stop(); }
    void stop() override {
        if (ownerWatch_.alive()) owner_.stopSink(id_);
    }

private:
    SimulatedCameras& owner_;
    uint64_t id_;
    Liveness::Watch ownerWatch_;
};

SimulatedCameras::SimulatedCameras(std::vector<VirtualPhone*> phones, SerialQueue& queue)
    : phones_(std::move(phones)), queue_(queue) {}

SimulatedCameras::~SimulatedCameras() {
    {
        std::lock_guard lock(mutex_);
        sinks_.clear();
    }
    alive_.end();
}

std::vector<CaptureDeviceInfo> SimulatedCameras::discover() {
    std::vector<CaptureDeviceInfo> devices;
    for (const auto* phone : phones_) {
        // A phone shown over AirPlay is not on the cable; its receiver still
        // takes its picture through startCapture.
        if (!phone->setup().airplay) devices.push_back({phone->screenID(), phone->name(), "iOS Device", true});
    }
    return devices;
}

std::unique_ptr<CaptureSession> SimulatedCameras::startCapture(const CaptureDeviceInfo& device, SerialQueue& queue,
                                                               std::function<void(CapturedFrame)> onFrame) {
    VirtualPhone* phone = nullptr;
    for (auto* candidate : phones_) {
        if (candidate->screenID() == device.uniqueID) phone = candidate;
    }
    if (!phone) throw CaptureStartError("cannot capture " + device.localizedName);
    uint64_t id;
    {
        std::lock_guard lock(mutex_);
        id = nextSink_++;
        sinks_[id] = {phone, Sink{&queue, std::move(onFrame)}};
    }
    auto watch = alive_.watch();
    queue_.async([this, watch, phone] {
        if (!watch.alive()) return;
        deliver(*phone);
        if (!keepAliveRunning_) {
            keepAliveRunning_ = true;
            queue_.asyncAfter(kKeepAlive, [this, watch] {
                if (watch.alive()) keepAlive();
            });
        }
    });
    return std::make_unique<Session>(*this, id, alive_.watch());
}

void SimulatedCameras::stopSink(uint64_t id) {
    std::lock_guard lock(mutex_);
    sinks_.erase(id);
}

void SimulatedCameras::pictureChanged(VirtualPhone& phone) {
    if (deliveryScheduled_[&phone]) return;
    auto now = std::chrono::steady_clock::now();
    auto due = lastDelivery_[&phone] + kFrameInterval;
    if (now >= due) {
        deliver(phone);
        return;
    }
    deliveryScheduled_[&phone] = true;
    auto watch = alive_.watch();
    queue_.asyncAfter(due - now, [this, watch, &phone] {
        if (!watch.alive()) return;
        deliveryScheduled_[&phone] = false;
        deliver(phone);
    });
}

void SimulatedCameras::deliver(VirtualPhone& phone) {
    if (phone.setup().locked) return;
    lastDelivery_[&phone] = std::chrono::steady_clock::now();
    PixelBufferRef frame;
    std::lock_guard lock(mutex_);
    for (auto& [id, entry] : sinks_) {
        if (entry.first != &phone) continue;
        if (!frame) frame = phone.frame();
        entry.second.queue->async([onFrame = entry.second.onFrame, frame] { onFrame(frame); });
    }
}

void SimulatedCameras::keepAlive() {
    for (auto* phone : phones_) deliver(*phone);
    auto watch = alive_.watch();
    queue_.asyncAfter(kKeepAlive, [this, watch] {
        if (watch.alive()) keepAlive();
    });
}

}  // namespace quintalis::simulator
