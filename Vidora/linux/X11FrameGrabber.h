// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <xcb/xcb.h>

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "capture/ContentFilter.h"
#include "capture/Samples.h"
#include "linux/CursorPainter.h"
#include "linux/X11Connection.h"
#include "linux/X11ImageReader.h"

namespace vidora {

// Makes the frames of one content filter from the X server: included windows through their
// composite pixmaps on black, or the display without the excluded applications' windows. Owns its
// connection; used by the capture thread only.
class X11FrameGrabber {
public:
    X11FrameGrabber(std::unique_ptr<X11Connection> connection, ContentFilter filter, bool showsCursor);

    // The content as it is now, the size of the display, stamped when the grab began. Incomplete, and
    // without pixels, when the grab failed: no included window could be painted, a read failed, or
    // the display went away.
    VideoFrame grab();
    bool isConnected() const { return connection_->isAlive(); }

private:
    // A window to paint: its outer rectangle (border included) in root coordinates.
    struct Placed {
        xcb_window_t window;
        Rect outer;
        std::size_t stackingPlace = 0;  // its top-level window's place among the root's children
    };

    // The included windows shown now, bottom first.
    std::vector<Placed> shownIncludedWindows();
    bool paintIncludedWindows(const std::vector<Placed>& shown, VideoFrame& frame);
    // Whether `placed` covers the display with nothing shown above it: the screen then shows it alone.
    bool aloneOnDisplay(const Placed& placed);
    bool paintWithoutExcluded(VideoFrame& frame);
    void paintRootBackground(VideoFrame& frame);
    // Paints a window's own content, even where other windows cover it, through its composite pixmap.
    bool paintWindow(const Placed& placed, VideoFrame& frame);
    std::vector<xcb_window_t> topLevelWindows() const;
    xcb_window_t topLevelAncestor(xcb_window_t window) const;
    bool isExcluded(xcb_window_t topLevel, bool overrideRedirect);
    std::vector<std::uint32_t> processesOf(xcb_window_t window) const;
    xcb_window_t clientWindow(xcb_window_t topLevel) const;

    std::unique_ptr<X11Connection> connection_;
    ContentFilter filter_;
    bool showsCursor_;
    X11ImageReader reader_;
    CursorPainter cursor_;
    std::set<std::uint32_t> excludedProcesses_;
    std::set<xcb_window_t> redirected_;
    std::vector<xcb_window_t> stacking_;  // the root's children at the last listing, bottom first
    // Whether a top-level window belongs to an excluded application, once its process is known.
    std::map<xcb_window_t, bool> excludedWindows_;
    xcb_atom_t wmState_;
    xcb_atom_t wmPid_;
    xcb_atom_t rootPixmap_;
    // The frames' pixels, reused from frame to frame; it lives until the last frame is gone.
    std::shared_ptr<PixelPool> pixels_;
};

// Makes an empty black frame of the given size, opaque; its pixels from `pool` when there is one.
VideoFrame blackFrame(int width, int height, std::shared_ptr<PixelPool> pool = nullptr);
// A frame of that size whose pixels are not set yet: for a grab that writes all of them.
VideoFrame uncoveredFrame(int width, int height, std::shared_ptr<PixelPool> pool = nullptr);

}  // namespace vidora
