#include "mcp/phone_choice.h"

#include "base/phone_names.h"
#include "mcp/screen_text.h"
#include "mcp/tool_sentences.h"

namespace quintalis::mcp {

Phone choosePhone(const PhoneList& list, const std::optional<std::string>& wanted) {
    if (list.phones.empty()) throw PhoneError(noPhoneSentence(list));
    if (!wanted || wanted->empty()) {
        if (list.phones.size() == 1) return list.phones.front();
        throw PhoneError(std::to_string(list.phones.size()) + " phones are connected; pass phone with one of their ids:" +
                         described(list.phones));
    }
    const auto& phones = list.phones;
    auto found = phonesFitting(
        phones, *wanted, [](const Phone& p) { return p.id; }, [](const Phone& p) { return p.name; });
    if (found.empty()) throw PhoneError("No phone matches " + inQuotes(*wanted) + ". Connected:" + described(phones));
    if (found.size() > 1) {
        throw PhoneError(inQuotes(*wanted) + " fits " + std::to_string(found.size()) +
                         " phones; pass phone with the whole id of one:" + described(found));
    }
    return found.front();
}

}  // namespace quintalis::mcp
