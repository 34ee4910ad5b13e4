// SPDX-License-Identifier: GPL-3.0-or-later
// The running applications: icon and name from a window of this process on a real X server with a window
// manager, and without a display what /proc identifies.
#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <filesystem>

#include "TestDesktop.h"
#include "linux/X11DesktopWorkspace.h"

namespace vidora {
namespace {

using namespace vidora::testing;

void setProperty(xcb_connection_t* connection, xcb_window_t window, std::string_view name, xcb_atom_t type,
                 const std::vector<std::uint32_t>& items) {
    const auto atom =
        xcbReply(xcb_intern_atom_reply, connection,
                 xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data()));
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom->atom, type, 32,
                        static_cast<std::uint32_t>(items.size()), items.data());
    xcb_flush(connection);
}

TEST(X11DesktopWorkspaceTest, TakesNameAndIconFromTheProcessWindow) {
    TestDisplay display;
    ASSERT_TRUE(display.ready()) << "no Xvfb with openbox came up";
    const X11DesktopWorkspace workspace{display.name()};
    xcb_connection_t* const connection = display.connection();
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, display.root(), 0, 0, 320, 240, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    constexpr std::string_view windowClass{"tavrin-test\0TavrinTest\0", 23};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        windowClass.size(), windowClass.data());
    setProperty(connection, window, "_NET_WM_PID", XCB_ATOM_CARDINAL,
                {static_cast<std::uint32_t>(::getpid())});
    xcb_map_window(connection, window);
    xcb_flush(connection);

    const std::vector<std::uint32_t> pixels{0xff102030U, 0xff405060U, 0xff708090U, 0xffa0b0c0U};
    std::vector<std::uint32_t> twoImages{256, 257};  // one row too tall to take
    twoImages.resize(2 + 256 * 257, 0xffff0000U);
    twoImages.insert(twoImages.end(), {2, 2});
    twoImages.insert(twoImages.end(), pixels.begin(), pixels.end());
    const struct {
        const char* what;
        std::vector<std::uint32_t> property;
        std::optional<Icon> expected;
    } icons[] = {
        {"the largest that fits", twoImages, Icon{"", "", 2, 2, pixels}},
        // An image claiming more pixels than the property holds spoils the property. (Openbox puts its
        // own icon on a window whose property holds no valid image, so a valid one comes first.)
        {"a spoiled property", {1, 1, 0xff0000ffU, 64, 64, 1, 2, 3}, std::nullopt},
    };
    for (const auto& row : icons) {
        setProperty(connection, window, "_NET_WM_ICON", XCB_ATOM_CARDINAL, row.property);
        std::optional<DesktopApplication> own;
        EXPECT_TRUE(waitUntil(
            [&] {
                const auto applications = workspace.runningApplications();
                const auto found = std::ranges::find(applications, ::getpid(), &DesktopApplication::pid);
                own = found == applications.end() ? std::nullopt : std::optional(*found);
                return own && !own->hidden &&
                       (own->icon ? std::optional(*own->icon) : std::nullopt) == row.expected;
            },
            20s))
            << row.what;
        ASSERT_TRUE(own) << row.what;
        EXPECT_EQ(workspace.iconFor(*own, ""), own->icon) << row.what;
        EXPECT_TRUE(own->finishedLaunching);
        EXPECT_EQ(own->localizedName, "TavrinTest");
        EXPECT_EQ(own->bundleIdentifier, std::nullopt);
    }
}

}  // namespace
}  // namespace vidora
