#pragma once

#include <map>
#include <mutex>

#include "platform/linux/x_connection.h"
#include "platform/window_streams.h"

namespace quintalis {

// Streams X windows with Composite, Damage and MIT-SHM: the window's inside,
// without its X border. The window is redirected off screen, so covered and
// off-screen parts still have their pixels; its pixmap is named again after
// every map and resize. A grab
// follows only a damage report, at most 60 a second, and the damage is
// subtracted before each grab so a change during it leads to one more.
// Grabs go through a shared-memory segment where the server allows it,
// else through plain GetImage. Safe from any thread.
class XcbWindowStreams final : public WindowStreams {
public:
    explicit XcbWindowStreams(XDisplayLink& display) : display_(display) {}

    std::optional<std::string> unavailableReason() override;
    std::unique_ptr<WindowStream> start(uint32_t window, SerialQueue& queue, Callbacks callbacks) override;

private:
    class Stream;
    struct Redirects;

    XDisplayLink& display_;
    std::mutex mutex_;
    // Per connection: the extension versions are negotiated once, and a
    // window shared by several streams stays redirected until the last ends.
    std::map<XConnection*, std::shared_ptr<Redirects>> redirects_;
};

}  // namespace quintalis
