// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/CursorPainter.h"

#include <algorithm>

namespace vidora {

void blendPremultiplied(const std::uint32_t* image, int width, int height, VideoFrame& frame, int left,
                        int top) {
    const int firstColumn = std::max(0, -left);
    const int firstRow = std::max(0, -top);
    const int endColumn = std::min(width, frame.width - left);
    const int endRow = std::min(height, frame.height - top);
    for (int row = firstRow; row < endRow; ++row) {
        std::uint8_t* destination =
            frame.pixels.data() + static_cast<std::ptrdiff_t>(top + row) * frame.stride;
        for (int column = firstColumn; column < endColumn; ++column) {
            const std::uint32_t source = image[static_cast<std::ptrdiff_t>(row) * width + column];
            const std::uint32_t alpha = source >> 24;
            if (alpha == 0) {
                continue;
            }
            std::uint8_t* pixel = destination + static_cast<std::ptrdiff_t>(left + column) * 4;
            const std::uint32_t keep = 255 - alpha;
            for (int channel = 0; channel < 3; ++channel) {
                const std::uint32_t value = (source >> (8 * channel)) & 0xFF;
                pixel[channel] = static_cast<std::uint8_t>(
                    std::min<std::uint32_t>(255, value + (pixel[channel] * keep + 127) / 255));
            }
            pixel[3] = 255;
        }
    }
}

void CursorPainter::request() {
    if (connection_.hasXFixes() && !pending_) {
        cookie_ = xcb_xfixes_get_cursor_image(connection_.get());
        pending_ = true;
    }
}

void CursorPainter::paint(VideoFrame& frame, int originX, int originY) {
    if (!pending_) {
        return;
    }
    pending_ = false;
    const auto reply = xcbReply(xcb_xfixes_get_cursor_image_reply, connection_.get(), cookie_);
    if (!reply || frame.pixels.empty() ||
        xcb_xfixes_get_cursor_image_cursor_image_length(reply.get()) < reply->width * reply->height) {
        return;
    }
    blendPremultiplied(xcb_xfixes_get_cursor_image_cursor_image(reply.get()), reply->width, reply->height,
                       frame, reply->x - reply->xhot - originX, reply->y - reply->yhot - originY);
}

}  // namespace vidora
