#pragma once

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/linux/x_connection.h"
#include "platform/linux/x_keyboard_map.h"

namespace quintalis::testing {

// A window that records the input the X server sends it, as an application
// receives it: pointer events with positions, keys with the keysym the
// keyboard mapping gave them at the moment they were read (the mapping is
// read again at each MappingNotify, as clients do). It covers the top-left
// corner of the screen and holds the keyboard focus.
class InputRecorder {
public:
    struct Event {
        enum class Kind { motion, buttonPress, buttonRelease, keyPress, keyRelease } kind;
        int x = 0;
        int y = 0;
        uint16_t state = 0;  // modifiers and buttons held
        uint8_t keycode = 0;
        uint32_t keysym = 0;
    };

    explicit InputRecorder(const std::string& display, int width = 640, int height = 480)
        : x_(XConnection::open(display)) {
        if (!x_) throw std::runtime_error("cannot open " + display);
        window_ = xcb_generate_id(x_->get());
        mark_ = x_->atom("QUINTALIS_TEST_MARK");
        const uint32_t values[] = {1, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                          XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_KEY_PRESS |
                                          XCB_EVENT_MASK_KEY_RELEASE};
        xcb_create_window(x_->get(), XCB_COPY_FROM_PARENT, window_, x_->root(), 0, 0, static_cast<uint16_t>(width),
                          static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, x_->screen().root_visual,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(x_->get(), window_);
        xcb_set_input_focus(x_->get(), XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
        keyboard_ = *XKeyboardMap::fetch(x_->get());
        handler_ = x_->addEventHandler([this](const xcb_generic_event_t* event) { record(event); });
        sync(x_->get());
    }
    ~InputRecorder() {
        x_->removeEventHandler(handler_);
        xcb_destroy_window(x_->get(), window_);
        sync(x_->get());
    }

    // Returns once every event the server made before the call, on `other`'s
    // requests too, has been recorded.
    void catchUp() { catchUp(x_->get()); }
    void catchUp(xcb_connection_t* other) {
        sync(other);
        std::unique_lock lock(mutex_);
        const uint32_t wanted = ++marksSent_;
        xcb_client_message_event_t mark{};
        mark.response_type = XCB_CLIENT_MESSAGE;
        mark.format = 32;
        mark.window = window_;
        mark.type = mark_;
        mark.data.data32[0] = wanted;
        xcb_send_event(x_->get(), 0, window_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&mark));
        xcb_flush(x_->get());
        if (!changed_.wait_for(lock, std::chrono::seconds(60), [&] { return marksSeen_ >= wanted; })) {
            throw std::runtime_error("the recorder's mark never came back");
        }
    }

    std::vector<Event> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }
    // The text the recorded key presses type; modifier keys type nothing.
    std::string typed() {
        std::string text;
        for (const auto& event : events()) {
            bool modifier = event.keysym >= 0xffe1 && event.keysym <= 0xffee;
            if (event.kind == Event::Kind::keyPress && !modifier) text += characterOf(event.keysym);
        }
        return text;
    }
    // The keysyms of the key presses, in order.
    std::vector<uint32_t> pressedKeysyms() {
        std::vector<uint32_t> keysyms;
        for (const auto& event : events()) {
            if (event.kind == Event::Kind::keyPress) keysyms.push_back(event.keysym);
        }
        return keysyms;
    }

    static void sync(xcb_connection_t* connection) {
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }

private:
    static std::string characterOf(uint32_t keysym) {
        if (keysym == 0xff0d) return "\n";
        if (keysym == 0xff09) return "\t";
        char32_t character = keysym >= 0x01000000 ? keysym - 0x01000000 : keysym < 0x100 ? keysym : 0;
        if (!character) return "<" + std::to_string(keysym) + ">";
        return encodeUTF8(character);
    }
    static std::string encodeUTF8(char32_t c) {
        std::string out;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xc0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xe0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3f));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        }
        return out;
    }

    // Runs on the connection's event thread.
    void record(const xcb_generic_event_t* event) {
        if (!event) return;
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_MAPPING_NOTIFY) {
            // Read at once, as a client would before handling the next key.
            auto fresh = XKeyboardMap::fetch(x_->get());
            std::lock_guard lock(mutex_);
            if (fresh) keyboard_ = std::move(*fresh);
            return;
        }
        std::lock_guard lock(mutex_);
        if (type == XCB_CLIENT_MESSAGE) {
            auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if (message->type == mark_) marksSeen_ = message->data.data32[0];
            changed_.notify_all();
            return;
        }
        if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
            auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
            auto row = keyboard_.row(key->detail);
            uint32_t keysym = (key->state & XCB_MOD_MASK_SHIFT) && row.size() > 1 && row[1] ? row[1] : row[0];
            events_.push_back({type == XCB_KEY_PRESS ? Event::Kind::keyPress : Event::Kind::keyRelease, 0, 0,
                               key->state, key->detail, keysym});
        } else if (type == XCB_BUTTON_PRESS || type == XCB_BUTTON_RELEASE || type == XCB_MOTION_NOTIFY) {
            // The three share one layout.
            auto* pointer = reinterpret_cast<const xcb_button_press_event_t*>(event);
            auto kind = type == XCB_MOTION_NOTIFY   ? Event::Kind::motion
                        : type == XCB_BUTTON_PRESS ? Event::Kind::buttonPress
                                                   : Event::Kind::buttonRelease;
            events_.push_back({kind, pointer->root_x, pointer->root_y, pointer->state, pointer->detail, 0});
        }
    }

    std::shared_ptr<XConnection> x_;
    xcb_window_t window_ = 0;
    xcb_atom_t mark_ = 0;
    uint64_t handler_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    XKeyboardMap keyboard_;
    std::vector<Event> events_;
    uint32_t marksSent_ = 0;
    uint32_t marksSeen_ = 0;
};

}  // namespace quintalis::testing
