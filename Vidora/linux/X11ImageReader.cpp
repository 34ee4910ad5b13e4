// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/X11ImageReader.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

#include <algorithm>
#include <cstring>

namespace vidora {

void copyOpaque(const std::uint8_t* source, int sourceStride, std::uint8_t* destination,
                int destinationStride, int width, int height) {
    // Blocks of a fixed number of pixels, which the compiler turns into vector instructions: a whole
    // display is copied 30 times a second.
    constexpr int block = 8;
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* from = source + static_cast<std::ptrdiff_t>(row) * sourceStride;
        std::uint8_t* to = destination + static_cast<std::ptrdiff_t>(row) * destinationStride;
        int column = 0;
        for (; column + block <= width; column += block) {
            std::uint32_t pixels[block];
            std::memcpy(pixels, from + column * 4, sizeof pixels);
            for (std::uint32_t& pixel : pixels) {
                pixel |= 0xFF000000U;
            }
            std::memcpy(to + column * 4, pixels, sizeof pixels);
        }
        for (; column < width; ++column) {
            std::uint32_t pixel;
            std::memcpy(&pixel, from + column * 4, 4);
            pixel |= 0xFF000000U;
            std::memcpy(to + column * 4, &pixel, 4);
        }
    }
}

X11ImageReader::~X11ImageReader() {
    releaseSegment();
}

bool X11ImageReader::paint(xcb_drawable_t drawable, Rect area, VideoFrame& frame, int left, int top) {
    const int firstColumn = std::max(left, 0);
    const int firstRow = std::max(top, 0);
    const int endColumn = std::min(left + area.width, frame.width);
    const int endRow = std::min(top + area.height, frame.height);
    if (endColumn <= firstColumn || endRow <= firstRow) {
        return true;
    }
    const Rect visible{area.x + firstColumn - left, area.y + firstRow - top, endColumn - firstColumn,
                       endRow - firstRow};
    if (connection_.hasShm() && !sharedMemoryFailed_) {
        if (reserveSegment(static_cast<std::size_t>(visible.width) *
                           static_cast<std::size_t>(visible.height) * 4)) {
            return readShared(drawable, visible, frame, firstColumn, firstRow);
        }
        sharedMemoryFailed_ = true;
    }
    return readThroughSocket(drawable, visible, frame, firstColumn, firstRow);
}

bool X11ImageReader::acceptsDepth(std::uint8_t depth) const {
    return connection_.bitsPerPixel(depth) == 32 && connection_.littleEndianImages();
}

bool X11ImageReader::readShared(xcb_drawable_t drawable, Rect area, VideoFrame& frame, int left, int top) {
    xcb_connection_t* c = connection_.get();
    const auto reply = xcbReply(
        xcb_shm_get_image_reply, c,
        xcb_shm_get_image(c, drawable, static_cast<std::int16_t>(area.x), static_cast<std::int16_t>(area.y),
                          static_cast<std::uint16_t>(area.width), static_cast<std::uint16_t>(area.height),
                          ~0U, XCB_IMAGE_FORMAT_Z_PIXMAP, segment_, 0));
    if (!reply || !acceptsDepth(reply->depth)) {
        return false;
    }
    copyOpaque(static_cast<const std::uint8_t*>(segmentAddress_), area.width * 4,
               frame.pixels.data() + static_cast<std::ptrdiff_t>(top) * frame.stride + left * 4, frame.stride,
               area.width, area.height);
    return true;
}

bool X11ImageReader::readThroughSocket(xcb_drawable_t drawable, Rect area, VideoFrame& frame, int left,
                                       int top) {
    xcb_connection_t* c = connection_.get();
    const auto reply =
        xcbReply(xcb_get_image_reply, c,
                 xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<std::int16_t>(area.x),
                               static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                               static_cast<std::uint16_t>(area.height), ~0U));
    if (!reply || !acceptsDepth(reply->depth) ||
        xcb_get_image_data_length(reply.get()) < area.width * area.height * 4) {
        return false;
    }
    copyOpaque(xcb_get_image_data(reply.get()), area.width * 4,
               frame.pixels.data() + static_cast<std::ptrdiff_t>(top) * frame.stride + left * 4, frame.stride,
               area.width, area.height);
    return true;
}

bool X11ImageReader::reserveSegment(std::size_t bytes) {
    if (segment_ != 0 && segmentBytes_ >= bytes) {
        return true;
    }
    releaseSegment();
    const int identifier = ::shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (identifier < 0) {
        return false;
    }
    void* address = ::shmat(identifier, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        ::shmctl(identifier, IPC_RMID, nullptr);
        return false;
    }
    xcb_connection_t* c = connection_.get();
    const std::uint32_t segment = xcb_generate_id(c);
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_shm_attach_checked(c, segment, static_cast<std::uint32_t>(identifier), 0));
    // Marked for removal only once the server holds it too, so that a crash leaves nothing behind.
    ::shmctl(identifier, IPC_RMID, nullptr);
    if (error != nullptr) {
        std::free(error);
        ::shmdt(address);
        return false;
    }
    segment_ = segment;
    segmentAddress_ = address;
    segmentBytes_ = bytes;
    return true;
}

void X11ImageReader::releaseSegment() {
    if (segment_ != 0) {
        xcb_shm_detach(connection_.get(), segment_);
        xcb_flush(connection_.get());
        ::shmdt(segmentAddress_);
    }
    segment_ = 0;
    segmentAddress_ = nullptr;
    segmentBytes_ = 0;
}

}  // namespace vidora
