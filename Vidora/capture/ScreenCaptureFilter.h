// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "capture/ContentFilter.h"
#include "capture/ShareableContent.h"

namespace vidora {

// A capturable display as the recorder window lists it: the display's id widened without sign, and
// its size in pixels.
struct DisplaySummary {
    std::int64_t id = 0;
    int w = 0;
    int h = 0;
    bool operator==(const DisplaySummary&) const = default;
};

// Decides what a recording shows. Every operation takes a fresh snapshot from the provider and keeps
// nothing of it; every failure gives nothing. Called from any one thread at a time, as the provider
// is (the recorder window's list building, the capture session's setup).
class ScreenCaptureFilter {
public:
    explicit ScreenCaptureFilter(const ContentProvider& provider) : provider_(provider) {}

    // All current displays in the platform's order; nothing without a snapshot or without a display.
    std::optional<std::vector<DisplaySummary>> getDisplays() const;

    // The display with that id, without the recorder's own windows; nothing when no current display
    // has it (a negative id or one above 4294967295 never matches).
    std::optional<ContentFilter> get(std::int64_t displayId) const;

    // The active windows of that application (with Discord's when it is the game), on the display
    // under its first active window; nothing when it has no active window or no display meets it.
    std::optional<ContentFilter> get(std::string_view bundleIdentifier) const;

private:
    const ContentProvider& provider_;
};

}  // namespace vidora
