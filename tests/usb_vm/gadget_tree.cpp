#include "gadget_tree.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace quintalis::gadget {
namespace {

void complain(const std::string& what, const std::string& path) {
    std::cerr << "gadget: " << what << " " << path << ": " << std::strerror(errno) << "\n";
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

}  // namespace

GadgetTree::GadgetTree(std::string root) : root_(std::move(root)) {}

GadgetTree::~GadgetTree() {
    clear();
    for (const auto& instance : functions_) removeDirectory("functions/ffs." + instance);
    removeDirectory("strings/0x409");
    if (::rmdir(root_.c_str()) != 0 && errno != ENOENT) complain("rmdir", root_);
}

bool GadgetTree::write(const std::string& relative, const std::string& value) {
    const std::string path = root_ + "/" + relative;
    // configfs takes each attribute in one write(2); a stream could split it.
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        complain("open", path);
        return false;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    bool ok = std::fwrite(value.data(), 1, value.size(), file) == value.size();
    if (!ok) complain("write '" + value + "' to", path);
    std::fclose(file);
    return ok;
}

bool GadgetTree::makeDirectory(const std::string& relative) {
    const std::string path = relative.empty() ? root_ : root_ + "/" + relative;
    if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
    complain("mkdir", path);
    return false;
}

void GadgetTree::removeDirectory(const std::string& relative) {
    const std::string path = root_ + "/" + relative;
    if (::rmdir(path.c_str()) != 0 && errno != ENOENT) complain("rmdir", path);
}

bool GadgetTree::create(const Identity& identity) {
    return makeDirectory("") && write("idVendor", hex4(identity.vendor)) && write("idProduct", hex4(identity.product)) &&
           write("bcdDevice", "0x1404") && write("bcdUSB", "0x0200") && write("bDeviceClass", "0x00") &&
           write("bMaxPacketSize0", "64") && makeDirectory("strings/0x409") &&
           write("strings/0x409/manufacturer", identity.manufacturer) &&
           write("strings/0x409/product", identity.productName) && write("strings/0x409/serialnumber", identity.serial);
}

bool GadgetTree::addFunction(const std::string& instance) {
    if (!makeDirectory("functions/ffs." + instance)) return false;
    functions_.push_back(instance);
    return true;
}

bool GadgetTree::addConfiguration(int value, const std::string& label, const std::vector<std::string>& instances) {
    const std::string config = "configs/c." + std::to_string(value);
    if (!makeDirectory(config) || !makeDirectory(config + "/strings/0x409") ||
        !write(config + "/strings/0x409/configuration", label) || !write(config + "/MaxPower", "500")) {
        return false;
    }
    configurations_.emplace_back(value, std::vector<std::string>{});
    for (const auto& instance : instances) {
        std::string from = root_ + "/functions/ffs." + instance, to = root_ + "/" + config + "/ffs." + instance;
        if (::symlink(from.c_str(), to.c_str()) != 0 && errno != EEXIST) {
            complain("link", to);
            return false;
        }
        configurations_.back().second.push_back(instance);
    }
    return true;
}

void GadgetTree::removeConfiguration(int value) {
    const std::string config = "configs/c." + std::to_string(value);
    for (auto it = configurations_.begin(); it != configurations_.end(); ++it) {
        if (it->first != value) continue;
        for (const auto& instance : it->second) {
            std::string link = root_ + "/" + config + "/ffs." + instance;
            if (::unlink(link.c_str()) != 0 && errno != ENOENT) complain("unlink", link);
        }
        configurations_.erase(it);
        break;
    }
    removeDirectory(config + "/strings/0x409");
    removeDirectory(config);
}

void GadgetTree::clear() {
    unbind();
    while (!configurations_.empty()) removeConfiguration(configurations_.back().first);
}

bool GadgetTree::bind(const std::string& controller) {
    if (bound_) return true;
    bound_ = write("UDC", controller);
    return bound_;
}

void GadgetTree::unbind() {
    if (!bound_) return;
    write("UDC", "\n");
    bound_ = false;
}

std::string firstController() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/udc", error)) {
        return entry.path().filename().string();
    }
    return "";
}

}  // namespace quintalis::gadget
