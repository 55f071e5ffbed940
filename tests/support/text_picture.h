#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include <string>
#include <tuple>
#include <vector>

#include "imaging/pixel_buffer.h"

namespace quintalis::testing {

struct Placed {
    std::string text;
    int x, y, w, h;  // the ink box Pango drew
};

// White picture with black words at known places, drawn the way the phone draws them.
inline PixelBuffer picture(int width, int height, const std::vector<std::tuple<std::string, int, int>>& words,
                           std::vector<Placed>& placed, const char* font = "DejaVu Sans 28px") {
    PixelBuffer out(width, height);
    cairo_surface_t* surface = cairo_image_surface_create_for_data(out.mutableData(), CAIRO_FORMAT_ARGB32, width,
                                                                   height, out.bytesPerRow());
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    for (const auto& [text, x, y] : words) {
        PangoLayout* layout = pango_cairo_create_layout(cr);
        PangoFontDescription* description = pango_font_description_from_string(font);
        pango_layout_set_font_description(layout, description);
        pango_layout_set_text(layout, text.c_str(), -1);
        cairo_move_to(cr, x, y);
        pango_cairo_show_layout(cr, layout);
        PangoRectangle ink, logical;
        pango_layout_get_pixel_extents(layout, &ink, &logical);
        placed.push_back({text, x + ink.x, y + ink.y, ink.width, ink.height});
        pango_font_description_free(description);
        g_object_unref(layout);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return out;
}

}  // namespace quintalis::testing
