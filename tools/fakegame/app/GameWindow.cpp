// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/GameWindow.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace fakegame {
namespace {

template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, decltype(&std::free)>;

// Segments a to g as bits 0 to 6, for the digits 0 to 9.
constexpr std::array<std::uint8_t, 10> segmentsOfDigit = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                                          0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void addDigit(std::vector<xcb_rectangle_t>& rectangles, int digit, std::int16_t x, std::int16_t y,
              std::uint16_t width, std::uint16_t height, std::uint16_t thickness) {
    const auto half = static_cast<std::uint16_t>(height / 2);
    const auto right = static_cast<std::int16_t>(x + width - thickness);
    const auto middle = static_cast<std::int16_t>(y + half);
    const std::array<xcb_rectangle_t, 7> segments = {{
        {x, y, width, thickness},                                                  // a
        {right, y, thickness, half},                                               // b
        {right, middle, thickness, static_cast<std::uint16_t>(height - half)},     // c
        {x, static_cast<std::int16_t>(y + height - thickness), width, thickness},  // d
        {x, middle, thickness, static_cast<std::uint16_t>(height - half)},         // e
        {x, y, thickness, half},                                                   // f
        {x, static_cast<std::int16_t>(middle - thickness / 2), width, thickness},  // g
    }};
    for (std::size_t segment = 0; segment < segments.size(); ++segment) {
        if (segmentsOfDigit[static_cast<std::size_t>(digit)] & (1U << segment)) {
            rectangles.push_back(segments[segment]);
        }
    }
}

xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name) {
    const auto cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data());
    ReplyPointer<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr),
                                                &std::free);
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

void setProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                 std::uint8_t format, std::uint32_t length, const void* data) {
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, format, length, data);
}

}  // namespace

std::unique_ptr<GameWindow> GameWindow::open(std::uint16_t width, std::uint16_t height, bool fullScreen,
                                             bool busy) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    std::unique_ptr<GameWindow> window(new GameWindow(connection));
    if (xcb_connection_has_error(connection)) {
        return nullptr;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        return nullptr;
    }
    const xcb_screen_t& screen = *screens.data;
    window->depth_ = screen.root_depth;
    for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem > 0; xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
             xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == screen.root_visual) {
                window->redMask_ = visuals.data->red_mask;
                window->greenMask_ = visuals.data->green_mask;
                window->blueMask_ = visuals.data->blue_mask;
            }
        }
    }

    window->window_ = xcb_generate_id(connection);
    window->width_ = width;
    window->height_ = height;
    const std::uint32_t values[] = {XCB_BACK_PIXMAP_NONE,
                                    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window->window_, screen.root, 0, 0, width, height, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen.root_visual,
                      XCB_CW_BACK_PIXMAP | XCB_CW_EVENT_MASK, values);

    constexpr std::string_view title = "World of Warcraft";
    // Instance and class, each ending in a NUL.
    constexpr std::string_view windowClass{"wow.exe\0wow.exe\0", 16};
    const xcb_atom_t utf8 = internAtom(connection, "UTF8_STRING");
    const xcb_atom_t pidAtom = internAtom(connection, "_NET_WM_PID");
    window->protocols_ = internAtom(connection, "WM_PROTOCOLS");
    window->deleteWindow_ = internAtom(connection, "WM_DELETE_WINDOW");
    const auto id = window->window_;
    setProperty(connection, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, title.size(), title.data());
    setProperty(connection, id, internAtom(connection, "_NET_WM_NAME"), utf8, 8, title.size(), title.data());
    setProperty(connection, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, windowClass.size(),
                windowClass.data());
    const auto pid = static_cast<std::uint32_t>(::getpid());
    setProperty(connection, id, pidAtom, XCB_ATOM_CARDINAL, 32, 1, &pid);
    // _NET_WM_PID counts only together with the machine it names.
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0) {
        setProperty(connection, id, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 8,
                    static_cast<std::uint32_t>(std::string_view(host).size()), host);
    }
    setProperty(connection, id, window->protocols_, XCB_ATOM_ATOM, 32, 1, &window->deleteWindow_);
    if (fullScreen) {
        const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE_FULLSCREEN");
        setProperty(connection, id, internAtom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 1, &state);
    }
    window->busy_ = busy;

    window->context_ = xcb_generate_id(connection);
    // No exposure events for every copy of the canvas.
    const std::uint32_t noExposures = 0;
    xcb_create_gc(connection, window->context_, id, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    xcb_map_window(connection, id);
    xcb_flush(connection);
    return window;
}

