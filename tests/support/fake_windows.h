#pragma once

#include <cmath>
#include <condition_variable>
#include <mutex>

#include "platform/window_server.h"
#include "platform/window_streams.h"

namespace quintalis::testing {

// A window picture as a receiver shows it: a flat grey band on top, then a
// phone picture of 1179 × 2556 shape on black.
inline PixelBufferRef receiverFrame(int w = 600, int h = 1000, uint8_t shade = 180) {
    auto frame = std::make_shared<PixelBuffer>(w, h);
    const int band = 28, phoneH = h - band, phoneW = static_cast<int>(std::lround(phoneH * 0.4612676056338028));
    const int left = (w - phoneW) / 2;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = frame->mutableRow(y);
        for (int x = 0; x < w; ++x) {
            uint8_t v = y < band ? 60 : (x >= left && x < left + phoneW) ? shade : 0;
            row[x * 4] = row[x * 4 + 1] = row[x * 4 + 2] = v;
            row[x * 4 + 3] = 255;
        }
    }
    return frame;
}

// The receiver's window as the window server lists it.
inline WindowDescription receiverWindow(uint32_t number = 77, double width = 600, double height = 1000) {
    WindowDescription w;
    w.number = number;
    w.owner = "uxplay";
    w.title = "UxPlay@desk";
    w.width = width;
    w.height = height;
    w.onScreen = true;
    return w;
}

// A window server whose list the test sets, and which can be made to hang
// until released. Thread-safe; it outlives listings that are still running,
// such as one a caller gave up waiting for.
class FakeWindowServer final : public WindowServer {
public:
    ~FakeWindowServer() override {
        std::unique_lock lock(mutex_);
        hanging_ = false;
        released_.notify_all();
        released_.wait(lock, [&] { return listing_ == 0; });
    }

    void setWindows(std::vector<WindowDescription> windows) {
        std::lock_guard lock(mutex_);
        windows_ = std::move(windows);
    }
    void setUnavailable(std::optional<std::string> reason) {
        std::lock_guard lock(mutex_);
        unavailable_ = std::move(reason);
    }
    void hang() {
        std::lock_guard lock(mutex_);
        hanging_ = true;
    }
    void release() {
        std::lock_guard lock(mutex_);
        hanging_ = false;
        released_.notify_all();
    }

    std::optional<std::string> unavailableReason() override {
        std::lock_guard lock(mutex_);
        return unavailable_;
    }
    std::vector<WindowDescription> windows() override {
        std::unique_lock lock(mutex_);
        ++listing_;
        released_.wait(lock, [&] { return !hanging_; });
        --listing_;
        released_.notify_all();
        return windows_;
    }
    std::vector<WindowDescription> onScreenWindows() override {
        auto all = windows();
        std::erase_if(all, [](const WindowDescription& w) { return !w.onScreen; });
        return all;
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    std::vector<WindowDescription> windows_;
    std::optional<std::string> unavailable_;
    bool hanging_ = false;
    int listing_ = 0;  // calls inside windows()
};

// Window streams that deliver exactly the frames the test hands them, on the
// capture's queue, and return once they were handled.
class FakeWindowStreams final : public WindowStreams {
public:
    class Stream final : public WindowStream {
    public:
        explicit Stream(FakeWindowStreams& owner) : owner_(owner) {}
        ~Stream() override { stop(); }
        void stop() override {
            std::lock_guard lock(owner_.mutex_);
            owner_.running_ = false;
        }

    private:
        FakeWindowStreams& owner_;
    };

    std::unique_ptr<WindowStream> start(uint32_t window, SerialQueue& queue, Callbacks callbacks) override {
        std::lock_guard lock(mutex_);
        if (refusal_) throw WindowStreamError(*refusal_);
        started_ = window;
        queue_ = &queue;
        callbacks_ = std::move(callbacks);
        running_ = true;
        return std::make_unique<Stream>(*this);
    }

    void refuse(std::string reason) {
        std::lock_guard lock(mutex_);
        refusal_ = std::move(reason);
    }
    void deliver(PixelBufferRef frame) {
        run([&] { callbacks_.onFrame(frame); });
    }
    void end(const std::string& reason) {
        run([&] { callbacks_.onStopped(reason); });
    }
    std::optional<uint32_t> started() const {
        std::lock_guard lock(mutex_);
        return started_;
    }
    bool running() {
        std::lock_guard lock(mutex_);
        return running_;
    }

private:
    void run(const std::function<void()>& work) {
        SerialQueue* queue;
        {
            std::lock_guard lock(mutex_);
            if (!running_) return;
            queue = queue_;
        }
        queue->sync(work);
    }

    mutable std::mutex mutex_;
    std::optional<std::string> refusal_;
    std::optional<uint32_t> started_;
    SerialQueue* queue_ = nullptr;
    Callbacks callbacks_;
    bool running_ = false;
};

}  // namespace quintalis::testing
