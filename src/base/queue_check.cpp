#include "base/queue_check.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace quintalis {

void ranOffItsQueue(std::string_view queue, const char* member) {
    std::fprintf(stderr, "%s ran off its queue %s\n", member, std::string(queue).c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace quintalis
