#include "linux/X11ContentProvider.h"

#include <xcb/randr.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "ApplicationIdentity.h"
#include "common/Workspace.h"

namespace vidora {
namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, FreeReply>;

struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

// ICCCM WM_STATE value of a minimised window.
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
        const ReplyPointer<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(connection, cookies[i], nullptr));
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
    const ReplyPointer<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 32) {
        return std::nullopt;
    }
    const auto* items = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const auto count =
        static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) / sizeof(std::uint32_t);
    return std::vector<std::uint32_t>(items, items + count);
}

// WM_CLASS holds the instance and the class, each ending in a NUL.
std::string classInstance(xcb_connection_t* connection, xcb_get_property_cookie_t cookie) {
    const ReplyPointer<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->format != 8) {
        return {};
    }
    const std::string_view text(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    return std::string(text.substr(0, text.find('\0')));
}

bool hasExtension(xcb_connection_t* connection, xcb_extension_t* extension) {
    // A request to a missing extension would close the connection.
    const auto* data = xcb_get_extension_data(connection, extension);
    return data != nullptr && data->present != 0;
}

std::vector<Display> monitors(xcb_connection_t* connection, xcb_window_t root) {
    if (!hasExtension(connection, &xcb_randr_id)) {
        return {};
    }
    const ReplyPointer<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(connection, xcb_randr_query_version(connection, 1, 5), nullptr));
    if (!version || version->major_version < 1 ||
        (version->major_version == 1 && version->minor_version < 5)) {
        return {};
    }
    const ReplyPointer<xcb_randr_get_monitors_reply_t> reply(
        xcb_randr_get_monitors_reply(connection, xcb_randr_get_monitors(connection, root, 1), nullptr));
    if (!reply) {
        return {};
    }
    std::vector<Display> displays;
    for (auto monitor = xcb_randr_get_monitors_monitors_iterator(reply.get()); monitor.rem > 0;
         xcb_randr_monitor_info_next(&monitor)) {
        const auto& info = *monitor.data;
        // A monitor without a name has no id to record it by.
        if (info.name == XCB_ATOM_NONE || info.width == 0 || info.height == 0) {
            continue;
        }
        displays.push_back({info.name, info.width, info.height, {info.x, info.y, info.width, info.height}});
    }
    return displays;
}

// Without a window manager the application windows are the root's children that show; override-redirect
// windows are menus and tooltips, not application windows.
std::vector<xcb_window_t> viewableChildren(xcb_connection_t* connection, xcb_window_t root) {
    const ReplyPointer<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    if (!tree) {
        return {};
    }
    const auto* children = xcb_query_tree_children(tree.get());
    const auto count = static_cast<std::size_t>(xcb_query_tree_children_length(tree.get()));
    std::vector<xcb_get_window_attributes_cookie_t> cookies;
    for (std::size_t i = 0; i < count; ++i) {
        cookies.push_back(xcb_get_window_attributes(connection, children[i]));
    }
    std::vector<xcb_window_t> windows;
    for (std::size_t i = 0; i < count; ++i) {
        const ReplyPointer<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(connection, cookies[i], nullptr));
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
            attributes->override_redirect == 0) {
            windows.push_back(children[i]);
        }
    }
    return windows;
}

// Top-level application windows, bottom of the stack first.
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
    return viewableChildren(connection, root);
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

struct WindowFacts {
    xcb_window_t window = XCB_WINDOW_NONE;
    bool isActive = false;
    Rect frame;
    std::optional<pid_t> processId;
    std::string classInstance;
};

std::optional<pid_t> validProcessId(std::uint32_t value) {
    if (value == 0 || value > static_cast<std::uint32_t>(std::numeric_limits<pid_t>::max())) {
        return std::nullopt;
    }
    return static_cast<pid_t>(value);
}

// Nothing for a window that went away while it was asked about.
std::optional<WindowFacts> collectFacts(xcb_connection_t* connection, const WindowRequests& requests,
                                        const Atoms& atoms) {
    const ReplyPointer<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, requests.attributes, nullptr));
    const ReplyPointer<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, requests.geometry, nullptr));
    const ReplyPointer<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(connection, requests.origin, nullptr));
    const auto processId = propertyItems(connection, requests.processId);
    const auto state = propertyItems(connection, requests.state);
    const auto windowManagerState = propertyItems(connection, requests.windowManagerState);
    auto instance = classInstance(connection, requests.windowClass);
    if (!attributes || !geometry || !origin) {
        return std::nullopt;
    }
    WindowFacts facts;
    facts.window = requests.window;
    const bool hidden = state && std::ranges::find(*state, atoms.stateHidden) != state->end();
    const bool iconic =
        windowManagerState && !windowManagerState->empty() && windowManagerState->front() == iconicState;
    facts.isActive = attributes->map_state == XCB_MAP_STATE_VIEWABLE && !hidden && !iconic;
    // The client's own rectangle where it shows: a reparenting window manager puts it inside a frame,
    // so its position comes from translating its origin to the root.
    facts.frame = {origin->dst_x, origin->dst_y, geometry->width, geometry->height};
    if (processId && !processId->empty()) {
        facts.processId = validProcessId(processId->front());
    }
    facts.classInstance = std::move(instance);
    return facts;
}

