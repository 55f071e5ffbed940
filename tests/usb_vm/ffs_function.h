#pragma once

#include <linux/usb/ch9.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quintalis::gadget {

// One vendor-class interface with a bulk IN and a bulk OUT endpoint, served
// from user space through a FunctionFS mount. Its endpoint files are ep1
// (IN) and ep2 (OUT): FunctionFS numbers them in descriptor order. The
// kernel picks the endpoint addresses, so a host must read them from the
// descriptors.
class FfsFunction {
public:
    struct Event {
        enum Kind { bind, unbind, enable, disable, setup, suspend, resume, other } kind;
        usb_ctrlrequest request{};
    };

    // Mounted at <root>/<instance>.
    FfsFunction(const std::string& root, std::string instance, uint8_t subclass, uint8_t protocol, std::string label);
    ~FfsFunction();
    FfsFunction(const FfsFunction&) = delete;
    FfsFunction& operator=(const FfsFunction&) = delete;

    // Mounts the instance and writes its descriptors; false (after saying
    // why on standard error) when the kernel refuses.
    bool open();

    const std::string& instance() const { return instance_; }
    int control() const { return ep0_; }
    std::string inEndpoint() const { return directory_ + "/ep1"; }
    std::string outEndpoint() const { return directory_ + "/ep2"; }

    // The events ep0 has now (read once poll() said so).
    std::vector<Event> events();
    // A request without data stage: acknowledge its status stage, or stall it.
    bool acknowledge();
    void stall(const usb_ctrlrequest& request);

private:
    const std::string instance_;
    const uint8_t subclass_, protocol_;
    const std::string label_;
    const std::string directory_;
    int ep0_ = -1;
    bool mounted_ = false;
};

}  // namespace quintalis::gadget
