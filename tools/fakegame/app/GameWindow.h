// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <string_view>

namespace fakegame {

// The game's window as window managers and capture tools see it: WM_CLASS "wow.exe", the title
// "World of Warcraft", _NET_WM_PID; it draws a colour bar moving across and the frame number in
// seven-segment digits, so that movies of it show motion and whether frames were lost. All calls come from
// the main thread.
class GameWindow {
public:
    // A window on the display DISPLAY names; null when there is none. Full screen asks the window manager
    // for the whole screen, as games do. A busy picture moves a texture everywhere under the bar, as a
    // game's camera does, so that an encoder has something to work at.
    static std::unique_ptr<GameWindow> open(std::uint16_t width, std::uint16_t height,
                                            bool fullScreen = false, bool busy = false);
    ~GameWindow();
    GameWindow(const GameWindow&) = delete;
    GameWindow& operator=(const GameWindow&) = delete;

    // Readable when events wait.
    int fileDescriptor() const;
    // Handles the events that arrived; false once the window was closed or the display went away.
    bool handleEvents();
    void draw(std::uint64_t frame);
    // Returns once the X server has drawn everything asked of it, as a game's present waits for the screen.
    void finish();

private:
    struct Disconnect {
        void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
    };

    explicit GameWindow(xcb_connection_t* connection) : connection_(connection) {}
    std::uint32_t pixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const;
    void fill(std::uint32_t colour, const xcb_rectangle_t* rectangles, std::uint32_t count);
    void makeTexture();

    std::unique_ptr<xcb_connection_t, Disconnect> connection_;
    xcb_window_t window_ = 0;
    xcb_gcontext_t context_ = 0;
    xcb_pixmap_t canvas_ = 0;   // drawn off screen, then copied: no flicker
    xcb_pixmap_t texture_ = 0;  // the busy picture's tile
    bool busy_ = false;
    std::uint8_t depth_ = 0;
    std::uint16_t width_ = 0;
    std::uint16_t height_ = 0;
    xcb_atom_t protocols_ = 0;
    xcb_atom_t deleteWindow_ = 0;
    std::uint32_t redMask_ = 0;
    std::uint32_t greenMask_ = 0;
    std::uint32_t blueMask_ = 0;
    std::uint64_t lastFrame_ = 0;
};

}  // namespace fakegame
