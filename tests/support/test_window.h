#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/x_connection.h"

namespace quintalis::testing {

// A plain X window that a test draws into and moves about, as another
// program's window would be. Requests are flushed before each call returns.
class TestWindow {
public:
    TestWindow(XConnection& x, int x0, int y0, int width, int height, bool map = true)
        : x_(x), window_(xcb_generate_id(x.get())), gc_(xcb_generate_id(x.get())) {
        const uint32_t values[] = {x.screen().black_pixel, 1};  // background, override-redirect
        xcb_create_window(x.get(), XCB_COPY_FROM_PARENT, window_, x.root(), static_cast<int16_t>(x0),
                          static_cast<int16_t>(y0), static_cast<uint16_t>(width), static_cast<uint16_t>(height), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, x.screen().root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_create_gc(x.get(), gc_, window_, 0, nullptr);
        if (map) xcb_map_window(x.get(), window_);
        sync();
    }
    ~TestWindow() {
        if (!destroyed_) destroy();
    }

    uint32_t number() const { return window_; }

    void setTitle(const std::string& title) {
        text(x_.atom("_NET_WM_NAME"), x_.atom("UTF8_STRING"), title);
    }
    void setLegacyTitle(const std::string& title) { text(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, title); }
    void setClass(const std::string& instance, const std::string& className) {
        text(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, instance + '\0' + className + '\0');
    }
    void setStates(const std::vector<std::string>& states) {
        std::vector<xcb_atom_t> atoms;
        for (const auto& state : states) atoms.push_back(x_.atom(state));
        xcb_change_property(x_.get(), XCB_PROP_MODE_REPLACE, window_, x_.atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                            static_cast<uint32_t>(atoms.size()), atoms.data());
        sync();
    }
    // Fills a rectangle with one BGR colour (0xRRGGBB).
    void fill(uint32_t rgb, int x0, int y0, int width, int height) {
        xcb_change_gc(x_.get(), gc_, XCB_GC_FOREGROUND, &rgb);
        xcb_rectangle_t r{static_cast<int16_t>(x0), static_cast<int16_t>(y0), static_cast<uint16_t>(width),
                          static_cast<uint16_t>(height)};
        xcb_poly_fill_rectangle(x_.get(), window_, gc_, 1, &r);
        xcb_flush(x_.get());
    }
    void raise() { configure(XCB_CONFIG_WINDOW_STACK_MODE, {XCB_STACK_MODE_ABOVE}); }
    void resize(int width, int height) {
        configure(XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                  {static_cast<uint32_t>(width), static_cast<uint32_t>(height)});
    }
    // An X border of that width and colour around the window's inside.
    void setBorder(int width, uint32_t rgb) {
        xcb_change_window_attributes(x_.get(), window_, XCB_CW_BORDER_PIXEL, &rgb);
        configure(XCB_CONFIG_WINDOW_BORDER_WIDTH, {static_cast<uint32_t>(width)});
    }
    void map() {
        xcb_map_window(x_.get(), window_);
        sync();
    }
    void unmap() {
        xcb_unmap_window(x_.get(), window_);
        sync();
    }
    void destroy() {
        destroyed_ = true;
        xcb_destroy_window(x_.get(), window_);
        sync();
    }
    // Waits until the server has handled every request sent so far.
    void sync() { std::free(xcb_get_input_focus_reply(x_.get(), xcb_get_input_focus(x_.get()), nullptr)); }

private:
    void text(xcb_atom_t property, xcb_atom_t type, const std::string& value) {
        xcb_change_property(x_.get(), XCB_PROP_MODE_REPLACE, window_, property, type, 8,
                            static_cast<uint32_t>(value.size()), value.data());
        sync();
    }
    void configure(uint16_t mask, std::vector<uint32_t> values) {
        xcb_configure_window(x_.get(), window_, mask, values.data());
        sync();
    }

    XConnection& x_;
    xcb_window_t window_;
    xcb_gcontext_t gc_;
    bool destroyed_ = false;
};

}  // namespace quintalis::testing
