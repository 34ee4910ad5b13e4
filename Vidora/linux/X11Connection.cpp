// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/X11Connection.h"

#include <xcb/composite.h>
#include <xcb/res.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

namespace vidora {

std::unique_ptr<X11Connection> X11Connection::open() {
    int screenNumber = 0;
    std::unique_ptr<X11Connection> connection(new X11Connection(xcb_connect(nullptr, &screenNumber)));
    xcb_connection_t* c = connection->get();
    if (!connection->isAlive()) {
        return nullptr;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        return nullptr;
    }
    connection->screen_ = screens.data;

    const auto present = [c](xcb_extension_t* extension) {
        const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
        return data != nullptr && data->present != 0;
    };
    // Composite and XFixes refuse every request until the client has told its version; the versions
    // asked for are the first with NameWindowPixmap, GetCursorImage and QueryClientIds.
    if (present(&xcb_composite_id)) {
        const auto reply =
            xcbReply(xcb_composite_query_version_reply, c, xcb_composite_query_version(c, 0, 4));
        connection->composite_ = reply && (reply->major_version > 0 || reply->minor_version >= 2);
    }
    if (present(&xcb_xfixes_id)) {
        const auto reply = xcbReply(xcb_xfixes_query_version_reply, c, xcb_xfixes_query_version(c, 4, 0));
        connection->xfixes_ = reply && reply->major_version >= 1;
    }
    if (present(&xcb_shm_id)) {
        const auto reply = xcbReply(xcb_shm_query_version_reply, c, xcb_shm_query_version(c));
        connection->shm_ = reply != nullptr;
    }
    if (present(&xcb_res_id)) {
        const auto reply = xcbReply(xcb_res_query_version_reply, c, xcb_res_query_version(c, 1, 2));
        connection->resource_ =
            reply && (reply->server_major > 1 || (reply->server_major == 1 && reply->server_minor >= 2));
    }
    return connection->isAlive() ? std::move(connection) : nullptr;
}

X11Connection::~X11Connection() {
    xcb_disconnect(connection_);
}

std::optional<int> X11Connection::bitsPerPixel(std::uint8_t depth) const {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem > 0;
         xcb_format_next(&formats)) {
        if (formats.data->depth == depth) {
            return formats.data->bits_per_pixel;
        }
    }
    return std::nullopt;
}

bool X11Connection::littleEndianImages() const {
    return xcb_get_setup(connection_)->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
}

void X11Connection::discardEvents() const {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        std::free(event);
    }
}

xcb_atom_t X11Connection::atom(std::string_view name) const {
    const auto cookie = xcb_intern_atom(connection_, 1, static_cast<std::uint16_t>(name.size()), name.data());
    const auto reply = xcbReply(xcb_intern_atom_reply, connection_, cookie);
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

}  // namespace vidora
