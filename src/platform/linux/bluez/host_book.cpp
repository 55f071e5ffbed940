#include "platform/linux/bluez/host_book.h"

#include <fstream>
#include <sstream>

#include "base/atomic_file.h"
#include "base/json.h"
#include "base/log.h"
#include "base/text.h"
#include "platform/linux/bluez/bluez_names.h"

namespace quintalis::bluez {

HostBook::HostBook(std::filesystem::path file) : file_(std::move(file)) {
    if (file_.empty()) return;
    std::ifstream in(file_);
    if (!in) return;  // none yet
    std::stringstream text;
    text << in.rdbuf();
    auto parsed = parseJSON(text.str());
    if (!parsed || !parsed->is_object()) {
        // Losing the book only means hosts count again once they next use the application.
        log("ignoring " + file_.string() + ": not a JSON object");
        return;
    }
    for (const auto& [address, host] : parsed->items()) {
        auto id = host.is_string() ? UUID::parse(host.get<std::string>()) : std::nullopt;
        if (id) hosts_[asciiLowercase(address)] = *id;
    }
}

bool HostBook::knows(const std::string& address) const { return hosts_.count(asciiLowercase(address)) > 0; }

UUID HostBook::host(const std::string& address) const {
    auto found = hosts_.find(asciiLowercase(address));
    return found == hosts_.end() ? centralId(address) : found->second;
}

bool HostBook::remember(const std::string& address) {
    if (address.empty() || knows(address)) return false;
    hosts_[asciiLowercase(address)] = centralId(address);
    save();
    return true;
}

void HostBook::moved(const std::string& from, const std::string& to) {
    auto found = hosts_.find(asciiLowercase(from));
    if (found == hosts_.end() || to.empty()) return;
    UUID id = found->second;
    hosts_.erase(found);
    hosts_[asciiLowercase(to)] = id;
    save();
}

void HostBook::forget(const std::string& address) {
    if (hosts_.erase(asciiLowercase(address))) save();
}

void HostBook::save() const {
    if (file_.empty()) return;
    JSON object = JSON::object();
    for (const auto& [address, id] : hosts_) object[address] = id.string();
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    if (!writeFileAtomically(file_, serializeJSON(object) + "\n", error)) {
        log("could not write " + file_.string() + ": " + error.message());
    }
}

}  // namespace quintalis::bluez
