#pragma once

#include <string_view>

namespace quintalis {

// Ends the process at once, naming the member that ran off its queue and
// the queue it belongs to: state touched from two threads at once would
// corrupt quietly and far from the cause, so it is better caught here.
[[noreturn]] void ranOffItsQueue(std::string_view queue, const char* member);

}  // namespace quintalis

// Debug builds check that a member whose state a queue owns runs on that
// queue; release builds compile the check out, so it costs nothing there.
// `queue` is anything with isCurrent() and label(): a SerialQueue, the main
// thread.
#ifdef NDEBUG
#define QUINTALIS_ON_QUEUE(queue) ((void)0)
#else
#define QUINTALIS_ON_QUEUE(queue) \
    ((queue).isCurrent() ? (void)0 : ::quintalis::ranOffItsQueue((queue).label(), __func__))
#endif
