#include "engine/http_request_parser.h"

#include <vector>

#include "base/text.h"
#include "engine/request_target.h"

namespace quintalis {
namespace {

bool isValidUTF8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        auto c = static_cast<unsigned char>(text[i]);
        size_t extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 4;
        if (extra == 4 || i + extra >= text.size()) return false;
        uint32_t point = extra == 0 ? c : c & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = (point << 6) | (next & 0x3F);
        }
        static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (point < minimum[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> split(std::string_view text, std::string_view separator, bool dropEmpty) {
    std::vector<std::string_view> pieces;
    for (;;) {
        auto at = text.find(separator);
        auto piece = text.substr(0, at);
        if (!piece.empty() || !dropEmpty) pieces.push_back(piece);
        if (at == std::string_view::npos) return pieces;
        text.remove_prefix(at + separator.size());
    }
}

}  // namespace

HTTPRequestParser::Result HTTPRequestParser::feed(std::string_view bytes) {
    buffer_.append(bytes);
    if (bodyStart_ == std::string::npos) {
        auto end = buffer_.find("\r\n\r\n", scanFrom_);
        if (end == std::string::npos) {
            scanFrom_ = buffer_.size() < 3 ? 0 : buffer_.size() - 3;
            // A blank line still to come would end past the limit.
            if (buffer_.size() >= options_.maxHead) return {Status::invalid, std::nullopt};
            return {Status::needMore, std::nullopt};
        }
        if (end + 4 > options_.maxHead) return {Status::invalid, std::nullopt};
        bodyStart_ = end + 4;
        Result head = parseHead();
        if (head.status == Status::invalid) return head;
    }
    if (!headUsable_ || buffer_.size() - bodyStart_ < contentLength_) {
        if (buffer_.size() > kMaxBuffered) return {Status::invalid, std::nullopt};
        return {Status::needMore, std::nullopt};
    }
    return finish();
}

HTTPRequestParser::Result HTTPRequestParser::parseHead() {
    std::string_view head(buffer_.data(), bodyStart_ - 4);
    if (!isValidUTF8(head)) return {Status::needMore, std::nullopt};
    auto lines = split(head, "\r\n", false);
    auto words = split(lines[0], " ", true);
    if (words.size() < 2) return {Status::needMore, std::nullopt};
    request_.method = std::string(words[0]);
    target_ = std::string(words[1]);

    int64_t length = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        auto colon = lines[i].find(':');
        if (colon == std::string_view::npos) continue;
        std::string name = asciiLowercase(lines[i].substr(0, colon));
        std::string_view value = lines[i].substr(colon + 1);
        if (name == "origin") hasOrigin_ = true;
        if (name == "host") host_ = std::string(trim(value));
        if (name != "content-length" || value.empty() || !options_.readsBody) continue;
        // A length that is not a number counts as 0 (clients rely on a sloppy
        // header meaning "no body"); a negative or overflowing one is malformed.
        int64_t parsed = 0;
        DecimalParse read = parseDecimal(trim(value), parsed);
        if (read == DecimalParse::outOfRange || (read == DecimalParse::ok && parsed < 0)) {
            return {Status::invalid, HTTPResponse::error("bad Content-Length")};
        }
        length = read == DecimalParse::ok ? parsed : 0;
    }
    // Refuse an oversized body as soon as it is announced, not after buffering it.
    if (static_cast<uint64_t>(length) > kMaxBuffered) return {Status::invalid, std::nullopt};
    contentLength_ = static_cast<uint64_t>(length);
    headUsable_ = true;
    return {Status::needMore, std::nullopt};
}

HTTPRequestParser::Result HTTPRequestParser::finish() {
    std::string_view body(buffer_.data() + bodyStart_, contentLength_);
    request_.body = JSON::object();
    if (!body.empty()) {
        if (auto parsed = parseJSON(body); parsed && parsed->is_object()) request_.body = std::move(*parsed);
    }
    if (auto target = parseRequestTarget(target_)) {
        request_.path = std::move(target->path);
        request_.query = std::move(target->query);
    } else {
        request_.path = target_;
        request_.query.clear();
    }
    return {Status::complete, std::nullopt};
}

}  // namespace quintalis
