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

// A header name is a token: letters, digits and a few marks, nothing else
// (no space before the colon, which would let two readers disagree on it).
bool isToken(std::string_view text) {
    if (text.empty()) return false;
    for (unsigned char c : text) {
        bool alphanumeric = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        bool mark = std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
        if (!alphanumeric && !mark) return false;
    }
    return true;
}

bool isHTTP1(std::string_view version) {
    return version.size() == 8 && version.starts_with("HTTP/1.") && version[7] >= '0' && version[7] <= '9';
}

HTTPRequestParser::Result badRequest() {
    return {HTTPRequestParser::Status::invalid, HTTPResponse::error("bad request"), false};
}

}  // namespace

HTTPRequestParser::Result HTTPRequestParser::feed(std::string_view bytes) {
    buffer_.append(bytes);
    while (bodyStart_ == std::string::npos) {
        auto end = buffer_.find('\n', scanFrom_);
        if (end == std::string::npos) {
            scanFrom_ = buffer_.size();
            // The line end still to come would end the head past the limit.
            if (buffer_.size() >= options_.maxHead) return {Status::invalid, std::nullopt};
            return {Status::needMore, std::nullopt};
        }
        if (end + 1 > options_.maxHead) return {Status::invalid, std::nullopt};
        std::string_view line(buffer_.data() + lineStart_, end - lineStart_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lineStart_ = scanFrom_ = end + 1;
        Result judged = headLine(line);
        if (judged.status != Status::needMore || judged.sendContinue) return judged;
    }
    if (buffer_.size() - bodyStart_ < static_cast<uint64_t>(contentLength_)) return {Status::needMore, std::nullopt};
    return finish();
}

HTTPRequestParser::Result HTTPRequestParser::headLine(std::string_view line) {
    if (!isValidUTF8(line)) return badRequest();
    if (!requestLineSeen_) {
        // An empty line before the request is tolerated, as HTTP asks of servers.
        if (line.empty()) return {Status::needMore, std::nullopt};
        return requestLine(line);
    }
    if (line.empty()) return endOfHead();
    return header(line);
}

HTTPRequestParser::Result HTTPRequestParser::requestLine(std::string_view line) {
    auto words = split(line, " ", true);
    if (words.size() != 3 || !isHTTP1(words[2])) return badRequest();
    request_.method = std::string(words[0]);
    target_ = std::string(words[1]);
    requestLineSeen_ = true;
    return {Status::needMore, std::nullopt};
}

HTTPRequestParser::Result HTTPRequestParser::header(std::string_view line) {
    auto colon = line.find(':');
    if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) return badRequest();
    std::string name = asciiLowercase(line.substr(0, colon));
    std::string_view value = trim(line.substr(colon + 1));
    if (name == "host") {
        // Two Host headers leave it open which one the browser gate should judge.
        if (source_.host) return badRequest();
        source_.host = std::string(value);
    }
    if (name == "origin" && !source_.origin) source_.origin = std::string(value);
    if (name == "referer" && !source_.referer) source_.referer = std::string(value);
    if (name == "sec-fetch-site" && (!source_.fetchSite || asciiLowercase(*source_.fetchSite) == "none")) {
        source_.fetchSite = std::string(value);
    }
    if (!options_.readsBody) return {Status::needMore, std::nullopt};
    if (name == "transfer-encoding" && asciiLowercase(value) != "identity") encodedBody_ = true;
    if (name == "expect" && asciiLowercase(value) == "100-continue") expectsContinue_ = true;
    if (name != "content-length" || value.empty()) return {Status::needMore, std::nullopt};
    // A length that is not a number counts as 0 (clients rely on a sloppy
    // header meaning "no body"); a negative or overflowing one is malformed.
    int64_t parsed = 0;
    DecimalParse read = parseDecimal(value, parsed);
    if (read == DecimalParse::outOfRange || (read == DecimalParse::ok && parsed < 0)) {
        return {Status::invalid, HTTPResponse::error("bad Content-Length")};
    }
    contentLength_ = read == DecimalParse::ok ? parsed : 0;
    return {Status::needMore, std::nullopt};
}

HTTPRequestParser::Result HTTPRequestParser::endOfHead() {
    if (encodedBody_) {
        return {Status::invalid, HTTPResponse::error("chunked bodies are not supported: send Content-Length", 501)};
    }
    // Refuse an oversized body as soon as it is announced, not after buffering it.
    if (static_cast<uint64_t>(contentLength_) > kMaxBuffered) return {Status::invalid, std::nullopt};
    bodyStart_ = lineStart_;
    bool bodyToCome = buffer_.size() - bodyStart_ < static_cast<uint64_t>(contentLength_);
    return {Status::needMore, std::nullopt, expectsContinue_ && bodyToCome};
}

HTTPRequestParser::Result HTTPRequestParser::finish() {
    std::string_view body(buffer_.data() + bodyStart_, static_cast<size_t>(contentLength_));
    request_.body = JSON::object();
    if (!body.empty()) {
        auto read = readJSON(body);
        // Any other body that is not an object reaches the routes as {}, and
        // they name what is missing; too deep a one would be no better there.
        if (read.tooDeep) return {Status::invalid, HTTPResponse::error(kJSONTooDeep)};
        if (read.value && read.value->is_object()) request_.body = std::move(*read.value);
    }
    if (auto authority = targetAuthority(target_)) source_.targetAuthority = std::string(*authority);
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