GameWindow::~GameWindow() {
    if (!xcb_connection_has_error(connection_.get()) && window_ != 0) {
        for (const xcb_pixmap_t pixmap : {canvas_, texture_}) {
            if (pixmap != 0) {
                xcb_free_pixmap(connection_.get(), pixmap);
            }
        }
        xcb_free_gc(connection_.get(), context_);
        xcb_destroy_window(connection_.get(), window_);
        xcb_flush(connection_.get());
    }
}

int GameWindow::fileDescriptor() const {
    return xcb_get_file_descriptor(connection_.get());
}

bool GameWindow::handleEvents() {
    bool open = true;
    bool exposed = false;
    while (auto* raw = xcb_poll_for_event(connection_.get())) {
        ReplyPointer<xcb_generic_event_t> event(raw, &std::free);
        switch (event->response_type & 0x7F) {
            case XCB_EXPOSE:
                exposed = true;
                break;
            case XCB_CONFIGURE_NOTIFY: {
                const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(raw);
                if (configure->window == window_ &&
                    (configure->width != width_ || configure->height != height_)) {
                    width_ = configure->width;
                    height_ = configure->height;
                    if (canvas_ != 0) {
                        xcb_free_pixmap(connection_.get(), canvas_);
                        canvas_ = 0;
                    }
                    exposed = true;
                }
                break;
            }
            case XCB_CLIENT_MESSAGE: {
                const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(raw);
                if (message->type == protocols_ && message->data.data32[0] == deleteWindow_) {
                    open = false;
                }
                break;
            }
            case XCB_DESTROY_NOTIFY:
                open = false;
                break;
            default:
                break;
        }
    }
    if (xcb_connection_has_error(connection_.get())) {
        return false;
    }
    if (open && exposed) {
        draw(lastFrame_);
    }
    return open;
}

std::uint32_t GameWindow::pixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const {
    // Scales an 8-bit channel into the visual's mask; a visual without masks gets black or white.
    const auto place = [](std::uint8_t value, std::uint32_t mask) -> std::uint32_t {
        if (mask == 0) {
            return 0;
        }
        const int bits = std::popcount(mask);
        const int shift = std::countr_zero(mask);
        const std::uint32_t scaled = bits >= 8 ? static_cast<std::uint32_t>(value) << (bits - 8)
                                               : static_cast<std::uint32_t>(value) >> (8 - bits);
        return (scaled << shift) & mask;
    };
    if (redMask_ == 0) {
        return red + green + blue > 384 ? 1U : 0U;
    }
    return place(red, redMask_) | place(green, greenMask_) | place(blue, blueMask_);
}

void GameWindow::fill(std::uint32_t colour, const xcb_rectangle_t* rectangles, std::uint32_t count) {
    xcb_change_gc(connection_.get(), context_, XCB_GC_FOREGROUND, &colour);
    xcb_poly_fill_rectangle(connection_.get(), canvas_, context_, count, rectangles);
}

// A 256 x 256 tile of soft waves with grain, sent in strips that fit a request without BIG-REQUESTS.
void GameWindow::makeTexture() {
    constexpr int side = 256;
    constexpr int strip = 32;
    xcb_connection_t* connection = connection_.get();
    texture_ = xcb_generate_id(connection);
    xcb_create_pixmap(connection, depth_, texture_, window_, side, side);
    std::vector<std::uint32_t> pixels(side * strip);
    std::uint32_t grain = 1;
    for (int top = 0; top < side; top += strip) {
        for (int y = 0; y < strip; ++y) {
            for (int x = 0; x < side; ++x) {
                grain = grain * 1664525U + 1013904223U;
                const double angle = 2 * 3.14159265358979 * (x + 2 * (top + y)) / side;
                const int noise = static_cast<int>(grain >> 27) - 16;
                const auto channel = [&](double phase) {
                    return static_cast<std::uint8_t>(
                        std::clamp(static_cast<int>(120 + 80 * std::sin(angle + phase)) + noise, 0, 255));
                };
                pixels[static_cast<std::size_t>(y * side + x)] = pixel(channel(0), channel(2), channel(4));
            }
        }
        xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, texture_, context_, side, strip, 0,
                      static_cast<std::int16_t>(top), 0, depth_,
                      static_cast<std::uint32_t>(pixels.size() * sizeof pixels[0]),
                      reinterpret_cast<const std::uint8_t*>(pixels.data()));
    }
}

