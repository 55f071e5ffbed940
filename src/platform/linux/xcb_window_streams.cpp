#include "platform/linux/xcb_window_streams.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/shm.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

namespace quintalis {
namespace {

constexpr auto kFrameInterval = std::chrono::microseconds(16667);  // 60 frames a second

bool failed(xcb_connection_t* c, xcb_void_cookie_t cookie) {
    xcb_generic_error_t* error = xcb_request_check(c, cookie);
    std::free(error);
    return error != nullptr;
}

// What this server lacks for streaming windows, if anything.
std::optional<std::string> missingExtension(xcb_connection_t* c) {
    if (!xcb_get_extension_data(c, &xcb_composite_id)->present) return "the X server has no Composite extension";
    if (!xcb_get_extension_data(c, &xcb_damage_id)->present) return "the X server has no Damage extension";
    return std::nullopt;
}

}  // namespace

// Which windows this connection keeps redirected, and for how many streams.
struct XcbWindowStreams::Redirects {
    std::weak_ptr<XConnection> connection;
    bool hasShm = false;
    std::mutex mutex;
    std::map<xcb_window_t, int> counts;

    void add(XConnection& x, xcb_window_t window) {
        std::lock_guard lock(mutex);
        if (counts[window]++ == 0) xcb_composite_redirect_window(x.get(), window, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    }
    void remove(XConnection& x, xcb_window_t window) {
        std::lock_guard lock(mutex);
        if (--counts[window] > 0) return;
        counts.erase(window);
        xcb_composite_unredirect_window(x.get(), window, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    }
};

// Everything below `queue` is owned by the capture's queue; the event
// handler only posts to it.
class XcbWindowStreams::Stream final : public WindowStream {
public:
    Stream(std::shared_ptr<XConnection> x, std::shared_ptr<Redirects> redirects, xcb_window_t window, SerialQueue& queue,
           Callbacks callbacks)
        : state_(std::make_shared<State>(std::move(x), std::move(redirects), window, queue, std::move(callbacks))) {}
    ~Stream() override { stop(); }

    void begin();
    void stop() override;

private:
    struct State {
        State(std::shared_ptr<XConnection> x, std::shared_ptr<Redirects> r, xcb_window_t w, SerialQueue& q, Callbacks cb)
            : x(std::move(x)), redirects(std::move(r)), window(w), queue(q), callbacks(std::move(cb)) {}
        std::shared_ptr<XConnection> x;
        std::shared_ptr<Redirects> redirects;
        const xcb_window_t window;
        SerialQueue& queue;
        Callbacks callbacks;
        xcb_damage_damage_t damage = 0;
        uint8_t damageEvent = 0;
        uint64_t handler = 0;
        bool handlerAdded = false;

        bool stopped = false;
        bool pixmapStale = true;
        bool grabScheduled = false;
        bool grabbedOnce = false;  // the first grab covers everything reported before it
        xcb_pixmap_t pixmap = XCB_PIXMAP_NONE;
        int width = 0;   // of the window's inside, without its border
        int height = 0;
        int border = 0;  // the pixmap holds the border around the inside
        std::chrono::steady_clock::time_point lastGrab{};
        uint32_t lastSubtract = 0;  // the sequence number of the newest DamageSubtract
        bool useShm = false;
        xcb_shm_seg_t segment = 0;
        uint8_t* shared = nullptr;
        size_t sharedSize = 0;
    };
    using StateRef = std::shared_ptr<State>;

    [[noreturn]] static void abandon(State& s);
    static void onEvent(const StateRef& s, const xcb_generic_event_t* event);
    static void post(const StateRef& s, void (*work)(State&));
    static void grabSoon(const StateRef& s, std::optional<uint32_t> damagedAt = std::nullopt);
    static void grab(State& s);
    static void renamePixmap(State& s);
    static PixelBufferRef image(State& s);
    static PixelBufferRef imageThroughShm(State& s);
    static PixelBufferRef plainImage(State& s);
    static void detachShm(State& s);
    static void release(State& s);
    static void end(State& s, const std::string& reason);

    StateRef state_;
};

void XcbWindowStreams::Stream::begin() {
    State& s = *state_;
    xcb_connection_t* c = s.x->get();
    s.useShm = s.redirects->hasShm;
    s.damage = xcb_generate_id(c);
    s.damageEvent = xcb_get_extension_data(c, &xcb_damage_id)->first_event + XCB_DAMAGE_NOTIFY;
    std::weak_ptr<State> weak = state_;
    s.handler = s.x->addEventHandler([weak](const xcb_generic_event_t* event) {
        if (auto state = weak.lock()) onEvent(state, event);
    });
    s.handlerAdded = true;
    // Other parts of this process may watch the same window on this
    // connection: add to the events selected, never replace them.
    auto attributes = xreply(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, s.window), nullptr));
    uint32_t mask = (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    if (!attributes || failed(c, xcb_change_window_attributes_checked(c, s.window, XCB_CW_EVENT_MASK, &mask))) {
        abandon(s);
    }
    s.redirects->add(*s.x, s.window);
    // Waiting for the server here means that whatever anyone draws after
    // start returns lands in the window's own pixmap and is reported.
    if (failed(c, xcb_damage_create_checked(c, s.damage, s.window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY))) {
        s.redirects->remove(*s.x, s.window);
        xcb_flush(c);
        abandon(s);
    }
    // The first frame comes without waiting for a change.
    post(state_, [](State& st) { grab(st); });
}

void XcbWindowStreams::Stream::abandon(State& s) {
    s.x->removeEventHandler(s.handler);
    s.handlerAdded = false;
    s.stopped = true;  // no task has run yet, and there is nothing left to release
    throw WindowStreamError("window " + std::to_string(s.window) + " is gone");
}

void XcbWindowStreams::Stream::onEvent(const StateRef& s, const xcb_generic_event_t* event) {
    if (!event) {
        post(s, [](State& st) { end(st, "the X display closed"); });
        return;
    }
    const uint8_t type = event->response_type & 0x7F;
    if (type == s->damageEvent) {
        if (reinterpret_cast<const xcb_damage_notify_event_t*>(event)->damage == s->damage) {
            grabSoon(s, event->full_sequence);
        }
    } else if (type == XCB_CONFIGURE_NOTIFY) {
        const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        if (configure->window != s->window) return;
        const int width = configure->width, height = configure->height, border = configure->border_width;
        s->queue.async([s, width, height, border] {
            if (s->stopped || (width == s->width && height == s->height && border == s->border)) return;
            s->pixmapStale = true;
            grabSoon(s);
        });
    } else if (type == XCB_MAP_NOTIFY) {
        if (reinterpret_cast<const xcb_map_notify_event_t*>(event)->window != s->window) return;
        s->queue.async([s] {
            if (s->stopped) return;
            s->pixmapStale = true;
            grabSoon(s);
        });
    } else if (type == XCB_DESTROY_NOTIFY) {
        if (reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window != s->window) return;
        post(s, [](State& st) { end(st, "window closed"); });
    }
}

void XcbWindowStreams::Stream::post(const StateRef& s, void (*work)(State&)) {
    s->queue.async([s, work] {
        if (!s->stopped) work(*s);
    });
}

void XcbWindowStreams::Stream::grabSoon(const StateRef& s, std::optional<uint32_t> damagedAt) {
    s->queue.async([s, damagedAt] {
        if (s->stopped || s->grabScheduled || !s->grabbedOnce) return;
        // Damage reported before the server saw our last subtract was
        // cleared by it and is in the frame grabbed after it.
        if (damagedAt && static_cast<int32_t>(*damagedAt - s->lastSubtract) < 0) return;
        const auto now = std::chrono::steady_clock::now();
        const auto due = s->lastGrab + kFrameInterval;
        if (now >= due) {
            grab(*s);
            return;
        }
        s->grabScheduled = true;
        s->queue.asyncAfter(due - now, [s] {
            if (!s->stopped) grab(*s);
        });
    });
}

void XcbWindowStreams::Stream::grab(State& s) {
    s.grabScheduled = false;
    s.grabbedOnce = true;
    if (s.pixmapStale) renamePixmap(s);
    if (s.stopped) return;
    // Subtracting first means a change that lands during the grab is
    // reported again, so it is never lost.
    s.lastSubtract = xcb_damage_subtract(s.x->get(), s.damage, XCB_NONE, XCB_NONE).sequence;
    if (s.pixmap == XCB_PIXMAP_NONE) return;  // unmapped: nothing to show until it maps again
    PixelBufferRef frame = image(s);
    if (!frame) return;
    s.lastGrab = std::chrono::steady_clock::now();
    s.callbacks.onFrame(std::move(frame));
}

void XcbWindowStreams::Stream::renamePixmap(State& s) {
    xcb_connection_t* c = s.x->get();
    if (s.pixmap != XCB_PIXMAP_NONE) xcb_free_pixmap(c, s.pixmap);
    s.pixmap = XCB_PIXMAP_NONE;
    s.pixmapStale = false;
    // The server gives a new pixmap to a window at every map and resize;
    // naming fails while the window is unmapped.
    xcb_pixmap_t pixmap = xcb_generate_id(c);
    if (failed(c, xcb_composite_name_window_pixmap_checked(c, s.window, pixmap))) return;
    auto geometry = xreply(xcb_get_geometry_reply(c, xcb_get_geometry(c, pixmap), nullptr));
    auto inside = xreply(xcb_get_geometry_reply(c, xcb_get_geometry(c, s.window), nullptr));
    if (!geometry || !inside || (geometry->depth != 24 && geometry->depth != 32)) {
        xcb_free_pixmap(c, pixmap);
        // Only 32-bit pixels make BGRA frames; saying so beats a stream
        // that never delivers.
        if (geometry) end(s, "window " + std::to_string(s.window) + " has " + std::to_string(geometry->depth) +
                                 "-bit pixels, which cannot be captured");
        return;
    }
    s.pixmap = pixmap;
    // A frame of the border would hide the phone's picture from the crop.
    s.border = std::min<int>(inside->border_width, std::min(geometry->width, geometry->height) / 2);
    s.width = std::max(geometry->width - 2 * s.border, 1);
    s.height = std::max(geometry->height - 2 * s.border, 1);
}

PixelBufferRef XcbWindowStreams::Stream::image(State& s) {
    if (s.useShm) {
        if (auto frame = imageThroughShm(s)) return frame;
        // Not on this server after all (a remote display, or no shared
        // memory for us): plain requests from now on.
        detachShm(s);
        s.useShm = false;
    }
    return plainImage(s);
}

PixelBufferRef XcbWindowStreams::Stream::imageThroughShm(State& s) {
    xcb_connection_t* c = s.x->get();
    const size_t bytes = static_cast<size_t>(s.width) * s.height * 4;
    if (bytes > s.sharedSize) {
        detachShm(s);
        int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (id < 0) return nullptr;
        void* address = shmat(id, nullptr, 0);
        xcb_shm_seg_t segment = xcb_generate_id(c);
        const bool attached = address != reinterpret_cast<void*>(-1) && !failed(c, xcb_shm_attach_checked(c, segment, id, 0));
        // Marked for removal at once: it lives while attached, and no
        // segment outlives the process.
        shmctl(id, IPC_RMID, nullptr);
        if (!attached) {
            if (address != reinterpret_cast<void*>(-1)) shmdt(address);
            return nullptr;
        }
        s.segment = segment;
        s.shared = static_cast<uint8_t*>(address);
        s.sharedSize = bytes;
    }
    auto reply = xreply(xcb_shm_get_image_reply(
        c,
        xcb_shm_get_image(c, s.pixmap, static_cast<int16_t>(s.border), static_cast<int16_t>(s.border),
                          static_cast<uint16_t>(s.width), static_cast<uint16_t>(s.height), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, s.segment, 0),
        nullptr));
    if (!reply) return nullptr;
    return std::make_shared<PixelBuffer>(s.width, s.height, s.width * 4, std::vector<uint8_t>(s.shared, s.shared + bytes));
}

PixelBufferRef XcbWindowStreams::Stream::plainImage(State& s) {
    xcb_connection_t* c = s.x->get();
    auto reply = xreply(xcb_get_image_reply(c,
                                            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, s.pixmap,
                                                          static_cast<int16_t>(s.border),
                                                          static_cast<int16_t>(s.border),
                                                          static_cast<uint16_t>(s.width),
                                                          static_cast<uint16_t>(s.height), ~0u),
                                            nullptr));
    const size_t bytes = static_cast<size_t>(s.width) * s.height * 4;
    if (!reply || static_cast<size_t>(xcb_get_image_data_length(reply.get())) < bytes) return nullptr;
    const uint8_t* data = xcb_get_image_data(reply.get());
    return std::make_shared<PixelBuffer>(s.width, s.height, s.width * 4, std::vector<uint8_t>(data, data + bytes));
}

void XcbWindowStreams::Stream::detachShm(State& s) {
    if (!s.shared) return;
    xcb_shm_detach(s.x->get(), s.segment);
    shmdt(s.shared);
    s.shared = nullptr;
    s.sharedSize = 0;
}

void XcbWindowStreams::Stream::release(State& s) {
    if (s.stopped) return;
    s.stopped = true;
    xcb_connection_t* c = s.x->get();
    xcb_damage_destroy(c, s.damage);
    if (s.pixmap != XCB_PIXMAP_NONE) xcb_free_pixmap(c, s.pixmap);
    s.redirects->remove(*s.x, s.window);
    detachShm(s);
    xcb_flush(c);
}

void XcbWindowStreams::Stream::end(State& s, const std::string& reason) {
    release(s);
    s.callbacks.onStopped(reason);
}

void XcbWindowStreams::Stream::stop() {
    State& s = *state_;
    if (s.handlerAdded) {
        s.x->removeEventHandler(s.handler);
        s.handlerAdded = false;
    }
    s.queue.sync([&s] { release(s); });
}

std::optional<std::string> XcbWindowStreams::unavailableReason() {
    std::string error;
    auto x = display_.connection(&error);
    if (!x) return error;
    if (auto missing = missingExtension(x->get())) return *missing + ", which capturing a window needs";
    return std::nullopt;
}

std::unique_ptr<WindowStream> XcbWindowStreams::start(uint32_t window, SerialQueue& queue, Callbacks callbacks) {
    std::string error;
    auto x = display_.connection(&error);
    if (!x) throw WindowStreamError(error);
    xcb_connection_t* c = x->get();
    std::shared_ptr<Redirects> redirects;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(redirects_, [](const auto& entry) { return !entry.second || entry.second->connection.expired(); });
        auto& known = redirects_[x.get()];
        if (!known || known->connection.lock() != x) {
            if (auto missing = missingExtension(c)) throw WindowStreamError(*missing);
            // Both extensions refuse every other request until the client
            // has said which version it speaks.
            auto composite = xcb_composite_query_version(c, 0, 4);
            auto damage = xcb_damage_query_version(c, 1, 1);
            std::free(xcb_composite_query_version_reply(c, composite, nullptr));
            std::free(xcb_damage_query_version_reply(c, damage, nullptr));
            known = std::make_shared<Redirects>();
            known->connection = x;
            if (xcb_get_extension_data(c, &xcb_shm_id)->present) {
                auto shm = xreply(xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
                known->hasShm = shm != nullptr;
            }
        }
        redirects = known;
    }
    auto stream = std::make_unique<Stream>(std::move(x), std::move(redirects), window, queue, std::move(callbacks));
    stream->begin();
    return stream;
}

}  // namespace quintalis
