#include "platform/linux/x_connection.h"

#include <cstdlib>
#include <cstring>

#include "base/thread_name.h"

namespace quintalis {

std::shared_ptr<XConnection> XConnection::open(const std::string& display, std::string* error) {
    const char* name = display.empty() ? std::getenv("DISPLAY") : display.c_str();
    if (!name || !*name) {
        if (error) *error = "DISPLAY is not set";
        return nullptr;
    }
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(name, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        if (error) *error = std::string("cannot open display ") + name;
        return nullptr;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(connection);
        if (error) *error = std::string("display ") + name + " has no screen " + std::to_string(screenNumber);
        return nullptr;
    }
    return std::shared_ptr<XConnection>(new XConnection(connection, screens.data));
}

XConnection::XConnection(xcb_connection_t* connection, const xcb_screen_t* screen)
    : connection_(connection), screen_(screen), wakeWindow_(xcb_generate_id(connection)) {
    xcb_create_window(connection_, 0, wakeWindow_, root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_flush(connection_);
    events_ = std::thread([this] {
        nameCurrentThread("quintalis.x-events");
        readEvents();
    });
}

XConnection::~XConnection() {
    // The event thread sleeps inside xcb_wait_for_event; an event of our own
    // is the one way to wake it that works on every server.
    xcb_client_message_event_t wake{};
    wake.response_type = XCB_CLIENT_MESSAGE;
    wake.format = 32;
    wake.window = wakeWindow_;
    wake.type = XCB_ATOM_NONE;
    {
        std::lock_guard lock(handlersMutex_);
        ended_ = true;
    }
    xcb_send_event(connection_, 0, wakeWindow_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&wake));
    xcb_destroy_window(connection_, wakeWindow_);
    xcb_flush(connection_);
    events_.join();
    xcb_disconnect(connection_);
}

void XConnection::readEvents() {
    while (true) {
        xcb_generic_event_t* event = xcb_wait_for_event(connection_);
        std::lock_guard lock(handlersMutex_);
        if (!event || ended_) {
            if (!ended_) {
                for (auto& [id, handler] : handlers_) handler(nullptr);
            }
            ended_ = true;
            std::free(event);
            return;
        }
        for (auto& [id, handler] : handlers_) handler(event);
        std::free(event);
    }
}

xcb_atom_t XConnection::atom(const std::string& name) {
    {
        std::lock_guard lock(atomsMutex_);
        auto found = atoms_.find(name);
        if (found != atoms_.end()) return found->second;
    }
    auto reply = xreply(xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr));
    if (!reply) return XCB_ATOM_NONE;
    std::lock_guard lock(atomsMutex_);
    atoms_[name] = reply->atom;
    return reply->atom;
}

uint64_t XConnection::addEventHandler(EventHandler handler) {
    std::lock_guard lock(handlersMutex_);
    uint64_t id = nextHandler_++;
    handlers_[id] = std::move(handler);
    return id;
}

void XConnection::removeEventHandler(uint64_t id) {
    std::lock_guard lock(handlersMutex_);
    handlers_.erase(id);
}

std::shared_ptr<XConnection> XDisplayLink::connection(std::string* error) {
    std::lock_guard lock(mutex_);
    if (connection_ && connection_->broken()) connection_.reset();
    if (!connection_) connection_ = XConnection::open(display_, error);
    return connection_;
}

}  // namespace quintalis
