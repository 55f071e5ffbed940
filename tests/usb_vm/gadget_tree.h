#pragma once

#include <string>
#include <vector>

namespace quintalis::gadget {

// The phone's device as configfs builds it (libcomposite): its identity,
// the configurations that list its FunctionFS functions, and the bond to a
// device controller. A configuration directory "c.N" becomes
// bConfigurationValue N, so the phone's own numbering can be kept.
// Each call logs its own failure; the bool says whether it worked.
class GadgetTree {
public:
    struct Identity {
        unsigned vendor, product;
        std::string serial, manufacturer, productName;
    };

    explicit GadgetTree(std::string root);
    ~GadgetTree();
    GadgetTree(const GadgetTree&) = delete;
    GadgetTree& operator=(const GadgetTree&) = delete;

    bool create(const Identity& identity);
    // functions/ffs.<instance>, which a FunctionFS mount of that name serves.
    bool addFunction(const std::string& instance);
    bool addConfiguration(int value, const std::string& label, const std::vector<std::string>& instances);
    void removeConfiguration(int value);
    // Unbound, with no configurations: what must come before its FunctionFS
    // instances are unmounted.
    void clear();
    // The host sees the device arrive (bind) or leave (unbind).
    bool bind(const std::string& controller);
    void unbind();
    bool bound() const { return bound_; }

private:
    bool write(const std::string& relative, const std::string& value);
    bool makeDirectory(const std::string& relative);
    void removeDirectory(const std::string& relative);

    const std::string root_;
    std::vector<std::string> functions_;
    std::vector<std::pair<int, std::vector<std::string>>> configurations_;
    bool bound_ = false;
};

// The first device controller the kernel offers (dummy_hcd's "dummy_udc.0"),
// or "" when there is none.
std::string firstController();

}  // namespace quintalis::gadget
