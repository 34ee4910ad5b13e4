// The running applications against a real X server with a window manager, both started by each test.
#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "TestDesktop.h"
#include "linux/X11DesktopWorkspace.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view game = "com.blizzard.worldofwarcraft";

void setProperty(xcb_connection_t* connection, xcb_window_t window, std::string_view name, xcb_atom_t type,
                 const std::vector<std::uint32_t>& items) {
    const auto atom = testing::reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data()),
        nullptr));
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom->atom, type, 32,
                        static_cast<std::uint32_t>(items.size()), items.data());
    xcb_flush(connection);
}

class X11DesktopWorkspaceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(display.ready()) << "no Xvfb with openbox came up"; }

    // Takes snapshots until the application of `pid` `matches`; nothing when it never does.
    std::optional<DesktopApplication> awaitApplication(pid_t pid, auto matches) const {
        std::optional<DesktopApplication> seen;
        const bool matched = testing::waitUntil(
            [&] {
                const auto applications = workspace.runningApplications();
                const auto found = std::ranges::find(applications, pid, &DesktopApplication::pid);
                seen = found == applications.end() ? std::nullopt : std::optional(*found);
                return seen && matches(*seen);
            },
            20s);
        return matched ? seen : std::nullopt;
    }

    testing::TestDisplay display;
    const X11DesktopWorkspace workspace{display.name()};
    testing::TemporaryFolder folder;
};

TEST_F(X11DesktopWorkspaceTest, ListsTheStandInGameWithItsWowExe) {
    testing::ChildProcess fakeGame(
        {"/bin/bash", RUN_FAKEGAME, folder.file("prefix"), "--match", "--matches", "0"},
        {{"DISPLAY", display.name()}, {"FAKEGAME", ""}});
    const auto shown =
        awaitApplication(fakeGame.pid(), [](const auto& running) { return running.finishedLaunching; });
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->bundleIdentifier, game);
    EXPECT_EQ(shown->localizedName, "wow.exe");
    EXPECT_FALSE(shown->hidden);

    const auto location = workspace.applicationLocation(game);
    ASSERT_TRUE(location);
    EXPECT_EQ(std::filesystem::weakly_canonical(*location),
              std::filesystem::weakly_canonical(
                  folder.file("prefix/drive_c/Program Files (x86)/World of Warcraft/_retail_/Wow.exe")));
    EXPECT_EQ(workspace.applicationLocation("com.example.NotRunning"), std::nullopt);
}

TEST_F(X11DesktopWorkspaceTest, TakesIconAndStateFromTheProcessWindow) {
    xcb_connection_t* const connection = display.connection();
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, display.root(), 0, 0, 320, 240, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    constexpr std::string_view windowClass{"tavrin-test\0TavrinTest\0", 23};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        windowClass.size(), windowClass.data());
    const pid_t self = ::getpid();
    setProperty(connection, window, "_NET_WM_PID", XCB_ATOM_CARDINAL, {static_cast<std::uint32_t>(self)});
    // 16 x 16; 1100 x 1, larger but too wide; 32 x 32, the one to take.
    std::vector<std::uint32_t> pixels(32 * 32);
    for (std::uint32_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = 0xff000000U | (i * 0x010307U);
    }
    std::vector<std::uint32_t> icons{16, 16};
    icons.resize(2 + 16 * 16, 0xff00ff00U);
    icons.insert(icons.end(), {1100, 1});
    icons.resize(icons.size() + 1100, 0xffff0000U);
    icons.insert(icons.end(), {32, 32});
    icons.insert(icons.end(), pixels.begin(), pixels.end());
    setProperty(connection, window, "_NET_WM_ICON", XCB_ATOM_CARDINAL, icons);
    xcb_map_window(connection, window);
    xcb_flush(connection);

    const auto shown = awaitApplication(self, [](const auto& own) { return own.windowIcon && !own.hidden; });
    ASSERT_TRUE(shown);
    EXPECT_EQ(*shown->windowIcon, (Icon{"", 32, 32, pixels}));
    EXPECT_EQ(workspace.iconFor(*shown, ""), shown->windowIcon);
    EXPECT_TRUE(shown->finishedLaunching);
    EXPECT_EQ(shown->localizedName, "TavrinTest");
    EXPECT_EQ(shown->bundleIdentifier, std::nullopt);

    // An image claiming more pixels than the property holds spoils the property. (Openbox puts its
    // own icon on a window whose property holds no valid image, so a valid one comes first.)
    setProperty(connection, window, "_NET_WM_ICON", XCB_ATOM_CARDINAL, {1, 1, 0xff0000ffU, 64, 64, 1, 2, 3});
    EXPECT_TRUE(awaitApplication(self, [](const auto& own) { return !own.windowIcon; }));

    testing::ChildProcess minimise({"/usr/bin/xdotool", "windowminimize", std::to_string(window)},
                                   {{"DISPLAY", display.name()}});
    EXPECT_EQ(minimise.wait(20s), 0);
    const auto minimised = awaitApplication(self, [](const auto& own) { return own.hidden; });
    ASSERT_TRUE(minimised);
    EXPECT_TRUE(minimised->finishedLaunching);
    xcb_destroy_window(connection, window);
    xcb_flush(connection);
}

TEST(X11DesktopWorkspaceWithoutDisplayTest, ListsTheProcessesProcIdentifies) {
    int unused = 600;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(unused))) {
        ++unused;
    }
    ::setenv("DISPLAY", (":" + std::to_string(unused)).c_str(), 1);
    // A process that /proc takes for the game by its first command-line word.
    testing::ChildProcess stand({"/bin/bash", "-c", "exec -a 'C:\\Games\\Wow.exe' /bin/sleep 30"}, {});
    const X11DesktopWorkspace workspace;
    std::vector<DesktopApplication> applications;
    ASSERT_TRUE(testing::waitUntil(
        [&] {
            applications = workspace.runningApplications();
            return std::ranges::any_of(applications, [&](const auto& application) {
                return application.pid == stand.pid() && application.bundleIdentifier == game &&
                       application.localizedName == "Wow.exe";
            });
        },
        10s));
    EXPECT_TRUE(std::ranges::none_of(applications, &DesktopApplication::finishedLaunching));
    // Without a window icon: the generic one, for a location that exists.
    const auto& stood = *std::ranges::find(applications, stand.pid(), &DesktopApplication::pid);
    ASSERT_TRUE(workspace.iconFor(stood, "/bin/sleep"));
    EXPECT_EQ(workspace.iconFor(stood, "/bin/sleep")->symbolName, "app");
    EXPECT_EQ(workspace.iconFor(stood, "/nonexistent/Wow.exe"), nullptr);
    ::unsetenv("DISPLAY");
}

}  // namespace
}  // namespace vidora
