// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/X11DesktopWorkspace.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <utility>

#include "ApplicationIdentity.h"
#include "GameLocation.h"
#include "common/Workspace.h"
#include "linux/X11Connection.h"
#include "linux/X11WindowList.h"

namespace vidora {
namespace {

// Icons are asked for up to 4 MiB a window; images beyond that are left out, not taken as damage.
constexpr std::uint32_t longestIcon = 1U << 20;
// The target list shows small pictures; a larger image is only taken when there is no other.
constexpr std::uint64_t largestIconSide = 256;

std::uint64_t area(std::uint64_t width, std::uint64_t height) {
    return width * height;
}

bool fits(std::uint64_t width, std::uint64_t height) {
    return width <= largestIconSide && height <= largestIconSide;
}

// Whether a `width` x `height` image is a better choice than the `current` one.
bool isBetter(std::uint64_t width, std::uint64_t height, const Icon& current) {
    const auto currentWidth = static_cast<std::uint64_t>(current.width);
    const auto currentHeight = static_cast<std::uint64_t>(current.height);
    if (fits(width, height) != fits(currentWidth, currentHeight)) {
        return fits(width, height);
    }
    return fits(width, height) ? area(width, height) > area(currentWidth, currentHeight)
                               : area(width, height) < area(currentWidth, currentHeight);
}

// _NET_WM_ICON is a run of images, each its width, its height and width * height ARGB pixels.
// Any image that claims more than the property holds spoils the whole property, unless the property
// was cut short by the length asked for.
std::shared_ptr<const Icon> chooseIcon(std::span<const std::uint32_t> items, bool cutShort) {
    std::optional<std::size_t> chosen;
    Icon best;
    std::size_t offset = 0;
    while (offset < items.size()) {
        const std::size_t left = items.size() - offset;
        if (left < 2) {
            if (cutShort) {
                break;
            }
            return nullptr;
        }
        const std::uint64_t width = items[offset];
        const std::uint64_t height = items[offset + 1];
        if (width == 0 || height == 0) {
            return nullptr;
        }
        if (area(width, height) > left - 2) {
            if (cutShort) {
                break;
            }
            return nullptr;
        }
        if (!chosen || isBetter(width, height, best)) {
            chosen = offset;
            best.width = static_cast<int>(width);
            best.height = static_cast<int>(height);
        }
        offset += 2 + static_cast<std::size_t>(area(width, height));
    }
    if (!chosen) {
        return nullptr;
    }
    const auto pixels = items.subspan(*chosen + 2, static_cast<std::size_t>(area(best.width, best.height)));
    best.argb.assign(pixels.begin(), pixels.end());
    return std::make_shared<const Icon>(std::move(best));
}

std::shared_ptr<const Icon> windowIcon(xcb_connection_t* connection, xcb_get_property_cookie_t cookie) {
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32) {
        return nullptr;
    }
    const auto* items = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const auto count =
        static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) / sizeof(std::uint32_t);
    return chooseIcon({items, count}, reply->bytes_after != 0);
}

xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name) {
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data()),
        nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

struct WindowedProcess {
    DesktopApplication application;
    // WM_CLASS of its first window that has one.
    std::string classInstance;
    std::string className;
};

// The windows with a known process, grouped by it in the order their first window comes; nothing
// when the display went away meanwhile.
std::vector<WindowedProcess> windowedProcesses(const X11Snapshot& snapshot) {
    xcb_connection_t* const x = snapshot.connection.get();
    auto windows = topLevelWindows(x, snapshot.root);
    std::erase_if(windows, [](const TopLevelWindow& window) { return !window.processId; });
    const xcb_atom_t iconAtom = internAtom(x, "_NET_WM_ICON");
    std::vector<xcb_get_property_cookie_t> iconRequests;
    for (const auto& window : windows) {
        iconRequests.push_back(
            xcb_get_property(x, 0, window.window, iconAtom, XCB_ATOM_CARDINAL, 0, longestIcon));
    }
    std::vector<WindowedProcess> processes;
    std::map<pid_t, std::size_t> index;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const auto& window = windows[i];
        auto icon = windowIcon(x, iconRequests[i]);
        const auto [found, added] = index.try_emplace(*window.processId, processes.size());
        if (added) {
            DesktopApplication application;
            application.pid = *window.processId;
            application.hidden = true;
            processes.push_back({std::move(application), {}, {}});
        }
        auto& process = processes[found->second];
        auto& application = process.application;
        application.hidden = application.hidden && !window.isActive;
        application.finishedLaunching = application.finishedLaunching || window.isMapped;
        if (process.className.empty() && process.classInstance.empty()) {
            process.classInstance = window.classInstance;
            process.className = window.className;
        }
        if (!application.bundleIdentifier && window.classInstance == "discord") {
            application.bundleIdentifier = std::string(tavrin::discordBundleIdentifier);
        }
        if (icon &&
            (!application.icon || isBetter(static_cast<std::uint64_t>(icon->width),
                                           static_cast<std::uint64_t>(icon->height), *application.icon))) {
            application.icon = std::move(icon);
        }
    }
    if (xcb_connection_has_error(x)) {
        return {};
    }
    return processes;
}