void GameWindow::finish() {
    xcb_connection_t* connection = connection_.get();
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

void GameWindow::draw(std::uint64_t frame) {
    lastFrame_ = frame;
    if (width_ == 0 || height_ == 0) {
        return;
    }
    xcb_connection_t* connection = connection_.get();
    if (canvas_ == 0) {
        canvas_ = xcb_generate_id(connection);
        xcb_create_pixmap(connection, depth_, canvas_, window_, width_, height_);
    }
    const xcb_rectangle_t whole = {0, 0, width_, height_};
    if (busy_) {
        if (texture_ == 0) {
            makeTexture();
        }
        // The tile drifts 3 pixels right and 2 down each frame.
        const std::uint32_t tiled[] = {XCB_FILL_STYLE_TILED, texture_,
                                       static_cast<std::uint32_t>(frame * 3 % 256),
                                       static_cast<std::uint32_t>(frame * 2 % 256)};
        xcb_change_gc(
            connection, context_,
            XCB_GC_FILL_STYLE | XCB_GC_TILE | XCB_GC_TILE_STIPPLE_ORIGIN_X | XCB_GC_TILE_STIPPLE_ORIGIN_Y,
            tiled);
        xcb_poly_fill_rectangle(connection, canvas_, context_, 1, &whole);
        const std::uint32_t solid = XCB_FILL_STYLE_SOLID;
        xcb_change_gc(connection, context_, XCB_GC_FILL_STYLE, &solid);
    } else {
        fill(pixel(16, 24, 40), &whole, 1);
    }

    // The bar crosses the window every two seconds, in the next of six colours on each crossing.
    constexpr std::uint64_t framesPerCrossing = 60;
    static constexpr std::array<std::array<std::uint8_t, 3>, 6> colours = {
        {{230, 60, 50}, {240, 200, 40}, {60, 200, 80}, {40, 200, 220}, {70, 90, 230}, {210, 70, 210}}};
    const int barWidth = std::max(8, width_ / 12);
    const auto step = static_cast<int>(frame % framesPerCrossing);
    const auto barX = static_cast<std::int16_t>(
        step * (width_ + barWidth) / static_cast<int>(framesPerCrossing) - barWidth);
    const auto& colour = colours[(frame / framesPerCrossing) % colours.size()];
    const xcb_rectangle_t bar = {barX, 0, static_cast<std::uint16_t>(barWidth), height_};
    fill(pixel(colour[0], colour[1], colour[2]), &bar, 1);

    // The frame number on a dark panel of its own, so the bar never hides it.
    constexpr int digits = 6;
    const auto digitHeight = static_cast<std::uint16_t>(std::max(20, height_ / 8));
    const auto digitWidth = static_cast<std::uint16_t>(digitHeight / 2);
    const auto thickness = static_cast<std::uint16_t>(std::max(2, digitHeight / 9));
    const auto gap = static_cast<std::uint16_t>(digitWidth / 3);
    const std::int16_t margin = 16;
    const xcb_rectangle_t panel = {margin, margin,
                                   static_cast<std::uint16_t>(digits * (digitWidth + gap) + gap),
                                   static_cast<std::uint16_t>(digitHeight + 2 * gap)};
    fill(pixel(0, 0, 0), &panel, 1);
    std::vector<xcb_rectangle_t> segments;
    std::uint64_t rest = frame;
    for (int position = digits - 1; position >= 0; --position) {
        const auto x = static_cast<std::int16_t>(margin + gap + position * (digitWidth + gap));
        addDigit(segments, static_cast<int>(rest % 10), x, static_cast<std::int16_t>(margin + gap),
                 digitWidth, digitHeight, thickness);
        rest /= 10;
    }
    fill(pixel(255, 255, 255), segments.data(), static_cast<std::uint32_t>(segments.size()));

    xcb_copy_area(connection, canvas_, window_, context_, 0, 0, 0, 0, width_, height_);
    xcb_flush(connection);
}

}  // namespace fakegame
