#include "base/thread_name.h"

#include <pthread.h>

namespace quintalis {

void nameCurrentThread(const std::string& label) {
    pthread_setname_np(pthread_self(), label.substr(0, 15).c_str());
}

}  // namespace quintalis
