// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/ScreenCaptureFilter.h"

#include <algorithm>
#include <iterator>

#include "common/Workspace.h"

namespace vidora {
namespace {

bool isActiveWindowOf(const Window& window, std::string_view bundleIdentifier) {
    return window.isActive && window.owningApplication &&
           window.owningApplication->bundleIdentifier == bundleIdentifier;
}

}  // namespace

std::optional<std::vector<DisplaySummary>> ScreenCaptureFilter::getDisplays() const {
    const auto content = provider_.getShareableContent();
    if (!content || content->displays.empty()) {
        return std::nullopt;
    }
    std::vector<DisplaySummary> summaries;
    summaries.reserve(content->displays.size());
    for (const auto& display : content->displays) {
        summaries.push_back({static_cast<std::int64_t>(display.displayID), display.width, display.height});
    }
    return summaries;
}

std::optional<ContentFilter> ScreenCaptureFilter::get(std::int64_t displayId) const {
    const auto content = provider_.getShareableContent();
    if (!content) {
        return std::nullopt;
    }
    // Widening the 32-bit id keeps ids that are negative or too wide from matching by truncation.
    const auto display = std::ranges::find_if(content->displays, [&](const Display& candidate) {
        return static_cast<std::int64_t>(candidate.displayID) == displayId;
    });
    if (display == content->displays.end()) {
        return std::nullopt;
    }
    ContentFilter filter;
    filter.kind = ContentFilter::Kind::excludingApplications;
    filter.display = *display;
    // An empty identifier stands for none, as in the application records.
    if (const auto own = provider_.ownBundleIdentifier(); own && !own->empty()) {
        std::ranges::copy_if(
            content->applications, std::back_inserter(filter.excludedApplications),
            [&](const ApplicationRecord& application) { return application.bundleIdentifier == *own; });
    }
    return filter;
}

std::optional<ContentFilter> ScreenCaptureFilter::get(std::string_view bundleIdentifier) const {
    // An empty identifier names no application: it would gather every window without one.
    if (bundleIdentifier.empty()) {
        return std::nullopt;
    }
    const auto content = provider_.getShareableContent();
    if (!content) {
        return std::nullopt;
    }
    const auto anchor = std::ranges::find_if(
        content->windows, [&](const Window& window) { return isActiveWindowOf(window, bundleIdentifier); });
    if (anchor == content->windows.end()) {
        return std::nullopt;
    }
    const auto display = std::ranges::find_if(content->displays, [&](const Display& candidate) {
        return candidate.frame.intersects(anchor->frame);
    });
    if (display == content->displays.end()) {
        return std::nullopt;
    }
    // Players talk over Discord during a match, so its windows belong in a movie of the game.
    const bool withDiscord = bundleIdentifier == tavrin::gameBundleIdentifier;
    ContentFilter filter;
    filter.kind = ContentFilter::Kind::includingWindows;
    filter.display = *display;
    std::ranges::copy_if(
        content->windows, std::back_inserter(filter.includedWindows), [&](const Window& window) {
            return isActiveWindowOf(window, bundleIdentifier) ||
                   (withDiscord && isActiveWindowOf(window, tavrin::discordBundleIdentifier));
        });
    return filter;
}

}  // namespace vidora
