// The provider against a real X server with a window manager, both started by each test.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "ChildProcess.h"
#include "TemporaryFolder.h"
#include "capture/ScreenCaptureFilter.h"
#include "linux/X11ContentProvider.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using tavrin::testing::ChildProcess;
using tavrin::testing::waitUntil;

constexpr std::string_view game = "com.blizzard.worldofwarcraft";

std::string lockFile(int number) {
    return "/tmp/.X" + std::to_string(number) + "-lock";
}
std::string socketFile(int number) {
    return "/tmp/.X11-unix/X" + std::to_string(number);
}
bool displayNumberFree(int number) {
    return !std::filesystem::exists(lockFile(number)) && !std::filesystem::exists(socketFile(number));
}

using XcbConnection = std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)>;
XcbConnection connect(const std::string& displayName) {
    return {xcb_connect(displayName.c_str(), nullptr), &xcb_disconnect};
}

const Window* findWindow(const ShareableContent& content, auto matches) {
    const auto found = std::ranges::find_if(content.windows, matches);
    return found == content.windows.end() ? nullptr : &*found;
}

void stop(std::unique_ptr<ChildProcess>& child) {
    // SIGTERM lets the server remove its lock file and socket.
    if (child) {
        child->signal(SIGTERM);
        child->wait(10s);
        child.reset();
    }
}

// Xvfb at 1920 x 1080 on a display number of its own, with openbox for EWMH.
class X11ContentProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int number = 100 + ::getpid() % 400, attempt = 0; attempt < 20 && !server; ++number, ++attempt) {
            if (!displayNumberFree(number)) {
                continue;
            }
            auto candidate = std::make_unique<ChildProcess>(
                std::vector<std::string>{"/usr/bin/Xvfb", ":" + std::to_string(number), "-screen", "0",
                                         "1920x1080x24", "-nolisten", "tcp"},
                std::map<std::string, std::string>{});
            // The lock file names the server that won the number; another test may have raced for it.
            const auto serves = [&] {
                return std::filesystem::exists(socketFile(number)) &&
                       std::atoi(tavrin::testing::readFile(lockFile(number)).c_str()) == candidate->pid();
            };
            if (waitUntil([&] { return serves() || !candidate->running(); }, 20s) && candidate->running()) {
                server = std::move(candidate);
                displayName = ":" + std::to_string(number);
            }
        }
        ASSERT_TRUE(server) << "no Xvfb came up";
        // Openbox runs the startup command once it manages windows; a window mapped earlier may be lost.
        windowManager =
            std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/openbox", "--sm-disable",
                                                                    "--startup", "/usr/bin/touch " + ready},
                                           std::map<std::string, std::string>{{"DISPLAY", displayName}});
        ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(ready); }, 20s))
            << "openbox did not start";
    }

    void TearDown() override {
        stop(windowManager);
        stop(server);
    }

    std::optional<ShareableContent> snapshot() const {
        return X11ContentProvider(displayName).getShareableContent();
    }

    // Takes snapshots until one has a window that `matches`; that window's id, or 0.
    std::uint32_t awaitWindow(auto matches) {
        std::uint32_t found = 0;
        waitUntil(
            [&] {
                const auto content = snapshot();
                const Window* window = content ? findWindow(*content, matches) : nullptr;
                found = window ? window->windowID : 0;
                return window != nullptr;
            },
            20s);
        return found;
    }

    tavrin::testing::TemporaryFolder folder;
    const std::string ready = folder.file("openbox-ready");
    std::unique_ptr<ChildProcess> server;
    std::unique_ptr<ChildProcess> windowManager;
    std::string displayName;
};

