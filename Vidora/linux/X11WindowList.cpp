// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/X11WindowList.h"

#include <xcb/res.h>

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>
#include <utility>

#include "linux/X11Connection.h"

namespace vidora {
namespace {

// ICCCM WM_STATE values of a window its client has mapped.
constexpr std::uint32_t normalState = 1;
constexpr std::uint32_t iconicState = 3;
// Enough for any client list; the server sends what there is.
constexpr std::uint32_t longestList = 1U << 16;

struct Atoms {
    xcb_atom_t clientListStacking = XCB_ATOM_NONE;
    xcb_atom_t clientList = XCB_ATOM_NONE;
    xcb_atom_t processId = XCB_ATOM_NONE;
    xcb_atom_t state = XCB_ATOM_NONE;
    xcb_atom_t stateHidden = XCB_ATOM_NONE;
    xcb_atom_t windowManagerState = XCB_ATOM_NONE;
};

Atoms internAtoms(xcb_connection_t* connection) {
    constexpr std::array<std::string_view, 6> names = {
        "_NET_CLIENT_LIST_STACKING", "_NET_CLIENT_LIST", "_NET_WM_PID", "_NET_WM_STATE",
        "_NET_WM_STATE_HIDDEN",      "WM_STATE"};
    std::array<xcb_intern_atom_cookie_t, names.size()> cookies{};
    for (std::size_t i = 0; i < names.size(); ++i) {
        cookies[i] =
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(names[i].size()), names[i].data());
    }
    std::array<xcb_atom_t, names.size()> atoms{};
    for (std::size_t i = 0; i < names.size(); ++i) {
        const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookies[i], nullptr));
        atoms[i] = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    }
    return {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5]};
}

xcb_get_property_cookie_t requestProperty(xcb_connection_t* connection, xcb_window_t window,
                                          xcb_atom_t property, std::uint32_t longLength = longestList) {
    return xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, longLength);
}

// The 32-bit items of a property; nothing when the window does not have it.
std::optional<std::vector<std::uint32_t>> propertyItems(xcb_connection_t* connection,
                                                        xcb_get_property_cookie_t cookie) {
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 32) {
        return std::nullopt;
    }
    const auto* items = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const auto count =
        static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) / sizeof(std::uint32_t);
    return std::vector<std::uint32_t>(items, items + count);
}

// WM_CLASS holds the instance and the class, each ending in a NUL.
std::pair<std::string, std::string> windowClass(xcb_connection_t* connection,
                                                xcb_get_property_cookie_t cookie) {
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->format != 8) {
        return {};
    }
    const std::string_view text(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    const std::string_view instance = text.substr(0, text.find('\0'));
    const std::string_view rest = text.substr(std::min(text.size(), instance.size() + 1));
    return {std::string(instance), std::string(rest.substr(0, rest.find('\0')))};
}

bool hasProperty(xcb_connection_t* connection, xcb_get_property_cookie_t cookie) {
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    return reply && reply->type != XCB_ATOM_NONE;
}

// The state of a window its client mapped, as window managers mark their clients; nothing for others.
bool hasClientState(xcb_connection_t* connection, xcb_get_property_cookie_t cookie) {
    const auto state = propertyItems(connection, cookie);
    return state && !state->empty() && (state->front() == normalState || state->front() == iconicState);
}

std::vector<xcb_window_t> childWindows(xcb_connection_t* connection, xcb_query_tree_cookie_t cookie) {
    const XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(connection, cookie, nullptr));
    if (!tree) {
        return {};
    }
    const auto* children = xcb_query_tree_children(tree.get());
    return {children, children + xcb_query_tree_children_length(tree.get())};
}

