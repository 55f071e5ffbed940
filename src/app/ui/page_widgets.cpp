#include "app/ui/page_widgets.h"

#include <algorithm>
#include <cstring>

#include <gdkmm/screen.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/cssprovider.h>
#include <gtkmm/drawingarea.h>
#include <gtkmm/eventbox.h>
#include <gtkmm/label.h>
#include <gtkmm/stylecontext.h>
#include <gtkmm/window.h>

namespace quintalis {
namespace {

constexpr const char* kStyle = R"(
.setup { background-color: #ffffff; color: #1d1d1f; }
.rail { background-color: #f3f4f7; border-right: 1px solid #e2e4ea; padding: 18px; }
.rail-name { font-size: 17pt; font-weight: bold; }
.rail-entry { padding: 5px 8px; border-radius: 8px; }
.rail-entry.current { background-color: #e1e8fb; }
.dot { min-width: 22px; min-height: 22px; border-radius: 11px; background-color: #d9dce3; color: #4a4f5c;
       font-size: 9pt; font-weight: bold; }
.dot.done { background-color: #2f9e5b; color: #ffffff; }
.quiet { color: #6b7080; font-size: 9pt; }
.eyebrow { color: #3c64d8; font-size: 9pt; font-weight: bold; }
.title { font-size: 21pt; font-weight: bold; }
.body { font-size: 11pt; }
.note { color: #6b7080; font-size: 10pt; }
.number { min-width: 22px; min-height: 22px; border-radius: 11px; background-color: #e1e8fb; color: #3c64d8;
          font-weight: bold; font-size: 9pt; }
.card { border: 1px solid #d9dce3; border-radius: 10px; padding: 10px 14px; background-color: #ffffff; }
.card.selected { border: 2px solid #3c64d8; background-color: #f4f7ff; }
.callout { border-radius: 10px; padding: 10px 14px; background-color: #fff7e0; }
.row { border-radius: 8px; padding: 6px 10px; background-color: #f7f8fa; }
.mark { font-weight: bold; font-size: 12pt; min-width: 20px; }
.mark.done { color: #2f9e5b; }
.mark.waiting { color: #9aa0ad; }
.mark.problem { color: #d0442c; }
.snippet { font-family: monospace; font-size: 9pt; background-color: #f3f4f7; padding: 6px; }
.bottom-bar { border-top: 1px solid #e2e4ea; padding: 10px 24px; }
)";

Gtk::Label* label(const std::string& text, const char* style, bool markup = true) {
    auto* made = Gtk::manage(new Gtk::Label());
    if (markup) {
        made->set_markup(boldMarkup(text));
    } else {
        made->set_text(text);
    }
    made->set_line_wrap(true);
    made->set_xalign(0);
    made->set_max_width_chars(70);
    if (style) made->get_style_context()->add_class(style);
    return made;
}

Gtk::Box* box(Gtk::Orientation orientation, int spacing) {
    return Gtk::manage(new Gtk::Box(orientation, spacing));
}

Gtk::Button* button(const SetupButton& model, const ActionHandler& onAction) {
    auto* made = Gtk::manage(new Gtk::Button(model.label));
    if (model.primary) made->get_style_context()->add_class("suggested-action");
    made->set_sensitive(model.enabled);
    made->signal_clicked().connect([onAction, action = model.action] { onAction(action); });
    made->set_halign(Gtk::ALIGN_START);
    return made;
}

Gtk::Widget* numbered(const NumberedLines& block) {
    auto* lines = box(Gtk::ORIENTATION_VERTICAL, 8);
    int number = 1;
    for (const auto& line : block.lines) {
        auto* row = box(Gtk::ORIENTATION_HORIZONTAL, 10);
        auto* mark = label(std::to_string(number++), "number", false);
        mark->set_xalign(0.5);
        mark->set_valign(Gtk::ALIGN_START);
        row->pack_start(*mark, Gtk::PACK_SHRINK);
        row->pack_start(*label(line, "body"), Gtk::PACK_EXPAND_WIDGET);
        lines->pack_start(*row, Gtk::PACK_SHRINK);
    }
    return lines;
}

Gtk::Widget* mark(CheckState state) {
    switch (state) {
        case CheckState::done: {
            auto* made = label("\u2713", "mark", false);
            made->get_style_context()->add_class("done");
            return made;
        }
        case CheckState::problem: {
            auto* made = label("!", "mark", false);
            made->get_style_context()->add_class("problem");
            return made;
        }
        case CheckState::waiting: break;
    }
    auto* made = label("\u25cb", "mark", false);
    made->get_style_context()->add_class("waiting");
    return made;
}

Gtk::Widget* checkRow(const CheckRow& model, const ActionHandler& onAction) {
    auto* row = box(Gtk::ORIENTATION_HORIZONTAL, 10);
    row->get_style_context()->add_class("row");
    auto* status = mark(model.state);
    static_cast<Gtk::Label*>(status)->set_valign(Gtk::ALIGN_START);
    row->pack_start(*status, Gtk::PACK_SHRINK);
    auto* texts = box(Gtk::ORIENTATION_VERTICAL, 2);
    texts->pack_start(*label(model.title, "body"), Gtk::PACK_SHRINK);
    if (!model.detail.empty()) texts->pack_start(*label(model.detail, "note"), Gtk::PACK_SHRINK);
    if (model.button) texts->pack_start(*button(*model.button, onAction), Gtk::PACK_SHRINK);
    row->pack_start(*texts, Gtk::PACK_EXPAND_WIDGET);
    if (!model.clickAction) return row;
    // A confirmation the user gives: the whole row is the button.
    auto* clickable = Gtk::manage(new Gtk::Button());
    clickable->set_relief(Gtk::RELIEF_NONE);
    clickable->add(*row);
    clickable->signal_clicked().connect([onAction, action = *model.clickAction] { onAction(action); });
    return clickable;
}

Gtk::Widget* choiceCards(const ChoiceCards& block, const ActionHandler& onAction) {
    auto* cards = box(Gtk::ORIENTATION_HORIZONTAL, 12);
    cards->set_homogeneous(true);
    for (const auto& card : block.cards) {
        auto* inside = box(Gtk::ORIENTATION_HORIZONTAL, 10);
        auto* radio = label(card.selected ? "\u25c9" : "\u25cb", "mark", false);
        radio->set_valign(Gtk::ALIGN_START);
        inside->pack_start(*radio, Gtk::PACK_SHRINK);
        auto* texts = box(Gtk::ORIENTATION_VERTICAL, 2);
        texts->pack_start(*label("**" + card.title + "**", "body"), Gtk::PACK_SHRINK);
        texts->pack_start(*label(card.subtitle, "note"), Gtk::PACK_SHRINK);
        inside->pack_start(*texts, Gtk::PACK_EXPAND_WIDGET);
        auto* clickable = Gtk::manage(new Gtk::Button());
        clickable->set_relief(Gtk::RELIEF_NONE);
        clickable->get_style_context()->add_class("card");
        if (card.selected) clickable->get_style_context()->add_class("selected");
        clickable->add(*inside);
        clickable->signal_clicked().connect([onAction, action = card.action] { onAction(action); });
        cards->pack_start(*clickable, Gtk::PACK_EXPAND_WIDGET);
    }
    return cards;
}

Gtk::Widget* callout(const Callout& block, const ActionHandler& onAction) {
    auto* inside = box(Gtk::ORIENTATION_VERTICAL, 6);
    inside->get_style_context()->add_class("callout");
    if (!block.title.empty()) inside->pack_start(*label("**" + block.title + "**", "body"), Gtk::PACK_SHRINK);
    inside->pack_start(*label(block.text, "body"), Gtk::PACK_SHRINK);
    if (block.button) inside->pack_start(*button(*block.button, onAction), Gtk::PACK_SHRINK);
    return inside;
}

Gtk::Widget* aiRow(const AIRow& block, const ActionHandler& onAction) {
    auto* row = box(Gtk::ORIENTATION_HORIZONTAL, 10);
    row->get_style_context()->add_class("row");
    auto* status = mark(block.added ? CheckState::done : CheckState::waiting);
    static_cast<Gtk::Label*>(status)->set_valign(Gtk::ALIGN_START);
    row->pack_start(*status, Gtk::PACK_SHRINK);
    auto* texts = box(Gtk::ORIENTATION_VERTICAL, 4);
    texts->pack_start(*label("**" + block.title + "**", "body"), Gtk::PACK_SHRINK);
    texts->pack_start(*label(block.detail, "note"), Gtk::PACK_SHRINK);
    // Results may name a file or an error worth pasting elsewhere. One that
    // comes with an entry to paste by hand introduces it, so it goes above.
    auto* message = block.message.empty() ? nullptr : label(block.message, "note", false);
    if (message) message->set_selectable(true);
    if (block.snippet) {
        if (message) texts->pack_start(*message, Gtk::PACK_SHRINK);
        auto* snippet = label(*block.snippet, "snippet", false);
        snippet->set_selectable(true);
        texts->pack_start(*snippet, Gtk::PACK_SHRINK);
    }
    auto* buttons = box(Gtk::ORIENTATION_HORIZONTAL, 8);
    if (block.button) buttons->pack_start(*button(*block.button, onAction), Gtk::PACK_SHRINK);
    if (block.copyButton) buttons->pack_start(*button(*block.copyButton, onAction), Gtk::PACK_SHRINK);
    texts->pack_start(*buttons, Gtk::PACK_SHRINK);
    if (message && !block.snippet) texts->pack_start(*message, Gtk::PACK_SHRINK);
    row->pack_start(*texts, Gtk::PACK_EXPAND_WIDGET);
    return row;
}

void roundedRectangle(const Cairo::RefPtr<Cairo::Context>& cr, double x, double y, double w, double h, double r) {
    cr->begin_new_sub_path();
    cr->arc(x + w - r, y + r, r, -M_PI / 2, 0);
    cr->arc(x + w - r, y + h - r, r, 0, M_PI / 2);
    cr->arc(x + r, y + h - r, r, M_PI / 2, M_PI);
    cr->arc(x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cr->close_path();
}

// Draws `picture` to fill the rectangle, keeping its shape, centred.
void drawFitted(const Cairo::RefPtr<Cairo::Context>& cr, const Cairo::RefPtr<Cairo::ImageSurface>& picture, double x,
                double y, double w, double h) {
    double scale = std::min(w / picture->get_width(), h / picture->get_height());
    cr->save();
    cr->translate(x + (w - picture->get_width() * scale) / 2, y + (h - picture->get_height() * scale) / 2);
    cr->scale(scale, scale);
    cr->set_source(picture, 0, 0);
    cr->paint();
    cr->restore();
}

// A phone outline with the picture on its screen, or, for pairing, the
// Bluetooth list the user will see there.
Gtk::Widget* illustration(Illustration kind, const Cairo::RefPtr<Cairo::ImageSurface>& phone) {
    auto* area = Gtk::manage(new Gtk::DrawingArea());
    area->set_size_request(-1, 150);
    area->signal_draw().connect([kind, phone, area](const Cairo::RefPtr<Cairo::Context>& cr) {
        const double h = area->get_allocated_height() - 4, w = h * 0.5, x = 4, y = 2;
        roundedRectangle(cr, x, y, w, h, 14);
        cr->set_source_rgb(0.12, 0.12, 0.14);
        cr->fill();
        const double sx = x + 5, sy = y + 5, sw = w - 10, sh = h - 10;
        roundedRectangle(cr, sx, sy, sw, sh, 10);
        cr->set_source_rgb(0.93, 0.95, 0.99);
        cr->fill_preserve();
        cr->save();
        cr->clip();
        if (phone) {
            drawFitted(cr, phone, sx, sy, sw, sh);
        } else if (kind == Illustration::bluetoothList) {
            for (int row = 0; row < 4; ++row) {
                cr->set_source_rgb(row == 2 ? 0.24 : 0.8, row == 2 ? 0.39 : 0.82, row == 2 ? 0.85 : 0.86);
                cr->rectangle(sx + 8, sy + 24 + row * 22, sw - 16, 14);
                cr->fill();
            }
        } else {
            cr->set_source_rgb(0.24, 0.39, 0.85);
            cr->arc(sx + sw / 2, sy + sh / 2, sw / 6, 0, 2 * M_PI);
            cr->fill();
        }
        cr->restore();
        return true;
    });
    return area;
}

Gtk::Widget* lookResult(const LookResult& block) {
    auto* row = box(Gtk::ORIENTATION_HORIZONTAL, 16);
    if (block.result.image) {
        auto picture = surfaceFrom(*block.result.image);
        auto* area = Gtk::manage(new Gtk::DrawingArea());
        double scale = std::min(220.0 / picture->get_width(), 300.0 / picture->get_height());
        area->set_size_request(std::max(1, int(picture->get_width() * scale)),
                               std::max(1, int(picture->get_height() * scale)));
        area->signal_draw().connect([picture, area](const Cairo::RefPtr<Cairo::Context>& cr) {
            drawFitted(cr, picture, 0, 0, area->get_allocated_width(), area->get_allocated_height());
            cr->set_source_rgb(0.8, 0.82, 0.86);
            cr->rectangle(0.5, 0.5, area->get_allocated_width() - 1, area->get_allocated_height() - 1);
            cr->set_line_width(1);
            cr->stroke();
            return true;
        });
        area->set_valign(Gtk::ALIGN_START);
        row->pack_start(*area, Gtk::PACK_SHRINK);
    }
    auto* texts = box(Gtk::ORIENTATION_VERTICAL, 4);
    texts->pack_start(*label(block.caption, "note", false), Gtk::PACK_SHRINK);
    texts->pack_start(*label("It can read:", "body", false), Gtk::PACK_SHRINK);
    for (const auto& line : block.result.lines) texts->pack_start(*label(line, "note", false), Gtk::PACK_SHRINK);
    row->pack_start(*texts, Gtk::PACK_EXPAND_WIDGET);
    return row;
}

struct BlockWidget {
    const ActionHandler& onAction;
    const Cairo::RefPtr<Cairo::ImageSurface>& phone;

    Gtk::Widget* operator()(const Paragraph& block) const { return label(block.text, block.note ? "note" : "body"); }
    Gtk::Widget* operator()(const NumberedLines& block) const { return numbered(block); }
    Gtk::Widget* operator()(const Buttons& block) const {
        auto* row = box(Gtk::ORIENTATION_HORIZONTAL, 8);
        for (const auto& model : block.buttons) row->pack_start(*button(model, onAction), Gtk::PACK_SHRINK);
        return row;
    }
    Gtk::Widget* operator()(const CheckRows& block) const {
        auto* rows = box(Gtk::ORIENTATION_VERTICAL, 6);
        for (const auto& row : block.rows) rows->pack_start(*checkRow(row, onAction), Gtk::PACK_SHRINK);
        return rows;
    }
    Gtk::Widget* operator()(const ChoiceCards& block) const { return choiceCards(block, onAction); }
    Gtk::Widget* operator()(const Callout& block) const { return callout(block, onAction); }
    Gtk::Widget* operator()(const AIRow& block) const { return aiRow(block, onAction); }
    Gtk::Widget* operator()(const Picture& block) const { return illustration(block.kind, phone); }
    Gtk::Widget* operator()(const LookResult& block) const { return lookResult(block); }
};

Gtk::Widget* heading(const SetupPage& page) {
    auto* made = box(Gtk::ORIENTATION_VERTICAL, 4);
    if (!page.eyebrow.empty()) made->pack_start(*label(page.eyebrow, "eyebrow", false), Gtk::PACK_SHRINK);
    made->pack_start(*label(page.title, "title", false), Gtk::PACK_SHRINK);
    return made;
}

// Where `widget` sits below `top`, as child numbers from the top down; empty
// when it is not inside.
std::vector<int> placeIn(Gtk::Widget& top, Gtk::Widget* widget) {
    std::vector<int> place;
    while (widget && widget != &top) {
        auto* parent = widget->get_parent();
        if (!parent) return {};
        auto children = parent->get_children();
        auto at = std::find(children.begin(), children.end(), widget);
        place.insert(place.begin(), static_cast<int>(at - children.begin()));
        widget = parent;
    }
    if (widget != &top) return {};
    return place;
}

Gtk::Widget* atPlace(Gtk::Widget& top, const std::vector<int>& place) {
    Gtk::Widget* widget = &top;
    for (int index : place) {
        auto* container = dynamic_cast<Gtk::Container*>(widget);
        if (!container) return nullptr;
        auto children = container->get_children();
        if (index >= static_cast<int>(children.size())) return nullptr;
        widget = children[index];
    }
    return widget;
}

Gtk::Button* findPrimary(Gtk::Widget& widget) {
    auto* button = dynamic_cast<Gtk::Button*>(&widget);
    if (button && button->get_style_context()->has_class("suggested-action")) return button;
    if (auto* container = dynamic_cast<Gtk::Container*>(&widget)) {
        for (auto* child : container->get_children()) {
            if (auto* found = findPrimary(*child)) return found;
        }
    }
    return nullptr;
}

}  // namespace

void replaceKeepingFocus(Gtk::Box& parent, Gtk::Widget* old, Gtk::Widget& made, int position,
                         Gtk::PackOptions options) {
    std::vector<int> focusPlace;
    bool hadFocus = false;
    if (auto* window = dynamic_cast<Gtk::Window*>(parent.get_toplevel()); window && old) {
        Gtk::Widget* focus = window->get_focus();
        focusPlace = placeIn(*old, focus);
        hadFocus = focus && (focus == old || !focusPlace.empty());
    }
    parent.pack_start(made, options);
    parent.reorder_child(made, position);
    // Managed children may be deleted outright; that also takes them out of the box.
    delete old;
    made.show_all();
    if (!hadFocus) return;
    Gtk::Widget* successor = atPlace(made, focusPlace);
    if (successor && successor->get_can_focus() && successor->is_sensitive()) successor->grab_focus();
}

LivePage::LivePage(ActionHandler onAction) : Gtk::Box(Gtk::ORIENTATION_VERTICAL, 14), onAction_(std::move(onAction)) {
    set_border_width(32);
}

Gtk::Widget* LivePage::build(const PageBlock& block) const {
    return std::visit(BlockWidget{onAction_, phone_}, block);
}

void LivePage::update(const SetupPage& page, const Cairo::RefPtr<Cairo::ImageSurface>& phone) {
    // A new picture is drawn by the blocks that show it: build them all anew.
    const bool samePicture = phone == phone_;
    phone_ = phone;
    if (!heading_ || page.eyebrow != shown_.eyebrow || page.title != shown_.title) {
        auto* made = heading(page);
        replaceKeepingFocus(*this, heading_, *made, 0);
        heading_ = made;
    }
    // The blocks the old and new page share at the start and at the end stay;
    // those between are replaced one for one, so that a notice that comes or
    // goes leaves the blocks after it alone.
    const auto& before = shown_.blocks;
    const auto& after = page.blocks;
    size_t same = std::min(before.size(), after.size());
    size_t front = 0;
    while (samePicture && front < same && before[front] == after[front]) ++front;
    size_t back = 0;
    while (samePicture && back < same - front && before[before.size() - 1 - back] == after[after.size() - 1 - back]) {
        ++back;
    }
    std::vector<Gtk::Widget*> widgets(blocks_.begin(), blocks_.begin() + static_cast<long>(front));
    const size_t oldMiddle = before.size() - back, newMiddle = after.size() - back;
    for (size_t i = front; i < std::max(oldMiddle, newMiddle); ++i) {
        Gtk::Widget* old = i < oldMiddle ? blocks_[i] : nullptr;
        if (i >= newMiddle) {
            delete old;
            continue;
        }
        auto* made = build(after[i]);
        replaceKeepingFocus(*this, old, *made, static_cast<int>(i) + 1);
        widgets.push_back(made);
    }
    widgets.insert(widgets.end(), blocks_.end() - static_cast<long>(back), blocks_.end());
    blocks_ = std::move(widgets);
    shown_ = page;
}

Gtk::Button* LivePage::primaryButton() { return findPrimary(*this); }

Gtk::Widget* buildPageWidget(const SetupPage& page, const ActionHandler& onAction,
                             const Cairo::RefPtr<Cairo::ImageSurface>& phone) {
    auto* made = Gtk::manage(new LivePage(onAction));
    made->update(page, phone);
    return made;
}

Cairo::RefPtr<Cairo::ImageSurface> surfaceFrom(const PixelBuffer& picture) {
    auto surface = Cairo::ImageSurface::create(Cairo::FORMAT_RGB24, picture.width(), picture.height());
    surface->flush();
    unsigned char* target = surface->get_data();
    const int stride = surface->get_stride();
    for (int y = 0; y < picture.height(); ++y) {
        const uint8_t* from = picture.row(y);
        unsigned char* to = target + static_cast<size_t>(y) * stride;
        if (picture.format() == PixelFormat::bgra) {
            std::memcpy(to, from, static_cast<size_t>(picture.width()) * 4);
            continue;
        }
        for (int x = 0; x < picture.width(); ++x) {
            to[4 * x] = from[4 * x + 2];
            to[4 * x + 1] = from[4 * x + 1];
            to[4 * x + 2] = from[4 * x];
            to[4 * x + 3] = 255;
        }
    }
    surface->mark_dirty();
    return surface;
}

void installSetupStyle() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    auto provider = Gtk::CssProvider::create();
    provider->load_from_data(kStyle);
    Gtk::StyleContext::add_provider_for_screen(Gdk::Screen::get_default(), provider,
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

}  // namespace quintalis
