#include "simulator/headless_receivers.h"

#include <unistd.h>

#include "base/process_name.h"
#include "base/serial_queue.h"
#include "simulator/receiver_picture.h"

namespace quintalis::simulator {
namespace {

constexpr uint32_t kFirstWindow = 0x00A10001;  // out of the way of any real window number

// Named as the X server's window list names a real receiver's owner.
std::string ownProcessName() { return processName("/proc/self").value_or(""); }

}  // namespace

// One window: composes the receiver's picture on its own queue and hands it
// to the streams of that window.
class HeadlessReceivers::Window final : public ReceiverSurface {
public:
    Window(HeadlessReceivers& owner, uint32_t number, std::string title)
        : owner_(owner), number_(number), title_(std::move(title)) {}
    uint32_t number() const { return number_; }
    const std::string& title() const { return title_; }
    void stop() override { queue_.stop(); }

    void show(PixelBufferRef phonePicture) override {
        queue_.async([this, picture = std::move(phonePicture)] {
            if (picture == phone_) return;  // the same picture again: nothing changed
            phone_ = picture;
            owner_.publish(number_, std::make_shared<PixelBuffer>(receiverPicture(phone_.get(), kReceiverWidth,
                                                                                  kReceiverHeight)));
        });
    }

private:
    HeadlessReceivers& owner_;
    const uint32_t number_;
    const std::string title_;
    SerialQueue queue_{"quintalis.simulator.airplay"};
    PixelBufferRef phone_;  // owned by queue_
};

class HeadlessReceivers::Stream final : public WindowStream {
public:
    Stream(HeadlessReceivers& owner, uint64_t id, SerialQueue& queue) : owner_(owner), id_(id), queue_(queue) {}
    ~Stream() override { stop(); }
    void stop() override {
        owner_.stopSink(id_);
        // Frames already on their way are dropped by the sink's flag; waiting
        // for the queue once means none is still being delivered.
        queue_.sync([] {});
    }

private:
    HeadlessReceivers& owner_;
    const uint64_t id_;
    SerialQueue& queue_;
};

HeadlessReceivers::HeadlessReceivers() : owner_(ownProcessName()) {}

HeadlessReceivers::~HeadlessReceivers() {
    // The windows post to this object from their queues: gone first.
    std::vector<std::unique_ptr<Window>> windows;
    {
        std::lock_guard lock(mutex_);
        windows.swap(windows_);
    }
    windows.clear();
}

ReceiverSurface& HeadlessReceivers::addWindow(const std::string& title) {
    std::lock_guard lock(mutex_);
    const auto number = kFirstWindow + static_cast<uint32_t>(windows_.size());
    windows_.push_back(std::make_unique<Window>(*this, number, title));
    pictures_[number] = std::make_shared<PixelBuffer>(receiverPicture(nullptr, kReceiverWidth, kReceiverHeight));
    return *windows_.back();
}

std::vector<WindowDescription> HeadlessReceivers::windows() {
    std::lock_guard lock(mutex_);
    std::vector<WindowDescription> list;
    for (const auto& window : windows_) {
        const double offset = 40.0 * static_cast<double>(window->number() - kFirstWindow);
        list.push_back(WindowDescription{window->number(), owner_, "quintalis-airplay-receiver", getpid(), window->title(),
                                         40 + offset, 40 + offset, kReceiverWidth, kReceiverHeight, 0, true});
    }
    return list;
}

std::unique_ptr<WindowStream> HeadlessReceivers::start(uint32_t window, SerialQueue& queue, Callbacks callbacks) {
    std::lock_guard lock(mutex_);
    auto picture = pictures_.find(window);
    if (picture == pictures_.end()) throw WindowStreamError("window " + std::to_string(window) + " is gone");
    const uint64_t id = nextSink_++;
    Sink sink{&queue, std::move(callbacks.onFrame), std::make_shared<std::atomic<bool>>(true)};
    queue.async([onFrame = sink.onFrame, active = sink.active, frame = picture->second] {
        if (*active) onFrame(frame);
    });
    sinks_[id] = {window, std::move(sink)};
    return std::make_unique<Stream>(*this, id, queue);
}

void HeadlessReceivers::publish(uint32_t window, PixelBufferRef picture) {
    std::lock_guard lock(mutex_);
    pictures_[window] = picture;
    for (auto& [id, entry] : sinks_) {
        if (entry.first != window) continue;
        entry.second.queue->async([onFrame = entry.second.onFrame, active = entry.second.active, picture] {
            if (*active) onFrame(picture);
        });
    }
}

void HeadlessReceivers::stopSink(uint64_t id) {
    std::lock_guard lock(mutex_);
    auto found = sinks_.find(id);
    if (found == sinks_.end()) return;
    *found->second.second.active = false;
    sinks_.erase(found);
}

}  // namespace quintalis::simulator
