// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vidora {

// An application's picture: pixels, 32-bit ARGB rows without padding, not premultiplied (as
// _NET_WM_ICON holds them); else an icon of the desktop's icon theme by name (or an icon file's path),
// which the toolkit looks up; else a bundled symbol by name ("display", "app").
struct Icon {
    std::string symbolName;
    std::string themeName;
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;
    bool operator==(const Icon&) const = default;
};

// A running application as the recorder's target list needs it.
struct DesktopApplication {
    pid_t pid = 0;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    // No window of the application is viewable.
    bool hidden = false;
    // It has a mapped top-level window.
    bool finishedLaunching = false;
    // The largest icon its windows offer, else its desktop entry's theme icon, or nothing.
    std::shared_ptr<const Icon> icon;
    // Where it is installed, found in the same snapshot (the game's Wow.exe, else its desktop entry
    // file, else its executable); nothing when unknown.
    std::optional<std::string> location;
};

// The desktop's applications with their windows. Implementations absorb every platform error into
// empty results; called from one background thread at a time (never needs the main thread).
class DesktopWorkspace {
public:
    virtual ~DesktopWorkspace() = default;
    // One snapshot of the desktop: each call asks the display and /proc afresh.
    virtual std::vector<DesktopApplication> runningApplications() const = 0;
    // The application's icon: its own, else the generic one for an existing location;
    // nothing when the location does not exist.
    virtual std::shared_ptr<const Icon> iconFor(const DesktopApplication& application,
                                                const std::string& location) const = 0;
};

}  // namespace vidora
