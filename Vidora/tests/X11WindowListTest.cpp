// SPDX-License-Identifier: GPL-3.0-or-later
// The application windows where no window manager publishes a client list (weston's for Xwayland): the
// test itself plays a reparenting manager's part on a bare Xvfb. The workspace then names their process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "TestDesktop.h"
#include "linux/X11DesktopWorkspace.h"
#include "linux/X11WindowList.h"

namespace vidora {
namespace {

using namespace vidora::testing;

TEST(X11WindowListTest, WithoutAClientListFindsTheClientsInFramesTheirProcessesAndDesktopEntries) {
    TestDisplay display{false};
    ASSERT_TRUE(display.ready()) << "no Xvfb came up";
    xcb_connection_t* const x = display.connection();
    const xcb_atom_t wmState = xcbReply(xcb_intern_atom_reply, x, xcb_intern_atom(x, 0, 8, "WM_STATE"))->atom;
    // A window at `parent`; mapped or not, with WM_STATE (0: none), WM_CLASS, override-redirect.
    const auto window = [&](xcb_window_t parent, bool mapped, std::uint32_t state, std::string_view wmClass,
                            bool overrideRedirect = false) {
        const xcb_window_t id = xcb_generate_id(x);
        const std::uint32_t values[] = {overrideRedirect ? 1U : 0U};
        xcb_create_window(x, XCB_COPY_FROM_PARENT, id, parent, 10, 10, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                          values);
        if (state != 0) {
            const std::uint32_t items[] = {state, XCB_WINDOW_NONE};
            xcb_change_property(x, XCB_PROP_MODE_REPLACE, id, wmState, wmState, 32, 2, items);
        }
        if (!wmClass.empty()) {
            xcb_change_property(x, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                                static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
        }
        if (mapped) {
            xcb_map_window(x, id);
        }
        return id;
    };
    // Bottom to top: a shown frame with its client; a minimised one (frame and client unmapped); a client
    // of its own at the root; a shown window no manager marked; a hidden helper; a menu.
    const xcb_window_t frame = window(display.root(), true, 0, "");
    const xcb_window_t shown = window(window(frame, true, 0, ""), true, 1, {"shown\0Shown\0", 13});
    const xcb_window_t minimised = window(window(display.root(), false, 0, ""), false, 3, "");
    const xcb_window_t unframed = window(display.root(), true, 1, "");
    const xcb_window_t plain = window(display.root(), true, 0, {"plain\0Plain\0", 13});
    window(display.root(), false, 0, "");
    window(display.root(), true, 0, "", true);
    ASSERT_TRUE(xcbReply(xcb_get_input_focus_reply, x, xcb_get_input_focus(x)));

    const auto snapshot = X11Snapshot::open(display.name());
    ASSERT_TRUE(snapshot);
    const auto windows = topLevelWindows(snapshot->connection.get(), snapshot->root);
    std::vector<xcb_window_t> found;
    std::ranges::transform(windows, std::back_inserter(found), &TopLevelWindow::window);
    EXPECT_EQ(found, (std::vector{shown, minimised, unframed, plain}));
    // None has _NET_WM_PID: the X-Resource extension names this process.
    EXPECT_TRUE(std::ranges::all_of(windows, [](const auto& w) { return w.processId == ::getpid(); }));
    if (windows.size() == 4) {
        EXPECT_EQ(windows[0].className, "Shown");
        EXPECT_TRUE(windows[0].isActive);
        EXPECT_TRUE(windows[1].isMapped && !windows[1].isActive);
        EXPECT_TRUE(windows[3].isActive);
    }

    // The workspace names this process by the desktop entry that claims its first window's class.
    TemporaryFolder data;
    std::filesystem::create_directories(data.file("applications"));
    const std::string entry = data.file("applications/tavrin-shown.desktop");
    tavrin::testing::writeFile(
        entry,
        "[Desktop Entry]\nType=Application\nName=Shown Entry\nIcon=tavrin-shown\nStartupWMClass=Shown\n");
    const X11DesktopWorkspace workspace(display.name(), "/proc", [&](std::string_view name) {
        return std::optional(name == "XDG_DATA_HOME" ? data.path() : std::string());
    });
    const auto applications = workspace.runningApplications();
    const auto own = std::ranges::find(applications, ::getpid(), &DesktopApplication::pid);
    ASSERT_NE(own, applications.end());
    EXPECT_EQ(own->bundleIdentifier, "tavrin-shown");
    EXPECT_EQ(own->localizedName, "Shown Entry");
    EXPECT_EQ(own->location, entry);
    ASSERT_TRUE(own->icon);
    EXPECT_EQ(own->icon->themeName, "tavrin-shown");
}

}  // namespace
}  // namespace vidora
