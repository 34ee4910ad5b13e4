// SPDX-License-Identifier: GPL-3.0-or-later
// The provider and the workspace against a real X server with a window manager, started by each test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "TestDesktop.h"
#include "capture/ScreenCaptureFilter.h"
#include "linux/X11ContentProvider.h"
#include "linux/X11DesktopWorkspace.h"

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
    // Takes snapshots until the application of `pid` `matches`.
    bool awaitApplication(pid_t pid, auto matches) const {
        return waitUntil(
            [&] {
                return std::ranges::any_of(
                    workspace.runningApplications(),
                    [&](const DesktopApplication& app) { return app.pid == pid && matches(app); });
            },
            20s);
    }

    TestDisplay display;
    const X11ContentProvider provider{display.name()};
    const X11DesktopWorkspace workspace{display.name()};
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
    // The window is listed from its creation on; it counts once mapped at its size.
    const auto shown = awaitWindow([&](const Window& window) {
        return window.owningApplication == owner && window.isActive && window.frame.width == 1280 &&
               window.frame.height == 720;
    });
    ASSERT_TRUE(shown) << "the stand-in game's window was never shown";
    EXPECT_EQ(std::ranges::count(provider.getShareableContent()->applications, owner), 1);
    const auto gameOnly = filter.get(game);
    ASSERT_TRUE(gameOnly);
    EXPECT_EQ(gameOnly->display, screen[0]);
    ASSERT_EQ(gameOnly->includedWindows.size(), 1U);
    EXPECT_EQ(gameOnly->includedWindows[0].windowID, shown->windowID);
    // The workspace lists it under its Wow.exe, which it locates.
    const auto wowExe = std::filesystem::weakly_canonical(
        folder.file("prefix/drive_c/Program Files (x86)/World of Warcraft/_retail_/Wow.exe"));
    EXPECT_TRUE(awaitApplication(fakeGame.pid(), [&](const DesktopApplication& app) {
        return app.bundleIdentifier == game && app.localizedName == "wow.exe" && app.finishedLaunching &&
               !app.hidden && app.location && std::filesystem::weakly_canonical(*app.location) == wowExe;
    }));

    // Minimised: no longer active, nothing to record, hidden but still launched.
    ChildProcess minimise({"/usr/bin/xdotool", "windowminimize", std::to_string(shown->windowID)},
                          {{"DISPLAY", display.name()}});
    EXPECT_EQ(minimise.wait(20s), 0);
    EXPECT_TRUE(awaitWindow([&](const Window& window) {
        return window.windowID == shown->windowID && !window.isActive && window.owningApplication == owner;
    }));
    EXPECT_EQ(filter.get(game), std::nullopt);
    EXPECT_TRUE(awaitApplication(
        fakeGame.pid(), [](const DesktopApplication& app) { return app.hidden && app.finishedLaunching; }));
}

}  // namespace
}  // namespace vidora
