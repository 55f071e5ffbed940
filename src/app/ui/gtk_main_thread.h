#pragma once

#include "app/model/main_thread.h"

namespace quintalis {

// The main thread as GLib's default main context runs it (the GTK loop).
// Posting is safe from any thread: GLib's own idle and timeout sources are.
class GtkMainThread final : public MainThread {
public:
    void post(Task task) override;
    void postAfter(Duration delay, Task task) override;
};

}  // namespace quintalis
