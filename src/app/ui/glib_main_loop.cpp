#include "app/ui/glib_main_loop.h"

#include <glib.h>

#include <algorithm>
#include <chrono>

namespace quintalis {
namespace {

struct DrainSource {
    GSource source;
    MainRunLoop* loop;
};

MainRunLoop& loopOf(GSource* source) { return *reinterpret_cast<DrainSource*>(source)->loop; }

// Ready when a task is due; otherwise GLib may sleep until the next timer,
// rounded up so that it never wakes just before it.
gboolean prepare(GSource* source, gint* timeout) {
    auto due = loopOf(source).nextDue();
    *timeout = -1;
    if (!due) return FALSE;
    const auto now = std::chrono::steady_clock::now();
    // A ready task is due at the clock's first instant: compared, never subtracted.
    if (*due <= now) {
        *timeout = 0;
        return TRUE;
    }
    auto millis = std::chrono::ceil<std::chrono::milliseconds>(*due - now).count();
    *timeout = static_cast<gint>(std::min<int64_t>(millis, G_MAXINT));
    return FALSE;
}

gboolean check(GSource* source) {
    auto due = loopOf(source).nextDue();
    return due && *due <= std::chrono::steady_clock::now();
}

gboolean dispatch(GSource* source, GSourceFunc, gpointer) {
    loopOf(source).runDue();
    return G_SOURCE_CONTINUE;
}

GSourceFuncs drainFuncs{prepare, check, dispatch, nullptr, nullptr, nullptr};

}  // namespace

void drainFromGLib(MainRunLoop& loop) {
    GSource* source = g_source_new(&drainFuncs, sizeof(DrainSource));
    reinterpret_cast<DrainSource*>(source)->loop = &loop;
    g_source_set_name(source, "quintalis.main");
    GMainContext* context = g_main_context_default();
    // A post from another thread while GLib sleeps in poll() must end the
    // sleep, or the task would wait for the next unrelated event.
    loop.setWaker([context] { g_main_context_wakeup(context); });
    g_source_attach(source, context);
    g_source_unref(source);  // the context keeps it for the life of the process
}

}  // namespace quintalis
