#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace quintalis {

// One connection to an X server, with one thread ("quintalis.x-events") that
// reads its events and hands each to every registered handler. Requests may
// be sent from any thread (libxcb is thread-safe). Handlers run on the event
// thread, one at a time; they must not add or remove handlers, and should
// only look at the event and post work elsewhere.
class XConnection {
public:
    // Connects to `display` (":0", or $DISPLAY when empty). Nothing, with the
    // reason in `error`, when there is no server to connect to.
    static std::shared_ptr<XConnection> open(const std::string& display, std::string* error = nullptr);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    xcb_connection_t* get() const { return connection_; }
    const xcb_screen_t& screen() const { return *screen_; }
    xcb_window_t root() const { return screen_->root; }
    // The server closed the connection or it failed; nothing works any more.
    bool broken() const { return xcb_connection_has_error(connection_) != 0; }

    // The atom of that name, asked of the server once.
    xcb_atom_t atom(const std::string& name);

    // Called with each event, and with nullptr once when the connection ends.
    using EventHandler = std::function<void(const xcb_generic_event_t*)>;
    uint64_t addEventHandler(EventHandler handler);
    // Once this returns the handler is not running and never runs again.
    void removeEventHandler(uint64_t id);

private:
    XConnection(xcb_connection_t* connection, const xcb_screen_t* screen);
    void readEvents();

    xcb_connection_t* connection_;
    const xcb_screen_t* screen_;
    xcb_window_t wakeWindow_;  // receives the one event that ends the event thread
    std::mutex atomsMutex_;
    std::map<std::string, xcb_atom_t> atoms_;
    std::mutex handlersMutex_;  // held while a handler runs
    std::map<uint64_t, EventHandler> handlers_;
    uint64_t nextHandler_ = 0;
    bool ended_ = false;  // guarded by handlersMutex_
    std::thread events_;
};

// How this process reaches its X display: the connection is made on first
// use and made again after the server went away. Safe from any thread.
class XDisplayLink {
public:
    // `display` empty: $DISPLAY, read at each attempt.
    explicit XDisplayLink(std::string display = "") : display_(std::move(display)) {}

    // The live connection; nothing, with the reason in `error`, when the
    // display cannot be reached.
    std::shared_ptr<XConnection> connection(std::string* error = nullptr);

private:
    std::string display_;
    std::mutex mutex_;
    std::shared_ptr<XConnection> connection_;
};

// An xcb reply owned by a unique_ptr (replies are malloc'ed).
template <typename T>
using XReply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T>
XReply<T> xreply(T* reply) {
    return XReply<T>(reply, &std::free);
}

}  // namespace quintalis
