#include "phones/device.h"

namespace quintalis {

JSON Device::json() const {
    JSON record{{"id", screen->id()}, {"name", screen->name()}, {"bluetooth", host.has_value()}};
    if (auto size = screen->size()) {
        record["width"] = size->width;
        record["height"] = size->height;
    }
    return record;
}

}  // namespace quintalis