// The X-Resource extension knows the process of every local client, also of those without _NET_WM_PID.
void addClientProcessIds(xcb_connection_t* connection, std::vector<WindowFacts>& windows) {
    if (!hasExtension(connection, &xcb_res_id)) {
        return;
    }
    std::vector<std::pair<WindowFacts*, xcb_res_query_client_ids_cookie_t>> requests;
    for (auto& facts : windows) {
        if (!facts.processId) {
            const xcb_res_client_id_spec_t spec = {facts.window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            requests.emplace_back(&facts, xcb_res_query_client_ids(connection, 1, &spec));
        }
    }
    for (auto& [facts, cookie] : requests) {
        const ReplyPointer<xcb_res_query_client_ids_reply_t> reply(
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

// The process's identifier from /proc; else the window's class, so that a window of a Wine process
// is known as the game however Wine named the process.
class ApplicationNamer {
public:
    explicit ApplicationNamer(const tavrin::ProcessTable& processes) : processes_(processes) {}

    std::optional<ApplicationRecord> owner(const WindowFacts& facts) {
        std::optional<std::string> identifier;
        if (facts.processId) {
            identifier = processIdentifier(*facts.processId);
        }
        if (!identifier && facts.classInstance == "discord") {
            identifier = std::string(tavrin::discordBundleIdentifier);
        }
        if (!identifier && facts.classInstance == "wow.exe") {
            identifier = std::string(tavrin::gameBundleIdentifier);
        }
        if (!identifier && !facts.processId) {
            return std::nullopt;
        }
        return ApplicationRecord{identifier.value_or(std::string()), facts.processId.value_or(0)};
    }

private:
    const std::optional<std::string>& processIdentifier(pid_t processId) {
        const auto known = identifiers_.find(processId);
        if (known != identifiers_.end()) {
            return known->second;
        }
        auto identity = tavrin::identifyProcess(processes_, processId);
        return identifiers_
            .emplace(processId, identity ? std::optional(std::move(identity->identifier)) : std::nullopt)
            .first->second;
    }

    const tavrin::ProcessTable& processes_;
    std::map<pid_t, std::optional<std::string>> identifiers_;
};

}  // namespace

X11ContentProvider::X11ContentProvider(std::string displayName, tavrin::ProcessTable processes)
    : displayName_(std::move(displayName)), processes_(std::move(processes)) {}

std::optional<ShareableContent> X11ContentProvider::getShareableContent() const {
    int screenNumber = 0;
    const Connection connection(
        xcb_connect(displayName_.empty() ? nullptr : displayName_.c_str(), &screenNumber));
    if (xcb_connection_has_error(connection.get())) {
        return std::nullopt;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        return std::nullopt;
    }
    const xcb_window_t root = screens.data->root;
    xcb_connection_t* const x = connection.get();

    const Atoms atoms = internAtoms(x);
    ShareableContent content;
    content.displays = monitors(x, root);

    // All questions about all windows go out before the first answer is awaited.
    std::vector<WindowRequests> requests;
    for (const xcb_window_t window : applicationWindows(x, root, atoms)) {
        requests.push_back(
            {window, xcb_get_window_attributes(x, window), xcb_get_geometry(x, window),
             xcb_translate_coordinates(x, window, root, 0, 0), requestProperty(x, window, atoms.processId, 1),
             requestProperty(x, window, atoms.state), requestProperty(x, window, atoms.windowManagerState, 2),
             requestProperty(x, window, XCB_ATOM_WM_CLASS, 256)});
    }
    std::vector<WindowFacts> windows;
    for (const auto& request : requests) {
        if (auto facts = collectFacts(x, request, atoms)) {
            windows.push_back(std::move(*facts));
        }
    }
    addClientProcessIds(x, windows);
    if (xcb_connection_has_error(x)) {
        return std::nullopt;
    }

    ApplicationNamer namer(processes_);
    for (const auto& facts : windows) {
        auto owner = namer.owner(facts);
        if (owner && std::ranges::find(content.applications, *owner) == content.applications.end()) {
            content.applications.push_back(*owner);
        }
        content.windows.push_back({facts.window, facts.isActive, std::move(owner), facts.frame});
    }
    return content;
}

std::optional<std::string> X11ContentProvider::ownBundleIdentifier() const {
    const auto name = processes_.ownExecutableName();
    return name ? tavrin::ownProgramIdentifier(*name) : std::nullopt;
}

}  // namespace vidora
