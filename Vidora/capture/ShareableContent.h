// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vidora {

// A rectangle in root-window (global screen) coordinates, in pixels.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool intersects(const Rect& other) const {
        return width > 0 && height > 0 && other.width > 0 && other.height > 0 && x < other.x + other.width &&
               other.x < x + width && y < other.y + other.height && other.y < y + height;
    }
    bool operator==(const Rect&) const = default;
};

// A monitor: its id (a positive 32-bit number, stable while it is plugged in) and where it lies.
struct Display {
    std::uint32_t displayID = 0;
    int width = 0;
    int height = 0;
    Rect frame;
    bool operator==(const Display&) const = default;
};

struct ApplicationRecord {
    std::string bundleIdentifier;  // empty: the application has none
    pid_t pid = 0;
    bool operator==(const ApplicationRecord&) const = default;
};

// A top-level window. Active: viewable and not minimised.
struct Window {
    std::uint32_t windowID = 0;
    bool isActive = false;
    std::optional<ApplicationRecord> owningApplication;
    Rect frame;
    bool operator==(const Window&) const = default;
};

// What can be captured right now, each list in the platform's order (windows: top-level stacking
// order, bottom first).
struct ShareableContent {
    std::vector<Display> displays;
    std::vector<Window> windows;
    std::vector<ApplicationRecord> applications;
};

// The platform's view of displays, windows and applications. Called from any one thread at a time;
// never needs the main thread.
class ContentProvider {
public:
    virtual ~ContentProvider() = default;
    // A fresh snapshot, or nothing when the platform cannot give one (no display connection).
    virtual std::optional<ShareableContent> getShareableContent() const = 0;
    // The recorder's own application identifier, or nothing.
    virtual std::optional<std::string> ownBundleIdentifier() const = 0;
};

}  // namespace vidora
