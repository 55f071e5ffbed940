#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/window_server.h"
#include "platform/window_streams.h"
#include "simulator/receiver_surface.h"

namespace quintalis::simulator {

// Simulated AirPlay receiver windows for a machine without a display: the
// simulator's own window server, which lists them as an X server would list
// real ones, and its own window streams, which deliver a window's picture
// whenever it changed. Safe from any thread.
class HeadlessReceivers final : public WindowServer, public WindowStreams {
public:
    HeadlessReceivers();
    ~HeadlessReceivers() override;

    // A new window titled `title`, 600 × 1000, on screen. It lives as long as this object.
    ReceiverSurface& addWindow(const std::string& title);

    std::optional<std::string> unavailableReason() override { return std::nullopt; }
    std::vector<WindowDescription> windows() override;
    std::vector<WindowDescription> onScreenWindows() override { return windows(); }
    std::unique_ptr<WindowStream> start(uint32_t window, SerialQueue& queue, Callbacks callbacks) override;

private:
    class Window;
    class Stream;
    struct Sink {
        SerialQueue* queue;
        std::function<void(PixelBufferRef)> onFrame;
        std::shared_ptr<std::atomic<bool>> active;  // false once stopped
    };

    void publish(uint32_t window, PixelBufferRef picture);
    void stopSink(uint64_t id);

    const std::string owner_;  // this process's name
    std::mutex mutex_;         // guards everything below, and is held while posting to sinks
    std::vector<std::unique_ptr<Window>> windows_;
    std::map<uint32_t, PixelBufferRef> pictures_;
    std::map<uint64_t, std::pair<uint32_t, Sink>> sinks_;
    uint64_t nextSink_ = 0;
};

}  // namespace quintalis::simulator
