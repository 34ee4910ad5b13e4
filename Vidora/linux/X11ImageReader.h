// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <xcb/xcb.h>

#include <cstdint>

#include "capture/Samples.h"
#include "capture/ShareableContent.h"
#include "linux/X11Connection.h"

namespace vidora {

// Reads the pixels of windows and pixmaps into frames, through a MIT-SHM segment when the server
// offers one (no copy through the socket), else through GetImage. Used by the capture thread only.
class X11ImageReader {
public:
    explicit X11ImageReader(const X11Connection& connection) : connection_(connection) {}
    ~X11ImageReader();
    X11ImageReader(const X11ImageReader&) = delete;
    X11ImageReader& operator=(const X11ImageReader&) = delete;

    // Paints the drawable's `area` (in the drawable's coordinates) onto `frame` with its top-left at
    // (left, top), clipped to the frame; the pixels become opaque. Only the visible part is read.
    // True when nothing needed reading; false when the read failed (the drawable is gone, BadMatch,
    // a pixel format other than 32 bits per pixel).
    bool paint(xcb_drawable_t drawable, Rect area, VideoFrame& frame, int left, int top);

private:
    bool readShared(xcb_drawable_t drawable, Rect area, VideoFrame& frame, int left, int top);
    bool readThroughSocket(xcb_drawable_t drawable, Rect area, VideoFrame& frame, int left, int top);
    bool reserveSegment(std::size_t bytes);
    void releaseSegment();
    bool acceptsDepth(std::uint8_t depth) const;

    const X11Connection& connection_;
    bool sharedMemoryFailed_ = false;
    std::uint32_t segment_ = 0;  // the server's name for it; 0 while none is attached
    void* segmentAddress_ = nullptr;
    std::size_t segmentBytes_ = 0;
};

// Copies 32-bit pixels rows apart, making each opaque (X leaves the fourth byte of depth 24 at 0).
void copyOpaque(const std::uint8_t* source, int sourceStride, std::uint8_t* destination,
                int destinationStride, int width, int height);

}  // namespace vidora