// Without a client list (no window manager, or one that publishes none, as weston's does for Xwayland)
// the application windows are the root's children that carry WM_STATE or, inside a reparenting
// manager's frames, the descendants that do, bottom of the stack first; minimised ones too. A child
// without WM_STATE at any depth counts when it shows (there is no window manager); override-redirect
// windows are menus and tooltips, not application windows. The search goes one level deeper per round
// trip for all frames at once.
std::vector<xcb_window_t> clientWindows(xcb_connection_t* connection, xcb_window_t root, const Atoms& atoms) {
    // Frames hold their client at most this deep (frame, decoration wrapper, client).
    constexpr int deepestClient = 4;
    const auto children = childWindows(connection, xcb_query_tree(connection, root));
    std::vector<xcb_get_window_attributes_cookie_t> attributeRequests;
    for (const xcb_window_t child : children) {
        attributeRequests.push_back(xcb_get_window_attributes(connection, child));
    }
    std::vector<xcb_window_t> clients(children.size(), XCB_WINDOW_NONE);
    std::vector<bool> showsItself(children.size(), false);
    // Each window still to look at, with the root child it lies in.
    std::vector<std::pair<std::size_t, xcb_window_t>> level;
    for (std::size_t i = 0; i < children.size(); ++i) {
        const XcbReply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(connection, attributeRequests[i], nullptr));
        if (attributes && attributes->override_redirect == 0) {
            showsItself[i] = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            level.emplace_back(i, children[i]);
        }
    }
    for (int depth = 0; depth < deepestClient && !level.empty(); ++depth) {
        std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> requests;
        for (const auto& entry : level) {
            requests.emplace_back(requestProperty(connection, entry.second, atoms.windowManagerState, 2),
                                  requestProperty(connection, entry.second, XCB_ATOM_WM_CLASS, 0));
        }
        std::vector<std::pair<std::size_t, xcb_query_tree_cookie_t>> treeRequests;
        for (std::size_t i = 0; i < level.size(); ++i) {
            const auto [slot, window] = level[i];
            const bool isClient = hasClientState(connection, requests[i].first);
            // A window that names its class is an application's own, no frame to look into.
            const bool isFrame = !hasProperty(connection, requests[i].second);
            if (clients[slot] != XCB_WINDOW_NONE) {
                continue;
            }
            if (isClient) {
                clients[slot] = window;
            } else if (isFrame) {
                treeRequests.emplace_back(slot, xcb_query_tree(connection, window));
            }
        }
        level.clear();
        for (const auto& [slot, cookie] : treeRequests) {
            for (const xcb_window_t child : childWindows(connection, cookie)) {
                level.emplace_back(slot, child);
            }
        }
    }
    std::vector<xcb_window_t> windows;
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (clients[i] != XCB_WINDOW_NONE) {
            windows.push_back(clients[i]);
        } else if (showsItself[i]) {
            windows.push_back(children[i]);
        }
    }
    return windows;
}

std::vector<xcb_window_t> applicationWindows(xcb_connection_t* connection, xcb_window_t root,
                                             const Atoms& atoms) {
    const auto stackingCookie = requestProperty(connection, root, atoms.clientListStacking);
    const auto listCookie = requestProperty(connection, root, atoms.clientList);
    auto stacking = propertyItems(connection, stackingCookie);
    auto list = propertyItems(connection, listCookie);
    if (stacking) {
        return std::move(*stacking);
    }
    if (list) {
        return std::move(*list);
    }
    return clientWindows(connection, root, atoms);
}

struct WindowRequests {
    xcb_window_t window = XCB_WINDOW_NONE;
    xcb_get_window_attributes_cookie_t attributes{};
    xcb_get_geometry_cookie_t geometry{};
    xcb_translate_coordinates_cookie_t origin{};
    xcb_get_property_cookie_t processId{};
    xcb_get_property_cookie_t state{};
    xcb_get_property_cookie_t windowManagerState{};
    xcb_get_property_cookie_t windowClass{};
};

std::optional<pid_t> validProcessId(std::uint32_t value) {
    if (value == 0 || value > static_cast<std::uint32_t>(std::numeric_limits<pid_t>::max())) {
        return std::nullopt;
    }
    return static_cast<pid_t>(value);
}

