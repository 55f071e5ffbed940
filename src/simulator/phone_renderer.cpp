#include "simulator/phone_renderer.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace quintalis::simulator {
namespace {

void setColor(cairo_t* cr, uint32_t rgb, double alpha = 1) {
    cairo_set_source_rgba(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, alpha);
}

void roundedRect(cairo_t* cr, const Rect& r, double radius) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, r.x + r.width - radius, r.y + radius, radius, -M_PI / 2, 0);
    cairo_arc(cr, r.x + r.width - radius, r.y + r.height - radius, radius, 0, M_PI / 2);
    cairo_arc(cr, r.x + radius, r.y + r.height - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cr, r.x + radius, r.y + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

enum class Align { left, centre, right };

// Draws text in points; `size` is the font size in points.
void text(cairo_t* cr, const std::string& content, double x, double y, double width, double size, uint32_t rgb,
          Align align = Align::left, bool bold = false, bool wrap = false) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string(bold ? "DejaVu Sans Bold" : "DejaVu Sans");
    pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, content.c_str(), -1);
    pango_layout_set_width(layout, static_cast<int>(width * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    if (!wrap) pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_alignment(layout, align == Align::centre  ? PANGO_ALIGN_CENTER
                                       : align == Align::right ? PANGO_ALIGN_RIGHT
                                                               : PANGO_ALIGN_LEFT);
    setColor(cr, rgb);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    pango_font_description_free(font);
    g_object_unref(layout);
}

bool isDark(uint32_t rgb) { return ((rgb >> 16) & 0xFF) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF) < 3 * 110; }

void drawWidget(cairo_t* cr, const Widget& w, uint32_t background) {
    const uint32_t ink = isDark(background) ? 0xFFFFFF : 0x000000;
    switch (w.kind) {
        case Widget::Kind::icon:
        case Widget::Kind::dockIcon:
            roundedRect(cr, w.frame, 14);
            setColor(cr, w.color);
            cairo_fill(cr);
            // A large initial stands in for the app's artwork.
            text(cr, w.label.substr(0, 1), w.frame.x, w.frame.y + 12, w.frame.width, 30, 0xFFFFFF, Align::centre, true);
            if (w.kind == Widget::Kind::icon) {
                Rect label = labelFrame(w);
                text(cr, w.label, label.x, label.y, label.width, 12, 0xFFFFFF, Align::centre);
            }
            break;
        case Widget::Kind::title:
            text(cr, w.label, w.frame.x, w.frame.y, w.frame.width, 30, ink, Align::left, true);
            break;
        case Widget::Kind::back:
            text(cr, w.label, 12, w.frame.y + 10, w.frame.width, 17, 0x007AFF);
            break;
        case Widget::Kind::row:
            setColor(cr, 0xFFFFFF);
            cairo_rectangle(cr, w.frame.x, w.frame.y, w.frame.width, w.frame.height);
            cairo_fill(cr);
            setColor(cr, 0xD1D1D6);
            cairo_rectangle(cr, 16, w.frame.y + w.frame.height - 1, w.frame.width - 16, 1);
            cairo_fill(cr);
            text(cr, w.label, 16, w.frame.y + 13, w.frame.width * 0.6, 17, 0x000000);
            if (!w.detail.empty()) {
                text(cr, w.detail, w.frame.width * 0.4, w.frame.y + 13, w.frame.width * 0.6 - 36, 17, 0x8E8E93,
                     Align::right);
            }
            if (!w.action.empty()) text(cr, ">", w.frame.width - 28, w.frame.y + 13, 20, 17, 0xC7C7CC);
            break;
        case Widget::Kind::textArea: {
            std::string shown = w.label + (w.detail == "focused" ? "|" : "");
            if (shown.empty()) {
                text(cr, "Tap to write", w.frame.x, w.frame.y, w.frame.width, 18, 0xB0B0B0);
            } else {
                text(cr, shown, w.frame.x, w.frame.y, w.frame.width, 18, 0x000000, Align::left, false, true);
            }
            break;
        }
        case Widget::Kind::line:
        case Widget::Kind::note:
            text(cr, w.label, w.frame.x, w.frame.y, w.frame.width, 17, 0x6C6C70);
            break;
    }
}

void drawChrome(cairo_t* cr, const Scene& scene, double width, double height, bool assistiveTouch) {
    const uint32_t ink = isDark(scene.background) ? 0xFFFFFF : 0x000000;
    text(cr, "9:41", 30, 16, 80, 17, ink, Align::left, true);
    text(cr, "100%", width - 100, 16, 70, 15, ink, Align::right, true);
    Rect battery{width - 28, 19, 22, 11};
    roundedRect(cr, battery, 3);
    setColor(cr, ink);
    cairo_fill(cr);
    // Home indicator.
    roundedRect(cr, {width / 2 - 67, height - 13, 134, 5}, 2.5);
    setColor(cr, ink, 0.8);
    cairo_fill(cr);
    if (assistiveTouch) {
        Rect button{width - 66, height * 0.62, 56, 56};
        roundedRect(cr, button, 14);
        setColor(cr, 0x2C2C2E, 0.75);
        cairo_fill(cr);
        for (double r : {20.0, 14.0, 8.0}) {
            cairo_arc(cr, button.x + 28, button.y + 28, r, 0, 2 * M_PI);
            setColor(cr, 0xFFFFFF, r == 8.0 ? 0.9 : 0.35);
            cairo_fill(cr);
        }
    }
}

}  // namespace

PixelBuffer renderScreen(const Scene& scene, int pixelWidth, int pixelHeight, double scale, bool assistiveTouch) {
    PixelBuffer out(pixelWidth, pixelHeight);
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create_for_data(out.mutableData(), CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight,
                                            out.bytesPerRow()),
        cairo_surface_destroy);
    cairo_t* cr = cairo_create(surface.get());
    cairo_scale(cr, scale, scale);
    const double width = pixelWidth / scale;
    const double height = pixelHeight / scale;
    setColor(cr, scene.background);
    cairo_paint(cr);
    for (const auto& widget : scene.widgets) {
        bool clipped = widget.kind == Widget::Kind::row;
        if (clipped) {
            // Rows scroll under the title; keep them below it.
            cairo_save(cr);
            cairo_rectangle(cr, 0, 54 + 96, width, height);
            cairo_clip(cr);
        }
        drawWidget(cr, widget, scene.background);
        if (clipped) cairo_restore(cr);
    }
    drawChrome(cr, scene, width, height, assistiveTouch);
    cairo_destroy(cr);
    cairo_surface_flush(surface.get());
    return out;
}

PixelBufferRef withPointer(const PixelBuffer& screen, double x, double y, double scale) {
    auto out = std::make_shared<PixelBuffer>(screen.width(), screen.height());
    std::memcpy(out->mutableData(), screen.data(), static_cast<size_t>(screen.bytesPerRow()) * screen.height());
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create_for_data(out->mutableData(), CAIRO_FORMAT_ARGB32, out->width(), out->height(),
                                            out->bytesPerRow()),
        cairo_surface_destroy);
    cairo_t* cr = cairo_create(surface.get());
    // iOS's pointer: a translucent grey disc about 22 points across with a
    // thin light rim, its centre on the point it stands for. At a screen
    // edge or corner only the part inside the screen shows.
    const double radius = 11.0 * scale;
    cairo_arc(cr, x, y, radius, 0, 2 * M_PI);
    cairo_set_source_rgba(cr, 0.3, 0.3, 0.3, 0.55);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1.0 * scale);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.7);
    cairo_stroke(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface.get());
    return out;
}

}  // namespace quintalis::simulator
