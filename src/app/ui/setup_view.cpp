#include "app/ui/setup_view.h"

#include <glibmm/main.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/stylecontext.h>
#include <gtkmm/window.h>

namespace quintalis {
namespace {

Gtk::Label* plainLabel(const std::string& text, const char* style) {
    auto* made = Gtk::manage(new Gtk::Label(text));
    made->set_xalign(0);
    made->set_line_wrap(true);
    if (style) made->get_style_context()->add_class(style);
    return made;
}

}  // namespace

SetupView::SetupView(AppState& state, SetupContext context, ActionHandler actions, std::function<void()> finished)
    : Gtk::Box(Gtk::ORIENTATION_HORIZONTAL, 0),
      state_(state),
      context_(std::move(context)),
      actions_(std::move(actions)),
      finished_(std::move(finished)) {
    installSetupStyle();
    get_style_context()->add_class("setup");
    set_size_request(kSetupMinWidth, kSetupMinHeight);
    observer_ = state_.addObserver([this] { changed(); });
    rebuildNow();
}

SetupView::~SetupView() {
    idle_.disconnect();
    state_.removeObserver(observer_);
}

void SetupView::setPhonePicture(Cairo::RefPtr<Cairo::ImageSurface> picture) {
    phone_ = std::move(picture);
    changed();
}

void SetupView::changed() {
    if (pending_) return;
    pending_ = true;
    idle_ = Glib::signal_idle().connect([this] {
        rebuildNow();
        return false;
    });
}

void SetupView::rebuildNow() {
    pending_ = false;
    idle_.disconnect();
    // Managed children may be deleted outright; that also takes them out of the box.
    for (auto* child : get_children()) delete child;
    const AppValues& values = state_.values();
    pack_start(*rail(values), Gtk::PACK_SHRINK);

    auto* main = Gtk::manage(new Gtk::Box(Gtk::ORIENTATION_VERTICAL, 0));
    auto* scroller = Gtk::manage(new Gtk::ScrolledWindow());
    scroller->set_policy(Gtk::POLICY_NEVER, Gtk::POLICY_AUTOMATIC);
    scroller->add(*buildPageWidget(setupPage(values.step, values, context_), [this](SetupAction a) { handle(a); },
                                   phone_));
    main->pack_start(*scroller, Gtk::PACK_EXPAND_WIDGET);
    if (auto* bar = bottomBar(values)) main->pack_start(*bar, Gtk::PACK_SHRINK);
    pack_start(*main, Gtk::PACK_EXPAND_WIDGET);
    show_all();
}

Gtk::Widget* SetupView::rail(const AppValues& values) {
    Rail model = setupRail(values, context_.version);
    auto* column = Gtk::manage(new Gtk::Box(Gtk::ORIENTATION_VERTICAL, 4));
    column->get_style_context()->add_class("rail");
    column->set_size_request(230, -1);
    auto* name = plainLabel("Quintalis", "rail-name");
    name->set_margin_bottom(14);
    column->pack_start(*name, Gtk::PACK_SHRINK);
    for (const auto& entry : model.entries) {
        auto* row = Gtk::manage(new Gtk::Box(Gtk::ORIENTATION_HORIZONTAL, 10));
        auto* dot = plainLabel(entry.done ? "\u2713" : std::to_string(entry.number), "dot");
        dot->set_xalign(0.5);
        if (entry.done) dot->get_style_context()->add_class("done");
        row->pack_start(*dot, Gtk::PACK_SHRINK);
        row->pack_start(*plainLabel(entry.title, nullptr), Gtk::PACK_EXPAND_WIDGET);
        auto* clickable = Gtk::manage(new Gtk::Button());
        clickable->set_relief(Gtk::RELIEF_NONE);
        clickable->get_style_context()->add_class("rail-entry");
        if (entry.current) clickable->get_style_context()->add_class("current");
        clickable->add(*row);
        clickable->signal_clicked().connect([this, number = entry.number] { state_.setStep(number); });
        column->pack_start(*clickable, Gtk::PACK_SHRINK);
    }
    auto* status = Gtk::manage(new Gtk::Box(Gtk::ORIENTATION_VERTICAL, 3));
    status->set_margin_top(20);
    for (const auto& line : model.status) status->pack_start(*plainLabel(line, "quiet"), Gtk::PACK_SHRINK);
    column->pack_start(*status, Gtk::PACK_SHRINK);
    column->pack_end(*plainLabel(model.version, "quiet"), Gtk::PACK_SHRINK);
    return column;
}

Gtk::Widget* SetupView::bottomBar(const AppValues& values) {
    BottomBar model = setupBottomBar(values);
    if (!model.shown) return nullptr;
    auto* bar = Gtk::manage(new Gtk::Box(Gtk::ORIENTATION_HORIZONTAL, 8));
    bar->get_style_context()->add_class("bottom-bar");
    auto* back = Gtk::manage(new Gtk::Button("Back"));
    back->signal_clicked().connect([this] { state_.setStep(stepBack(state_.values().step)); });
    bar->pack_start(*back, Gtk::PACK_SHRINK);
    auto* forward = Gtk::manage(new Gtk::Button(model.forward));
    if (model.forwardPrimary) forward->get_style_context()->add_class("suggested-action");
    forward->signal_clicked().connect([this, finishes = model.finishes] {
        if (finishes) {
            state_.setSetupDone(true);
            if (finished_) finished_();
        } else {
            state_.setStep(stepForward(state_.values().step));
        }
    });
    forward->set_can_default();
    bar->pack_end(*forward, Gtk::PACK_SHRINK);
    // Return presses it once the bar is inside a window.
    forward->signal_realize().connect([forward] { forward->grab_default(); });
    return bar;
}

void SetupView::handle(SetupAction action) {
    switch (action) {
        case SetupAction::getStarted: state_.setStep(1); return;
        case SetupAction::chooseCable: state_.setLinkChoice(AppValues::Link::cable); return;
        case SetupAction::chooseAirPlay: state_.setLinkChoice(AppValues::Link::airplay); return;
        case SetupAction::confirmAssistiveTouch: state_.setAssistiveTouchOn(true); return;
        default: break;
    }
    if (actions_) actions_(action);
}

bool SetupView::writePNG(const std::filesystem::path& file) {
    auto surface = Cairo::ImageSurface::create(Cairo::FORMAT_RGB24, get_allocated_width(), get_allocated_height());
    auto cr = Cairo::Context::create(surface);
    cr->set_source_rgb(1, 1, 1);
    cr->paint();
    draw(cr);
    surface->flush();
    try {
        surface->write_to_png(file.string());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace quintalis
