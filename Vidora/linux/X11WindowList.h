// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vidora {

// The top-level windows as the desktop snapshots see them (the capture targets and the running
// applications). Each snapshot connects on its own and disconnects when done, so the thread that
// takes it owns the connection and no other connection is ever touched.

struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

struct X11Snapshot {
    std::unique_ptr<xcb_connection_t, XcbDisconnect> connection;
    xcb_window_t root = XCB_WINDOW_NONE;

    // `displayName` as DISPLAY spells it; empty: the DISPLAY variable. Nothing when the display
    // cannot be reached.
    static std::optional<X11Snapshot> open(const std::string& displayName);
};

struct TopLevelWindow {
    xcb_window_t window = XCB_WINDOW_NONE;
    // Its client mapped it: it shows, or the window manager keeps it minimised or on another desktop.
    bool isMapped = false;
    // Viewable and not minimised.
    bool isActive = false;
    // The client's own rectangle in root coordinates.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    // From _NET_WM_PID, else from the X-Resource extension.
    std::optional<pid_t> processId;
    // WM_CLASS: instance and class.
    std::string classInstance;
    std::string className;
};

// The application windows, bottom of the stack first: the window manager's client list; without one
// the windows marked with WM_STATE among the root's children and inside their frames, and the root's
// other viewable children. Windows that go away while asked about are left out.
std::vector<TopLevelWindow> topLevelWindows(xcb_connection_t* connection, xcb_window_t root);

// A request to a missing extension would close the connection.
bool hasExtension(xcb_connection_t* connection, xcb_extension_t* extension);

}  // namespace vidora
