#include "simulator/x11/x_receiver_window.h"

#include <unistd.h>

#include <algorithm>

#include "simulator/receiver_picture.h"

namespace quintalis::simulator {
namespace {

void setText(XConnection& x, xcb_window_t window, xcb_atom_t property, xcb_atom_t type, const std::string& text) {
    xcb_change_property(x.get(), XCB_PROP_MODE_REPLACE, window, property, type, 8, static_cast<uint32_t>(text.size()),
                        text.data());
}

}  // namespace

Simulator::WindowOpener xReceiverWindows(const std::string& display) {
    return [display](const std::string& title) -> std::unique_ptr<ReceiverSurface> {
        return XReceiverWindow::open(display, title);
    };
}

std::unique_ptr<XReceiverWindow> XReceiverWindow::open(const std::string& display, const std::string& title) {
    auto x = XConnection::open(display);
    if (!x) return nullptr;
    return std::unique_ptr<XReceiverWindow>(new XReceiverWindow(std::move(x), title));
}

XReceiverWindow::XReceiverWindow(std::shared_ptr<XConnection> x, const std::string& title)
    : x_(std::move(x)), window_(xcb_generate_id(x_->get())), gc_(xcb_generate_id(x_->get())),
      width_(kReceiverWidth), height_(kReceiverHeight) {
    xcb_connection_t* c = x_->get();
    const uint32_t values[] = {x_->screen().black_pixel, XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, x_->root(), 40, 40, kReceiverWidth, kReceiverHeight, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, x_->screen().root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                      values);
    xcb_create_gc(c, gc_, window_, 0, nullptr);
    using namespace std::string_literals;
    const std::string wmClass = "quintalis-airplay-receiver\0quintalis-airplay-receiver\0"s;
    setText(*x_, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, wmClass);
    setText(*x_, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, title);
    setText(*x_, window_, x_->atom("_NET_WM_NAME"), x_->atom("UTF8_STRING"), title);
    const uint32_t pid = static_cast<uint32_t>(getpid());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, x_->atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    handler_ = x_->addEventHandler([this](const xcb_generic_event_t* event) {
        if (!event) return;
        const uint8_t type = event->response_type & 0x7F;
        if (type == XCB_EXPOSE && reinterpret_cast<const xcb_expose_event_t*>(event)->window == window_ &&
            reinterpret_cast<const xcb_expose_event_t*>(event)->count == 0) {
            queue_.async([this] { draw(); });
        } else if (type == XCB_CONFIGURE_NOTIFY) {
            const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (configure->window != window_) return;
            const int width = configure->width, height = configure->height;
            queue_.async([this, width, height] {
                if (width == width_ && height == height_) return;
                width_ = width;
                height_ = height;
                draw();
            });
        }
    });
    xcb_map_window(c, window_);
    xcb_flush(c);
}

XReceiverWindow::~XReceiverWindow() {
    x_->removeEventHandler(handler_);
    queue_.sync([this] {
        xcb_destroy_window(x_->get(), window_);
        xcb_flush(x_->get());
    });
}

void XReceiverWindow::show(PixelBufferRef phonePicture) {
    queue_.async([this, picture = std::move(phonePicture)] {
        if (picture == phone_) return;  // the same picture again: nothing to redraw
        phone_ = picture;
        draw();
    });
}

void XReceiverWindow::draw() {
    const uint8_t depth = x_->screen().root_depth;
    if (depth != 24 && depth != 32) return;  // 32-bit pixels are all this draws
    const PixelBuffer picture = receiverPicture(phone_.get(), width_, height_);
    xcb_connection_t* c = x_->get();
    // Big pictures go in bands that each fit one request.
    const size_t limit = static_cast<size_t>(xcb_get_maximum_request_length(c)) * 4 - 64;
    const int rowsPerRequest = std::max<int>(1, static_cast<int>(limit / picture.bytesPerRow()));
    for (int y = 0; y < picture.height(); y += rowsPerRequest) {
        const int rows = std::min(rowsPerRequest, picture.height() - y);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_, static_cast<uint16_t>(picture.width()),
                      static_cast<uint16_t>(rows), 0, static_cast<int16_t>(y), 0, depth,
                      static_cast<uint32_t>(rows * picture.bytesPerRow()), picture.row(y));
    }
    xcb_flush(c);
}

}  // namespace quintalis::simulator
