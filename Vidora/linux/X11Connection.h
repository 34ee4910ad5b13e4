// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

namespace vidora {

// XCB hands out replies and events that the caller frees with free().
struct XcbFree {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename Reply>
using XcbReply = std::unique_ptr<Reply, XcbFree>;

// Waits for a request's reply; the error that may come instead (a vanished window, BadMatch...) is
// dropped, and gives no reply.
template <typename Reply, typename Cookie>
XcbReply<Reply> xcbReply(Reply* (*wait)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                         xcb_connection_t* connection, Cookie cookie) {
    xcb_generic_error_t* error = nullptr;
    XcbReply<Reply> reply(wait(connection, cookie, &error));
    std::free(error);
    return reply;
}

// One connection to the display named by DISPLAY, with the extensions that capture uses negotiated.
// Not shared: one thread owns it (XCB itself is thread-safe, but the pixmaps and segments made through
// it belong to that thread's work).
class X11Connection {
public:
    // Nothing when there is no display to connect to.
    static std::unique_ptr<X11Connection> open();
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    xcb_connection_t* get() const { return connection_; }
    const xcb_screen_t& screen() const { return *screen_; }
    xcb_window_t root() const { return screen_->root; }
    // False once the display went away; every later request fails.
    bool isAlive() const { return xcb_connection_has_error(connection_) == 0; }

    bool hasComposite() const { return composite_; }
    bool hasXFixes() const { return xfixes_; }
    bool hasShm() const { return shm_; }
    bool hasResource() const { return resource_; }

    // Bits per pixel of the server's Z-pixmap images of `depth`, or nothing for an unknown depth.
    std::optional<int> bitsPerPixel(std::uint8_t depth) const;
    bool littleEndianImages() const;

    // Throws away queued events and the errors of unchecked requests, which nobody waits for.
    void discardEvents() const;
    xcb_atom_t atom(std::string_view name) const;

private:
    explicit X11Connection(xcb_connection_t* connection) : connection_(connection) {}

    xcb_connection_t* connection_;
    const xcb_screen_t* screen_ = nullptr;
    bool composite_ = false;
    bool xfixes_ = false;
    bool shm_ = false;
    bool resource_ = false;
};

}  // namespace vidora
