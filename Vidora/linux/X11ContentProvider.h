// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ProcessTable.h"
#include "capture/ShareableContent.h"

namespace vidora {

// What the X server offers for capture: RandR 1.5 monitors as displays; the window manager's client
// list (without one, the root's viewable children) as windows, bottom first; each window's process
// from _NET_WM_PID or the X-Resource extension, named by its application identifier.
// Every snapshot opens a connection of its own and closes it again, so any one thread at a time may
// call, and the Qt main thread's connection is never touched.
class X11ContentProvider final : public ContentProvider {
public:
    // `displayName` as DISPLAY spells it; empty: the DISPLAY variable. `processes` is where
    // application identifiers are read from.
    explicit X11ContentProvider(std::string displayName = {},
                                tavrin::ProcessTable processes = tavrin::ProcessTable());

    // Nothing when the display cannot be reached.
    std::optional<ShareableContent> getShareableContent() const override;
    // From the running executable's name; needs no display.
    std::optional<std::string> ownBundleIdentifier() const override;
    // The displays alone, as a snapshot has them; none when the display cannot be reached.
    std::vector<Display> displays() const;

private:
    std::string displayName_;
    tavrin::ProcessTable processes_;
};

}  // namespace vidora