TEST_F(X11ContentProviderTest, SeesTheScreenAsOneMonitorAndNothingWithoutAServer) {
    const auto content = snapshot();
    ASSERT_TRUE(content);
    ASSERT_EQ(content->displays.size(), 1U);
    const Display& monitor = content->displays.front();
    EXPECT_GT(monitor.displayID, 0U);
    EXPECT_EQ(monitor, (Display{monitor.displayID, 1920, 1080, {0, 0, 1920, 1080}}));
    const X11ContentProvider provider(displayName);
    EXPECT_EQ(ScreenCaptureFilter(provider).getDisplays(),
              (std::vector<DisplaySummary>{{static_cast<std::int64_t>(monitor.displayID), 1920, 1080}}));
    // This test program is none of ours.
    EXPECT_EQ(provider.ownBundleIdentifier(), std::nullopt);

    int unused = 600;
    while (!displayNumberFree(unused)) {
        ++unused;
    }
    EXPECT_FALSE(X11ContentProvider(":" + std::to_string(unused)).getShareableContent());
}

TEST_F(X11ContentProviderTest, FollowsTheStandInGameFromShownToMinimised) {
    ChildProcess fakeGame({"/bin/bash", RUN_FAKEGAME, folder.file("prefix"), "--match", "--matches", "0"},
                          {{"DISPLAY", displayName}, {"FAKEGAME", ""}});
    const ApplicationRecord owner{std::string(game), fakeGame.pid()};
    const std::uint32_t shownID = awaitWindow(
        [&](const Window& window) { return window.owningApplication == owner && window.isActive; });
    ASSERT_NE(shownID, 0U);
    auto content = snapshot();
    const Window* shown =
        findWindow(*content, [&](const Window& window) { return window.windowID == shownID; });
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(std::ranges::count(content->applications, owner), 1);
    EXPECT_EQ(std::pair(shown->frame.width, shown->frame.height), std::pair(1280, 720));
    EXPECT_TRUE(shown->frame.intersects(content->displays.at(0).frame));
    const X11ContentProvider provider(displayName);
    const ScreenCaptureFilter filter(provider);
    const auto gameOnly = filter.get(game);
    ASSERT_TRUE(gameOnly);
    EXPECT_EQ(gameOnly->display, content->displays.at(0));
    ASSERT_EQ(gameOnly->includedWindows.size(), 1U);
    EXPECT_EQ(gameOnly->includedWindows.front().windowID, shownID);

    ChildProcess minimise({"/usr/bin/xdotool", "windowminimize", std::to_string(shownID)},
                          {{"DISPLAY", displayName}});
    EXPECT_EQ(minimise.wait(20s), 0);
    EXPECT_EQ(awaitWindow([&](const Window& window) {
                  return window.windowID == shownID && !window.isActive && window.owningApplication == owner;
              }),
              shownID);
    EXPECT_EQ(filter.get(game), std::nullopt);
    const auto wholeDisplay = filter.get(static_cast<std::int64_t>(content->displays.at(0).displayID));
    ASSERT_TRUE(wholeDisplay);
    EXPECT_EQ(wholeDisplay->display, content->displays.at(0));
}

TEST_F(X11ContentProviderTest, FindsTheProcessOfAWindowWithoutPidThroughTheServer) {
    // A window of this test program with Discord's class and no _NET_WM_PID.
    const auto connection = connect(displayName);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection.get())).data;
    const xcb_window_t id = xcb_generate_id(connection.get());
    xcb_create_window(connection.get(), XCB_COPY_FROM_PARENT, id, screen->root, 0, 0, 320, 240, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    constexpr std::string_view windowClass{"discord\0discord\0", 16};
    xcb_change_property(connection.get(), XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        windowClass.size(), windowClass.data());
    xcb_map_window(connection.get(), id);
    xcb_flush(connection.get());

    const ApplicationRecord owner{"com.hnc.Discord", ::getpid()};
    ASSERT_EQ(awaitWindow([&](const Window& window) {
                  return window.windowID == id && window.isActive && window.owningApplication == owner &&
                         window.frame.width == 320 && window.frame.height == 240;
              }),
              id);
    EXPECT_EQ(std::ranges::count(snapshot()->applications, owner), 1);
}

}  // namespace
}  // namespace vidora
