// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

#include "capture/ShareableContent.h"

namespace vidora {

// What a capture stream records: a display with exactly the included windows painted on black, or
// a display without the windows of the excluded applications (what lies under them shows).
struct ContentFilter {
    enum class Kind { includingWindows, excludingApplications };

    Kind kind = Kind::excludingApplications;
    Display display;
    std::vector<Window> includedWindows;
    std::vector<ApplicationRecord> excludedApplications;

    // The content rectangle: the display's frame. The movie has the display's size.
    Rect contentRect() const { return display.frame; }
    bool operator==(const ContentFilter&) const = default;
};

}  // namespace vidora
