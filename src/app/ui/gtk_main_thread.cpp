#include "app/ui/gtk_main_thread.h"

#include <glib.h>

#include <algorithm>

namespace quintalis {
namespace {

gboolean runOnce(gpointer data) {
    (*static_cast<Task*>(data))();
    return G_SOURCE_REMOVE;
}

void destroyTask(gpointer data) { delete static_cast<Task*>(data); }

}  // namespace

void GtkMainThread::post(Task task) {
    g_idle_add_full(G_PRIORITY_DEFAULT, runOnce, new Task(std::move(task)), destroyTask);
}

void GtkMainThread::postAfter(Duration delay, Task task) {
    auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(delay).count();
    g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(std::max<int64_t>(0, milliseconds)), runOnce,
                       new Task(std::move(task)), destroyTask);
}

}  // namespace quintalis
