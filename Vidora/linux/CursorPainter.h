// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <xcb/xfixes.h>

#include <cstdint>

#include "capture/Samples.h"
#include "linux/X11Connection.h"

namespace vidora {

// Draws the pointer into frames, as the XFixes extension shows it (premultiplied ARGB, any shape the
// pointer has right now). Used by the capture thread only.
class CursorPainter {
public:
    explicit CursorPainter(const X11Connection& connection) : connection_(connection) {}

    // Asks for the cursor's image and place; sent before the grab so that both round trips overlap.
    void request();
    // Blends the requested cursor over `frame`, whose top-left lies at `origin` in root coordinates.
    // Without XFixes, or when the answer is missing, the frame stays as it is.
    void paint(VideoFrame& frame, int originX, int originY);

private:
    const X11Connection& connection_;
    bool pending_ = false;
    xcb_xfixes_get_cursor_image_cookie_t cookie_{};
};

// Blends premultiplied ARGB pixels (`width` x `height`, packed rows) over a BGRA frame at (left, top),
// clipped to the frame.
void blendPremultiplied(const std::uint32_t* image, int width, int height, VideoFrame& frame, int left,
                        int top);

}  // namespace vidora
