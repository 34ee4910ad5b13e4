// The provider against a real X server with a window manager, both started by each test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "TestDesktop.h"
#include "capture/ScreenCaptureFilter.h"
#include "linux/X11ContentProvider.h"

namespace vidora {
namespace {

using namespace vidora::testing;

constexpr std::string_view game = "com.blizzard.worldofwarcraft";

class X11ContentProviderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(display.ready()) << "no Xvfb with openbox came up"; }

    // Takes snapshots until one has a window that `matches`; that window, or nothing.
    std::optional<Window> awaitWindow(auto matches) const {
        std::optional<Window> found;
        waitUntil(
            [&] {
                const auto content = provider.getShareableContent();
                const auto window = content ? std::ranges::find_if(content->windows, matches)
                                            : std::vector<Window>::const_iterator{};
                found = content && window != content->windows.end() ? std::optional(*window) : std::nullopt;
                return found.has_value();
            },
            20s);
        return found;
    }

    TestDisplay display;
    const X11ContentProvider provider{display.name()};
    const ScreenCaptureFilter filter{provider};
    TemporaryFolder folder;
};

TEST_F(X11ContentProviderTest, SeesTheScreenAndFollowsTheStandInGameFromShownToMinimised) {
    EXPECT_FALSE(X11ContentProvider(":5999").getShareableContent()) << "a display no server serves";
    EXPECT_EQ(provider.ownBundleIdentifier(), std::nullopt) << "this test program is none of ours";
    const auto screen = provider.getShareableContent().value().displays;
    ASSERT_EQ(screen.size(), 1U);
    EXPECT_GT(screen[0].displayID, 0U);
    EXPECT_EQ(screen[0], (Display{screen[0].displayID, 1920, 1080, {0, 0, 1920, 1080}}));

    ChildProcess fakeGame({"/bin/bash", RUN_FAKEGAME, folder.file("prefix"), "--match", "--matches", "0"},
                          {{"DISPLAY", display.name()}, {"FAKEGAME", ""}});
    const ApplicationRecord owner{std::string(game), fakeGame.pid()};
    const auto shown = awaitWindow([&](const Window& window) { return window.owningApplication == owner; });
    ASSERT_TRUE(shown && shown->isActive);
    EXPECT_EQ(std::pair(shown->frame.width, shown->frame.height), std::pair(1280, 720));
    EXPECT_EQ(std::ranges::count(provider.getShareableContent()->applications, owner), 1);
    const auto gameOnly = filter.get(game);
    ASSERT_TRUE(gameOnly);
    EXPECT_EQ(gameOnly->display, screen[0]);
    ASSERT_EQ(gameOnly->includedWindows.size(), 1U);
    EXPECT_EQ(gameOnly->includedWindows[0].windowID, shown->windowID);

    ChildProcess minimise({"/usr/bin/xdotool", "windowminimize", std::to_string(shown->windowID)},
                          {{"DISPLAY", display.name()}});
    EXPECT_EQ(minimise.wait(20s), 0);
    EXPECT_TRUE(awaitWindow([&](const Window& window) {
        return window.windowID == shown->windowID && !window.isActive && window.owningApplication == owner;
    }));
    EXPECT_EQ(filter.get(game), std::nullopt);
}

TEST_F(X11ContentProviderTest, FindsTheProcessOfAWindowWithoutPidThroughTheServer) {
    // A window of this test program with Discord's class and no _NET_WM_PID.
    xcb_connection_t* const connection = display.connection();
    const xcb_window_t id = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, id, display.root(), 0, 0, 320, 240, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    constexpr std::string_view windowClass{"discord\0discord\0", 16};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        windowClass.size(), windowClass.data());
    xcb_map_window(connection, id);
    xcb_flush(connection);

    const ApplicationRecord owner{"com.hnc.Discord", ::getpid()};
    EXPECT_TRUE(awaitWindow([&](const Window& window) {
        return window.windowID == id && window.isActive && window.owningApplication == owner &&
               window.frame.width == 320 && window.frame.height == 240;
    }));
    EXPECT_EQ(std::ranges::count(provider.getShareableContent()->applications, owner), 1);
}

}  // namespace
}  // namespace vidora
