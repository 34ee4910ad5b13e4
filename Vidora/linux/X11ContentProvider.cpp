// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/X11ContentProvider.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "ApplicationIdentity.h"
#include "common/Workspace.h"
#include "linux/X11Connection.h"
#include "linux/X11WindowList.h"

namespace vidora {
namespace {

std::vector<Display> monitors(xcb_connection_t* connection, xcb_window_t root) {
    if (!hasExtension(connection, &xcb_randr_id)) {
        return {};
    }
    const XcbReply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(connection, xcb_randr_query_version(connection, 1, 5), nullptr));
    if (!version || version->major_version < 1 ||
        (version->major_version == 1 && version->minor_version < 5)) {
        return {};
    }
    const XcbReply<xcb_randr_get_monitors_reply_t> reply(
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

// The process's identifier from /proc; else the window's class, so that a window of a Wine process
// is known as the game however Wine named the process.
class ApplicationNamer {
public:
    explicit ApplicationNamer(const tavrin::ProcessTable& processes) : processes_(processes) {}

    std::optional<ApplicationRecord> owner(const TopLevelWindow& facts) {
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

std::vector<Display> X11ContentProvider::displays() const {
    const auto snapshot = X11Snapshot::open(displayName_);
    return snapshot ? monitors(snapshot->connection.get(), snapshot->root) : std::vector<Display>{};
}

std::optional<ShareableContent> X11ContentProvider::getShareableContent() const {
    const auto snapshot = X11Snapshot::open(displayName_);
    if (!snapshot) {
        return std::nullopt;
    }
    xcb_connection_t* const x = snapshot->connection.get();

    ShareableContent content;
    content.displays = monitors(x, snapshot->root);
    const auto windows = topLevelWindows(x, snapshot->root);
    if (xcb_connection_has_error(x)) {
        return std::nullopt;
    }

    ApplicationNamer namer(processes_);
    for (const auto& facts : windows) {
        auto owner = namer.owner(facts);
        if (owner && std::ranges::find(content.applications, *owner) == content.applications.end()) {
            content.applications.push_back(*owner);
        }
        content.windows.push_back(
            {facts.window, facts.isActive, std::move(owner), {facts.x, facts.y, facts.width, facts.height}});
    }
    return content;
}

std::optional<std::string> X11ContentProvider::ownBundleIdentifier() const {
    const auto name = processes_.ownExecutableName();
    return name ? tavrin::ownProgramIdentifier(*name) : std::nullopt;
}

}  // namespace vidora
