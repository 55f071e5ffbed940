#include "app/ui/setup_view.h"

#include <glibmm/main.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/stylecontext.h>
#include <gtkmm/window.h>

#include "app/ui/page_widgets.h"

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
    signal_hierarchy_changed().connect([this](Gtk::Widget*) { pickDefault(true); });
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
    const AppValues& values = state_.values();
    if (!main_) {
        railColumn_ = Gtk::manage(new Gtk::Box(Gtk::ORIENTATION_VERTICAL, 4));
        railColumn_->get_style_context()->add_class("rail");
        railColumn_->set_size_request(230, -1);
        auto* name = plainLabel("Quintalis", "rail-name");
        name->set_margin_bottom(14);
        railColumn_->pack_start(*name, Gtk::PACK_SHRINK);
        pack_start(*railColumn_, Gtk::PACK_SHRINK);
        main_ = Gtk::manage(new Gtk::Box(Gtk::ORIENTATION_VERTICAL, 0));
        scroller_ = Gtk::manage(new Gtk::ScrolledWindow());
        scroller_->set_policy(Gtk::POLICY_NEVER, Gtk::POLICY_AUTOMATIC);
        main_->pack_start(*scroller_, Gtk::PACK_EXPAND_WIDGET);
        pack_start(*main_, Gtk::PACK_EXPAND_WIDGET);
    }
    updateRail(values);
    SetupPage page = setupPage(values.step, values, context_);
    if (values.step != stepShown_ && page_) {
        // Another page: its own widgets, from its top.
        // Deleting the viewport the scroller made deletes the page with it.
        delete scroller_->get_child();
        page_ = nullptr;
        scroller_->get_vadjustment()->set_value(0);
    }
    if (!page_) {
        page_ = Gtk::manage(new LivePage([this](SetupAction a) { handle(a); }));
        scroller_->add(*page_);
    }
    const bool newStep = values.step != stepShown_;
    stepShown_ = values.step;
    page_->update(page, phone_);
    updateBar(setupBottomBar(values, page));
    show_all();
    pickDefault(newStep);
}

void SetupView::updateRail(const AppValues& values) {
    Rail model = setupRail(values, context_.version);
    if (railShown_ == model) return;
    if (!railShown_ || railShown_->entries != model.entries) {
        auto* made = railEntries(model);
        replaceKeepingFocus(*railColumn_, railEntries_, *made, 1);
        railEntries_ = made;
    }
    if (!railShown_ || railShown_->status != model.status || railShown_->version != model.version) {
        // Plain labels: nothing in them takes focus.
        auto* status = Gtk::manage(new Gtk::Box(Gtk::ORIENTATION_VERTICAL, 3));
        status->set_margin_top(20);
        for (const auto& line : model.status) status->pack_start(*plainLabel(line, "quiet"), Gtk::PACK_SHRINK);
        status->pack_end(*plainLabel(model.version, "quiet"), Gtk::PACK_SHRINK);
        replaceKeepingFocus(*railColumn_, railStatus_, *status, 2, Gtk::PACK_EXPAND_WIDGET);
        railStatus_ = status;
    }
    railShown_ = model;
}

Gtk::Widget* SetupView::railEntries(const Rail& model) {
    auto* column = Gtk::manage(new Gtk::Box(Gtk::ORIENTATION_VERTICAL, 4));
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
    return column;
}

void SetupView::updateBar(const BottomBar& model) {
    if (barShown_ == model) return;
    barShown_ = model;
    forward_ = nullptr;
    if (!model.shown) {
        delete bar_;
        bar_ = nullptr;
        return;
    }
    auto* made = bottomBar(model);
    replaceKeepingFocus(*main_, bar_, *made, 1);
    bar_ = made;
}

Gtk::Widget* SetupView::bottomBar(const BottomBar& model) {
    auto* bar = Gtk::manage(new Gtk::Box(Gtk::ORIENTATION_HORIZONTAL, 8));
    bar->get_style_context()->add_class("bottom-bar");
    auto* back = Gtk::manage(new Gtk::Button("Back"));
    back->signal_clicked().connect([this] { state_.setStep(stepBack(state_.values().step)); });
    bar->pack_start(*back, Gtk::PACK_SHRINK);
    forward_ = Gtk::manage(new Gtk::Button(model.forward));
    if (model.forwardPrimary) forward_->get_style_context()->add_class("suggested-action");
    forward_->signal_clicked().connect([this, finishes = model.finishes] {
        if (finishes) {
            state_.setSetupDone(true);
            if (finished_) finished_();
        } else {
            state_.setStep(stepForward(state_.values().step));
        }
    });
    bar->pack_end(*forward_, Gtk::PACK_SHRINK);
    return bar;
}

void SetupView::pickDefault(bool focus) {
    Gtk::Button* target = page_ ? page_->primaryButton() : nullptr;
    if (!target) target = forward_;
    if (!target) return;
    target->set_can_default();
    // Outside a window there is nothing to be the default of yet; the view
    // picks again once it is in one.
    auto* window = dynamic_cast<Gtk::Window*>(get_toplevel());
    if (!window) return;
    window->set_default(*target);
    // A focused button takes Return for itself: a new page starts with the
    // focus on the button Return should press, not on the rail's first entry.
    if (focus) target->grab_focus();
}

void SetupView::handle(SetupAction action) {
    switch (action) {
        case SetupAction::getStarted: state_.setStep(1); return;
        case SetupAction::chooseCable: state_.setLinkChoice(AppValues::Link::cable); return;
        case SetupAction::chooseAirPlay: state_.setLinkChoice(AppValues::Link::airplay); return;
        case SetupAction::confirmAssistiveTouch: state_.setAssistiveTouchOn(true); return;
        case SetupAction::togglePause: state_.setPaused(!state_.values().paused); return;
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
