#include "platform/linux/xcb_window_server.h"

#include <xcb/res.h>

#include <algorithm>
#include <map>
#include <string>

#include "base/process_name.h"

namespace quintalis {
namespace {

constexpr int kClientSearchDepth = 4;  // frames nest the client a level or two down

XReply<xcb_get_property_reply_t> property(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    return xreply(xcb_get_property_reply(c, cookie, nullptr));
}

std::string propertyText(const xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 8) return "";
    return std::string(static_cast<const char*>(xcb_get_property_value(reply)),
                       static_cast<size_t>(xcb_get_property_value_length(reply)));
}

// ICCCM's STRING type is ISO Latin-1, whose code points are its byte values.
std::string latin1ToUTF8(const std::string& latin1) {
    std::string text;
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

// WM_NAME as UTF-8, whichever of the two usual types it came in.
std::string legacyTitle(const xcb_get_property_reply_t* reply) {
    std::string text = propertyText(reply);
    return reply && reply->type == XCB_ATOM_STRING ? latin1ToUTF8(text) : text;
}

xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name, xcb_atom_t type,
                                      uint32_t longs = 1024) {
    return xcb_get_property(c, 0, window, name, type, 0, longs);
}

// Under a reparenting window manager the top-level windows are frames and the
// client is the descendant that carries WM_STATE; without one the top-level
// window is the client. Requests go out a whole level at a time, so a
// listing costs a few round trips, not one per window.
std::vector<xcb_window_t> clientsOf(XConnection& x, const std::vector<xcb_window_t>& topLevels) {
    xcb_connection_t* c = x.get();
    const xcb_atom_t wmState = x.atom("WM_STATE");
    std::vector<xcb_window_t> clients(topLevels.size(), XCB_WINDOW_NONE);
    // Each entry: which top-level it belongs to, and a window to test.
    std::vector<std::pair<size_t, xcb_window_t>> level;
    for (size_t i = 0; i < topLevels.size(); ++i) level.emplace_back(i, topLevels[i]);
    for (int depth = 0; depth < kClientSearchDepth && !level.empty(); ++depth) {
        std::vector<xcb_get_property_cookie_t> states;
        for (const auto& [owner, window] : level) states.push_back(askProperty(c, window, wmState, XCB_ATOM_ANY, 0));
        std::vector<std::pair<size_t, xcb_window_t>> undecided;
        for (size_t i = 0; i < level.size(); ++i) {
            auto reply = property(c, states[i]);
            const size_t owner = level[i].first;
            if (clients[owner] != XCB_WINDOW_NONE) continue;
            if (reply && reply->type != XCB_ATOM_NONE) {
                clients[owner] = level[i].second;
            } else {
                undecided.push_back(level[i]);
            }
        }
        std::vector<xcb_query_tree_cookie_t> trees;
        for (const auto& [owner, window] : undecided) trees.push_back(xcb_query_tree(c, window));
        level.clear();
        for (size_t i = 0; i < undecided.size(); ++i) {
            auto tree = xreply(xcb_query_tree_reply(c, trees[i], nullptr));
            if (!tree || clients[undecided[i].first] != XCB_WINDOW_NONE) continue;
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            for (int k = xcb_query_tree_children_length(tree.get()) - 1; k >= 0; --k) {
                level.emplace_back(undecided[i].first, children[k]);
            }
        }
    }
    for (size_t i = 0; i < clients.size(); ++i) {
        if (clients[i] == XCB_WINDOW_NONE) clients[i] = topLevels[i];
    }
    return clients;
}

struct Requests {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_property_cookie_t netName, name, wmClass, netState, netPid;
    std::optional<xcb_res_query_client_ids_cookie_t> clientIds;
};

int32_t pidFromClientIds(xcb_connection_t* c, xcb_res_query_client_ids_cookie_t cookie) {
    auto reply = xreply(xcb_res_query_client_ids_reply(c, cookie, nullptr));
    if (!reply) return 0;
    for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem; xcb_res_client_id_value_next(&ids)) {
        const auto& [asked, valueBytes] = *ids.data;
        if ((asked.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) && valueBytes == sizeof(uint32_t)) {
            return static_cast<int32_t>(*xcb_res_client_id_value_value(ids.data));
        }
    }
    return 0;
}

