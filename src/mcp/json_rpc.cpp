#include "mcp/json_rpc.h"

#include <algorithm>

namespace quintalis::mcp::jsonrpc {

Message classify(const JSON& value) {
    Message message;
    if (!value.is_object()) return message;
    auto id = value.find("id");
    bool usableID = id != value.end() && (id->is_string() || id->is_number_integer() || id->is_number_unsigned());
    if (usableID) message.id = *id;
    if (value.value("jsonrpc", JSON()) != "2.0") return message;
    auto method = value.find("method");
    if (method == value.end()) {
        bool answers = value.contains("result") || value.contains("error");
        if (answers && id != value.end()) message.kind = Message::Kind::response;
        return message;
    }
    if (!method->is_string()) return message;
    auto params = value.find("params");
    if (params != value.end() && !params->is_object() && !params->is_array()) return message;
    if (params != value.end()) message.params = *params;
    message.method = method->get<std::string>();
    if (id == value.end()) {
        message.kind = Message::Kind::notification;
    } else if (usableID) {
        message.kind = Message::Kind::request;
    }
    return message;
}

JSON result(const JSON& id, JSON result) { return JSON{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}}; }

JSON error(const JSON& id, int code, const std::string& message, std::optional<JSON> data) {
    JSON body{{"code", code}, {"message", message}};
    if (data) body["data"] = std::move(*data);
    return JSON{{"jsonrpc", "2.0"}, {"id", id}, {"error", std::move(body)}};
}

namespace {

void writeString(const std::string& text, std::string& out) {
    // Pictures travel as Base64, a hundred kilobytes with nothing to escape:
    // copied as they are, instead of character by character.
    bool plain = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; });
    if (plain) {
        out += '"';
        out += text;
        out += '"';
    } else {
        out += JSON(text).dump(-1, ' ', false, JSON::error_handler_t::replace);
    }
}

void write(const JSON& value, std::string& out) {
    if (value.is_object()) {
        out += '{';
        bool first = true;
        for (const auto& [key, member] : value.items()) {
            if (!first) out += ',';
            first = false;
            writeString(key, out);
            out += ':';
            write(member, out);
        }
        out += '}';
    } else if (value.is_array()) {
        out += '[';
        for (size_t i = 0; i < value.size(); ++i) {
            if (i > 0) out += ',';
            write(value[i], out);
        }
        out += ']';
    } else if (value.is_string()) {
        writeString(value.get_ref<const std::string&>(), out);
    } else {
        out += value.dump();
    }
}

}  // namespace

std::string line(const JSON& message) {
    std::string out;
    write(message, out);
    out += '\n';
    return out;
}

}  // namespace quintalis::mcp::jsonrpc
