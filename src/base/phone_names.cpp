#include "base/phone_names.h"

#include "base/text.h"

namespace quintalis {

std::vector<size_t> phonesFitting(const std::vector<PhoneNames>& phones, std::string_view wanted) {
    const std::string folded = foldCase(wanted);
    std::vector<std::string> ids;
    ids.reserve(phones.size());
    for (const auto& phone : phones) ids.push_back(foldCase(phone.id));
    auto where = [&](auto fits) {
        std::vector<size_t> found;
        for (size_t at = 0; at < phones.size(); ++at) {
            if (fits(at)) found.push_back(at);
        }
        return found;
    };
    auto found = where([&](size_t at) { return ids[at] == folded; });
    if (found.empty()) found = where([&](size_t at) { return foldCase(phones[at].name) == folded; });
    if (found.empty()) found = where([&](size_t at) { return ids[at].starts_with(folded); });
    return found;
}

}  // namespace quintalis