// Nothing for a window that went away while it was asked about.
std::optional<TopLevelWindow> collectFacts(xcb_connection_t* connection, const WindowRequests& requests,
                                           const Atoms& atoms) {
    const XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, requests.attributes, nullptr));
    const XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, requests.geometry, nullptr));
    const XcbReply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(connection, requests.origin, nullptr));
    const auto processId = propertyItems(connection, requests.processId);
    const auto state = propertyItems(connection, requests.state);
    const auto windowManagerState = propertyItems(connection, requests.windowManagerState);
    auto [instance, className] = windowClass(connection, requests.windowClass);
    if (!attributes || !geometry || !origin) {
        return std::nullopt;
    }
    TopLevelWindow facts;
    facts.window = requests.window;
    const bool hidden = state && std::ranges::find(*state, atoms.stateHidden) != state->end();
    const std::uint32_t managedState =
        windowManagerState && !windowManagerState->empty() ? windowManagerState->front() : 0;
    facts.isMapped = attributes->map_state != XCB_MAP_STATE_UNMAPPED || managedState == normalState ||
                     managedState == iconicState;
    facts.isActive =
        attributes->map_state == XCB_MAP_STATE_VIEWABLE && !hidden && managedState != iconicState;
    // A reparenting window manager puts the client inside a frame, so its position comes from
    // translating its origin to the root.
    facts.x = origin->dst_x;
    facts.y = origin->dst_y;
    facts.width = geometry->width;
    facts.height = geometry->height;
    if (processId && !processId->empty()) {
        facts.processId = validProcessId(processId->front());
    }
    facts.classInstance = std::move(instance);
    facts.className = std::move(className);
    return facts;
}

// The X-Resource extension knows the process of every local client, also of those without _NET_WM_PID.
void addClientProcessIds(xcb_connection_t* connection, std::vector<TopLevelWindow>& windows) {
    if (!hasExtension(connection, &xcb_res_id)) {
        return;
    }
    std::vector<std::pair<TopLevelWindow*, xcb_res_query_client_ids_cookie_t>> requests;
    for (auto& facts : windows) {
        if (!facts.processId) {
            const xcb_res_client_id_spec_t spec = {facts.window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            requests.emplace_back(&facts, xcb_res_query_client_ids(connection, 1, &spec));
        }
    }
    for (auto& [facts, cookie] : requests) {
        const XcbReply<xcb_res_query_client_ids_reply_t> reply(
            xcb_res_query_client_ids_reply(connection, cookie, nullptr));
        if (!reply) {
            continue;
        }
        for (auto id = xcb_res_query_client_ids_ids_iterator(reply.get()); id.rem > 0;
             xcb_res_client_id_value_next(&id)) {
            if ((id.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
                xcb_res_client_id_value_value_length(id.data) >= 1) {
                facts->processId = validProcessId(*xcb_res_client_id_value_value(id.data));
                break;
            }
        }
    }
}

}  // namespace

std::optional<X11Snapshot> X11Snapshot::open(const std::string& displayName) {
    int screenNumber = 0;
    X11Snapshot snapshot;
    snapshot.connection.reset(
        xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber));
    if (xcb_connection_has_error(snapshot.connection.get())) {
        return std::nullopt;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(snapshot.connection.get()));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        return std::nullopt;
    }
    snapshot.root = screens.data->root;
    return snapshot;
}

bool hasExtension(xcb_connection_t* connection, xcb_extension_t* extension) {
    const auto* data = xcb_get_extension_data(connection, extension);
    return data != nullptr && data->present != 0;
}

std::vector<TopLevelWindow> topLevelWindows(xcb_connection_t* connection, xcb_window_t root) {
    const Atoms atoms = internAtoms(connection);
    // All questions about all windows go out before the first answer is awaited.
    std::vector<WindowRequests> requests;
    for (const xcb_window_t window : applicationWindows(connection, root, atoms)) {
        requests.push_back({window, xcb_get_window_attributes(connection, window),
                            xcb_get_geometry(connection, window),
                            xcb_translate_coordinates(connection, window, root, 0, 0),
                            requestProperty(connection, window, atoms.processId, 1),
                            requestProperty(connection, window, atoms.state),
                            requestProperty(connection, window, atoms.windowManagerState, 2),
                            requestProperty(connection, window, XCB_ATOM_WM_CLASS, 256)});
    }
    std::vector<TopLevelWindow> windows;
    for (const auto& request : requests) {
        if (auto facts = collectFacts(connection, request, atoms)) {
            windows.push_back(std::move(*facts));
        }
    }
    addClientProcessIds(connection, windows);
    return windows;
}

}  // namespace vidora
