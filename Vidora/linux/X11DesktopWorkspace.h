// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DesktopEntries.h"
#include "ProcWorkspace.h"
#include "ProcessTable.h"
#include "common/Folders.h"
#include "control/DesktopApplications.h"

namespace vidora {

// The desktop's applications as the X server and /proc show them: one per process with top-level
// windows (the window manager's client list; without one, the clients found by WM_STATE), each
// window's process from _NET_WM_PID or the X-Resource extension, then the processes /proc alone
// identifies (ProcWorkspace). Without a display only those are listed, none finished launching.
// Every snapshot opens a connection of its own, so any one background thread at a time may call.
class X11DesktopWorkspace final : public DesktopWorkspace {
public:
    // `displayName` as DISPLAY spells it; empty: the DISPLAY variable. `procRoot` and `environment`
    // are where processes, the game's Wine prefix and the XDG data folders are read from.
    explicit X11DesktopWorkspace(std::string displayName = {}, std::string procRoot = "/proc",
                                 tavrin::Environment environment = tavrin::processEnvironment());

    // A process with a window and no identifier from the process rules is named by its desktop entry
    // (ApplicationIdentity.h, rule 4). Name: the entry's Name, else the WM_CLASS class, else the
    // executable's name. Hidden: no window is viewable and unminimised (so a process without windows
    // is hidden). Finished launching: a window was mapped by its client (a minimised one counts).
    // Icon: of all _NET_WM_ICON images the largest within 256 x 256, else the smallest; else the
    // entry's Icon by name. Location, for identified applications only: the game's Wow.exe (its own
    // process's), else the entry file, else the process's executable.
    std::vector<DesktopApplication> runningApplications() const override;
    // The window's icon; else the generic "app" symbol when `location` exists.
    std::shared_ptr<const Icon> iconFor(const DesktopApplication& application,
                                        const std::string& location) const override;

private:
    void locate(std::vector<DesktopApplication>& applications) const;

    std::string displayName_;
    tavrin::ProcessTable processes_;
    tavrin::Environment environment_;
    tavrin::ProcWorkspace procWorkspace_;
    tavrin::DesktopEntries desktopEntries_;
};

}  // namespace vidora