std::shared_ptr<const Icon> genericIcon() {
    static const auto icon = [] {
        Icon generic;
        generic.symbolName = "app";
        return std::make_shared<const Icon>(std::move(generic));
    }();
    return icon;
}

}  // namespace

X11DesktopWorkspace::X11DesktopWorkspace(std::string displayName, std::string procRoot,
                                         tavrin::Environment environment)
    : displayName_(std::move(displayName)),
      processes_(procRoot),
      environment_(environment),
      procWorkspace_(std::move(procRoot), environment),
      desktopEntries_(std::move(environment)) {}

std::vector<DesktopApplication> X11DesktopWorkspace::runningApplications() const {
    std::vector<WindowedProcess> windowed;
    if (const auto snapshot = X11Snapshot::open(displayName_)) {
        windowed = windowedProcesses(*snapshot);
    }
    const auto identified = procWorkspace_.runningApplications();
    const auto entries = windowed.empty() ? nullptr : desktopEntries_.current();
    std::vector<DesktopApplication> applications;
    for (auto& [application, classInstance, className] : windowed) {
        // The process rules come before a window's class; another user's process is not in the
        // /proc list, so it is asked about on its own.
        const auto known = std::ranges::find(identified, application.pid, &tavrin::RunningApplication::pid);
        std::optional<tavrin::ProcessIdentity> identity;
        if (known != identified.end() && known->bundleIdentifier) {
            identity = tavrin::ProcessIdentity{*known->bundleIdentifier, known->name};
        } else {
            identity = tavrin::identifyProcess(processes_, application.pid);
        }
        // Rule 4 names the others; for any, the entry gives name, icon and location.
        const auto entry =
            tavrin::desktopEntryOf(processes_, application.pid, *entries, classInstance, className);
        if (identity) {
            application.bundleIdentifier = std::move(identity->identifier);
        } else if (entry && !application.bundleIdentifier) {
            application.bundleIdentifier = entry->id;
        }
        if (entry && !entry->icon.empty() && !application.icon) {
            Icon themed;
            themed.symbolName = "app";
            themed.themeName = entry->icon;
            application.icon = std::make_shared<const Icon>(std::move(themed));
        }
        if (entry && !entry->path.empty() && application.bundleIdentifier != tavrin::gameBundleIdentifier) {
            application.location = entry->path;
        }
        if (entry && !entry->name.empty()) {
            application.localizedName = entry->name;
        } else if (!className.empty()) {
            application.localizedName = std::move(className);
        } else if (identity) {
            application.localizedName = std::move(identity->name);
        } else {
            application.localizedName = processes_.executableName(application.pid);
        }
        applications.push_back(std::move(application));
    }
    // No window of these is seen, so they count as hidden and not yet launched.
    for (const auto& running : identified) {
        if (std::ranges::find(applications, running.pid, &DesktopApplication::pid) == applications.end()) {
            applications.push_back({.pid = running.pid,
                                    .bundleIdentifier = running.bundleIdentifier,
                                    .localizedName = running.name,
                                    .hidden = true,
                                    .finishedLaunching = false,
                                    .icon = nullptr,
                                    .location = std::nullopt});
        }
    }
    locate(applications);
    return applications;
}

void X11DesktopWorkspace::locate(std::vector<DesktopApplication>& applications) const {
    for (auto& application : applications) {
        if (application.bundleIdentifier == tavrin::gameBundleIdentifier) {
            // Its own Wow.exe: another copy of the game may run from another prefix.
            application.location = tavrin::gameExecutableOfProcess(processes_, application.pid, environment_);
            if (!application.location) {
                application.location = procWorkspace_.applicationPath(tavrin::gameBundleIdentifier);
            }
        } else if (application.bundleIdentifier && !application.location) {
            std::error_code error;
            const auto executable = std::filesystem::read_symlink(
                processes_.root() + "/" + std::to_string(application.pid) + "/exe", error);
            if (!error && !executable.empty()) {
                application.location = executable.string();
            }
        }
    }
}

std::shared_ptr<const Icon> X11DesktopWorkspace::iconFor(const DesktopApplication& application,
                                                         const std::string& location) const {
    if (application.icon) {
        return application.icon;
    }
    std::error_code error;
    if (!location.empty() && std::filesystem::exists(location, error)) {
        return genericIcon();
    }
    return nullptr;
}

}  // namespace vidora
