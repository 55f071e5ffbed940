#include "app/model/json_text_edit.h"

#include <vector>

#include "base/json.h"

namespace quintalis {
namespace {

// A member of an object as it stands in the text: its key, and where its
// key and its value start and end.
struct Member {
    std::string key;
    size_t keyStart = 0;
    size_t valueStart = 0;
    size_t valueEnd = 0;
};

// Reads a text already known to be valid JSON, one value at a time.
class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    size_t skipSpace(size_t at) const {
        while (at < text_.size() && (text_[at] == ' ' || text_[at] == '\t' || text_[at] == '\n' || text_[at] == '\r')) {
            ++at;
        }
        return at;
    }

    // The end of the value that starts at `at`.
    size_t valueEnd(size_t at) const {
        char c = text_[at];
        if (c == '"') return stringEnd(at);
        if (c == '{' || c == '[') {
            int depth = 0;
            for (size_t i = at; i < text_.size(); ++i) {
                if (text_[i] == '"') {
                    i = stringEnd(i) - 1;
                } else if (text_[i] == '{' || text_[i] == '[') {
                    ++depth;
                } else if (text_[i] == '}' || text_[i] == ']') {
                    if (--depth == 0) return i + 1;
                }
            }
            return text_.size();
        }
        while (at < text_.size() && text_[at] != ',' && text_[at] != '}' && text_[at] != ']' && text_[at] != ' ' &&
               text_[at] != '\t' && text_[at] != '\n' && text_[at] != '\r') {
            ++at;
        }
        return at;
    }

    // The members of the object whose "{" is at `open`.
    std::vector<Member> members(size_t open) const {
        std::vector<Member> found;
        size_t at = skipSpace(open + 1);
        while (at < text_.size() && text_[at] == '"') {
            Member member;
            member.keyStart = at;
            size_t keyEnd = stringEnd(at);
            // Keys may be written with escapes; compare them as the parsers read them.
            member.key = parseJSON(text_.substr(at, keyEnd - at)).value_or(JSON("")).get<std::string>();
            at = skipSpace(skipSpace(keyEnd) + 1);  // past the colon
            member.valueStart = at;
            member.valueEnd = valueEnd(at);
            found.push_back(member);
            at = skipSpace(member.valueEnd);
            if (at < text_.size() && text_[at] == ',') at = skipSpace(at + 1);
        }
        return found;
    }

private:
    size_t stringEnd(size_t at) const {
        for (size_t i = at + 1; i < text_.size(); ++i) {
            if (text_[i] == '\\') {
                ++i;
            } else if (text_[i] == '"') {
                return i + 1;
            }
        }
        return text_.size();
    }

    std::string_view text_;
};

const Member* last(const std::vector<Member>& members, std::string_view key) {
    const Member* found = nullptr;
    for (const auto& member : members) {
        if (member.key == key) found = &member;
    }
    return found;
}

std::string quoted(std::string_view key) { return JSON(std::string(key)).dump(); }

// The text with `member` (a whole `"key": value`) added first in the object
// whose "{" is at `open`, indented like the members already there.
std::string insertFirst(std::string_view text, const Scanner& scan, size_t open, const std::string& member) {
    size_t first = scan.skipSpace(open + 1);
    std::string out(text.substr(0, open + 1));
    if (text[first] == '}') return out + member + std::string(text.substr(first));
    std::string_view indent = text.substr(open + 1, first - open - 1);
    out += std::string(indent) + member + ",";
    out += std::string(indent.empty() ? " " : indent);
    return out + std::string(text.substr(first));
}

std::string replaced(std::string_view text, size_t start, size_t end, std::string_view with) {
    return std::string(text.substr(0, start)) + std::string(with) + std::string(text.substr(end));
}

}  // namespace

std::optional<std::string> setNestedMember(std::string_view document, std::string_view outer, std::string_view inner,
                                           std::string_view value) {
    auto parsed = parseJSON(std::string(document));
    if (!parsed || !parsed->is_object()) return std::nullopt;
    Scanner scan(document);
    // A byte-order mark the parser passed over stays where it is.
    size_t open = scan.skipSpace(document.starts_with("\xEF\xBB\xBF") ? 3 : 0);
    if (open >= document.size() || document[open] != '{') return std::nullopt;
    const std::string innerMember = quoted(inner) + ": " + std::string(value);
    auto outerMembers = scan.members(open);
    const Member* servers = last(outerMembers, outer);
    if (!servers) return insertFirst(document, scan, open, quoted(outer) + ": {" + innerMember + "}");
    if (document[servers->valueStart] != '{') {
        return replaced(document, servers->valueStart, servers->valueEnd, "{" + innerMember + "}");
    }
    auto innerMembers = scan.members(servers->valueStart);
    if (const Member* entry = last(innerMembers, inner)) {
        return replaced(document, entry->valueStart, entry->valueEnd, value);
    }
    return insertFirst(document, scan, servers->valueStart, innerMember);
}

}  // namespace quintalis
