#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quintalis {

// What a person may call a phone by: its id, or the name it shows.
struct PhoneNames {
    std::string id;
    std::string name;
};

// The phones a person's word `wanted` can mean, as positions in `phones`:
// those whose whole id equals it, failing that those whose name does,
// failing that those whose id starts with it, each ignoring letter case for
// all of Unicode (foldCase). Empty when nothing fits. More than one is an
// answer too: names repeat and starts of ids are shared, and acting on the
// first of several would drive a phone the person may not mean, so every
// caller refuses then and says how many fit.
std::vector<size_t> phonesFitting(const std::vector<PhoneNames>& phones, std::string_view wanted);

// The same over any list, given how to read an item's id and name.
template <typename Item, typename Id, typename Name>
std::vector<Item> phonesFitting(const std::vector<Item>& items, std::string_view wanted, Id id, Name name) {
    std::vector<PhoneNames> names;
    names.reserve(items.size());
    for (const auto& item : items) names.push_back({std::string(id(item)), std::string(name(item))});
    std::vector<Item> found;
    for (size_t at : phonesFitting(names, wanted)) found.push_back(items[at]);
    return found;
}

}  // namespace quintalis
