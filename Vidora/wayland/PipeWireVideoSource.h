// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "capture/CaptureStream.h"
#include "capture/Samples.h"

namespace vidora {

// A buffer's plane as the compositor describes it.
struct Plane {
    std::uint32_t offset = 0;   // where the picture begins in the memory
    std::uint32_t size = 0;     // the bytes filled; none for an empty buffer
    std::uint32_t maxsize = 0;  // the bytes the memory holds
    bool corrupted = false;
};

// Whether `plane` holds a whole picture of `width` x `height` four-byte pixels, rows `stride` bytes
// apart (the last row only as wide as the picture), without reading past its memory.
bool holdsPicture(const Plane& plane, int width, int height, int stride);

// The pictures of one PipeWire video node, such as a screen-cast portal's stream, reached through the
// remote's file descriptor the portal hands out. Takes shared-memory buffers in BGRx, BGRA, RGBx or
// RGBA (what a compositor offers without a graphics card) and holds on to the newest buffer, returning
// it for a newer one. A compositor sends a picture only when the screen changes, so the owner copies
// the newest, converted to BGRA, whenever it wants one: nothing is copied for pictures nobody takes.
//
// Threads: construct, start, stop and destroy from one thread at a time; the rest from any thread.
// Pictures arrive on PipeWire's own loop thread.
class PipeWireVideoSource {
public:
    // Takes ownership of `remote`.
    PipeWireVideoSource(int remote, std::uint32_t node);
    ~PipeWireVideoSource();
    PipeWireVideoSource(const PipeWireVideoSource&) = delete;
    PipeWireVideoSource& operator=(const PipeWireVideoSource&) = delete;

    // False when the remote cannot be reached or the node refuses the stream.
    bool start();
    // Ends the stream and its thread; no picture arrives after it returns.
    void stop();

    // Waits at most `timeout` for the first picture; true once there is one.
    bool waitForPicture(std::chrono::milliseconds timeout) const;
    // The newest picture's size; nothing while there is none.
    std::optional<PictureSize> size() const;
    // Copies the newest picture into `frame` (pixels, size, stride); false while there is none.
    bool copyNewest(VideoFrame& frame) const;
    // True once the stream has broken or been ended from the other side, has been paused for 2 s without
    // a picture, or end() was called.
    bool hasEnded() const;
    // Marks the stream ended (its portal session was closed) and wakes a waitForPicture; any thread.
    void end();
    // PipeWire's own words on why the other side ended the stream; empty when it said none.
    std::string endReason() const;

private:
    struct Stream;
    int remote_;
    std::uint32_t node_;
    std::unique_ptr<Stream> stream_;
};

}  // namespace vidora