std::vector<WindowDescription> listWindows(XConnection& x) {
    xcb_connection_t* c = x.get();
    auto tree = xreply(xcb_query_tree_reply(c, xcb_query_tree(c, x.root()), nullptr));
    if (!tree) return {};
    // The server lists children bottom to top.
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    std::vector<xcb_window_t> topLevels(children, children + xcb_query_tree_children_length(tree.get()));
    std::reverse(topLevels.begin(), topLevels.end());
    const std::vector<xcb_window_t> clients = clientsOf(x, topLevels);

    const xcb_atom_t utf8 = x.atom("UTF8_STRING"), netName = x.atom("_NET_WM_NAME"), netState = x.atom("_NET_WM_STATE"),
                     netPid = x.atom("_NET_WM_PID"), above = x.atom("_NET_WM_STATE_ABOVE"),
                     below = x.atom("_NET_WM_STATE_BELOW");
    const bool hasRes = xcb_get_extension_data(c, &xcb_res_id)->present;
    std::vector<Requests> requests;
    for (xcb_window_t window : clients) {
        Requests r{xcb_get_window_attributes(c, window),
                   xcb_get_geometry(c, window),
                   xcb_translate_coordinates(c, window, x.root(), 0, 0),
                   askProperty(c, window, netName, utf8),
                   askProperty(c, window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY),
                   askProperty(c, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING),
                   askProperty(c, window, netState, XCB_ATOM_ATOM),
                   askProperty(c, window, netPid, XCB_ATOM_CARDINAL, 1),
                   std::nullopt};
        if (hasRes) {
            // The query takes the same (client, mask) pair that each answer carries.
            const xcb_res_client_id_value_t ownerPid{{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID}, 0};
            const auto& [pidQuery, unused] = ownerPid;
            r.clientIds = xcb_res_query_client_ids(c, 1, &pidQuery);
        }
        requests.push_back(r);
    }

    std::vector<WindowDescription> windows;
    std::map<int32_t, std::string> owners;  // each process's name read once per listing
    for (size_t i = 0; i < clients.size(); ++i) {
        Requests& r = requests[i];
        auto attributes = xreply(xcb_get_window_attributes_reply(c, r.attributes, nullptr));
        auto geometry = xreply(xcb_get_geometry_reply(c, r.geometry, nullptr));
        auto origin = xreply(xcb_translate_coordinates_reply(c, r.origin, nullptr));
        auto title = property(c, r.netName), name = property(c, r.name), wmClass = property(c, r.wmClass),
             state = property(c, r.netState), pidProperty = property(c, r.netPid);
        int32_t pid = r.clientIds ? pidFromClientIds(c, *r.clientIds) : 0;
        // A window gone since the tree was read, or one that cannot show
        // anything (input-only), is not a window anybody could capture.
        if (!attributes || !geometry || !origin || attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY) continue;

        WindowDescription w;
        w.number = clients[i];
        if (pid == 0 && pidProperty && pidProperty->format == 32 && xcb_get_property_value_length(pidProperty.get()) >= 4) {
            pid = static_cast<int32_t>(*static_cast<const uint32_t*>(xcb_get_property_value(pidProperty.get())));
        }
        w.pid = pid;
        if (pid > 0) {
            auto known = owners.find(pid);
            if (known == owners.end()) known = owners.emplace(pid, processName("/proc/" + std::to_string(pid)).value_or("")).first;
            w.owner = known->second;
        }
        const std::string classes = propertyText(wmClass.get());
        const size_t split = classes.find('\0');
        if (split != std::string::npos) w.bundle = std::string(classes.c_str() + split + 1);
        w.title = propertyText(title.get());
        if (w.title.empty()) w.title = legacyTitle(name.get());
        w.x = origin->dst_x;
        w.y = origin->dst_y;
        w.width = geometry->width;
        w.height = geometry->height;
        if (state && state->format == 32) {
            const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(state.get()));
            const int count = xcb_get_property_value_length(state.get()) / 4;
            for (int k = 0; k < count; ++k) {
                if (atoms[k] == above) w.layer = 1;
                if (atoms[k] == below) w.layer = -1;
            }
        }
        w.onScreen = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        windows.push_back(std::move(w));
    }
    return windows;
}

}  // namespace

std::optional<std::string> XcbWindowServer::unavailableReason() {
    std::string error;
    if (display_.connection(&error)) return std::nullopt;
    return error;
}

std::vector<WindowDescription> XcbWindowServer::windows() {
    auto connection = display_.connection();
    if (!connection) return {};
    return listWindows(*connection);
}

std::vector<WindowDescription> XcbWindowServer::onScreenWindows() {
    auto all = windows();
    std::erase_if(all, [](const WindowDescription& w) { return !w.onScreen; });
    return all;
}

}  // namespace quintalis
