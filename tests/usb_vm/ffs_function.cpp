#include "ffs_function.h"

#include <endian.h>
#include <fcntl.h>
#include <linux/usb/functionfs.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace quintalis::gadget {
namespace {

void put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(value & 0xFF);
    out.push_back(value >> 8);
}
void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back((value >> (8 * i)) & 0xFF);
}

void interfaceDescriptor(std::vector<uint8_t>& out, uint8_t subclass, uint8_t protocol) {
    out.insert(out.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, 0xFF, subclass, protocol, 1});
}
void bulkEndpoint(std::vector<uint8_t>& out, uint8_t address, uint16_t maxPacket) {
    out.insert(out.end(), {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, USB_ENDPOINT_XFER_BULK});
    put16(out, maxPacket);
    out.push_back(0);
}

bool writeAll(int fd, const std::vector<uint8_t>& bytes) {
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

}  // namespace

FfsFunction::FfsFunction(const std::string& root, std::string instance, uint8_t subclass, uint8_t protocol, std::string label)
    : instance_(std::move(instance)),
      subclass_(subclass),
      protocol_(protocol),
      label_(std::move(label)),
      directory_(root + "/" + instance_) {}

FfsFunction::~FfsFunction() {
    if (ep0_ >= 0) ::close(ep0_);
    if (mounted_) ::umount(directory_.c_str());
    ::rmdir(directory_.c_str());
}

bool FfsFunction::open() {
    auto fail = [&](const std::string& what) {
        std::cerr << "gadget: " << what << " " << directory_ << ": " << std::strerror(errno) << "\n";
        return false;
    };
    if (::mkdir(directory_.c_str(), 0755) != 0 && errno != EEXIST) return fail("mkdir");
    if (::mount(instance_.c_str(), directory_.c_str(), "functionfs", 0, nullptr) != 0) return fail("mount functionfs at");
    mounted_ = true;
    ep0_ = ::open((directory_ + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    if (ep0_ < 0) return fail("open ep0 of");

    // Every control request for the device comes here (the reveal request
    // is addressed to the device, not to an interface), also while it is
    // unconfigured; otherwise the kernel stalls it.
    std::vector<uint8_t> body;
    put32(body, 3);  // full-speed descriptors
    put32(body, 3);  // high-speed descriptors
    for (uint16_t maxPacket : {64, 512}) {
        interfaceDescriptor(body, subclass_, protocol_);
        bulkEndpoint(body, 1 | USB_DIR_IN, maxPacket);
        bulkEndpoint(body, 2 | USB_DIR_OUT, maxPacket);
    }
    std::vector<uint8_t> descriptors;
    put32(descriptors, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    put32(descriptors, static_cast<uint32_t>(12 + body.size()));
    put32(descriptors, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC | FUNCTIONFS_ALL_CTRL_RECIP |
                           FUNCTIONFS_CONFIG0_SETUP);
    descriptors.insert(descriptors.end(), body.begin(), body.end());
    if (!writeAll(ep0_, descriptors)) return fail("write descriptors to");

    std::vector<uint8_t> strings;
    put32(strings, FUNCTIONFS_STRINGS_MAGIC);
    put32(strings, static_cast<uint32_t>(16 + 2 + label_.size() + 1));
    put32(strings, 1);  // strings per language
    put32(strings, 1);  // languages
    put16(strings, 0x0409);
    strings.insert(strings.end(), label_.begin(), label_.end());
    strings.push_back(0);
    if (!writeAll(ep0_, strings)) return fail("write strings to");
    return true;
}

std::vector<FfsFunction::Event> FfsFunction::events() {
    usb_functionfs_event raw[4];
    ssize_t n = ::read(ep0_, raw, sizeof raw);
    std::vector<Event> events;
    for (ssize_t i = 0; n > 0 && i < n / static_cast<ssize_t>(sizeof raw[0]); ++i) {
        Event event{Event::other, {}};
        switch (raw[i].type) {
            case FUNCTIONFS_BIND: event.kind = Event::bind; break;
            case FUNCTIONFS_UNBIND: event.kind = Event::unbind; break;
            case FUNCTIONFS_ENABLE: event.kind = Event::enable; break;
            case FUNCTIONFS_DISABLE: event.kind = Event::disable; break;
            case FUNCTIONFS_SUSPEND: event.kind = Event::suspend; break;
            case FUNCTIONFS_RESUME: event.kind = Event::resume; break;
            case FUNCTIONFS_SETUP:
                event.kind = Event::setup;
                event.request = raw[i].u.setup;
                break;
            default: break;
        }
        events.push_back(event);
    }
    return events;
}

bool FfsFunction::acknowledge() { return ::read(ep0_, nullptr, 0) == 0; }

// FunctionFS stalls a request when the answer goes the wrong way.
void FfsFunction::stall(const usb_ctrlrequest& request) {
    if (request.bRequestType & USB_DIR_IN) {
        (void)!::read(ep0_, nullptr, 0);
    } else {
        (void)!::write(ep0_, nullptr, 0);
    }
}

}  // namespace quintalis::gadget
