#include <gtest/gtest.h>

#include <QMenu>
#include <QMenuBar>
#include <filesystem>
#include <vector>

#include "MenuActions.h"
#include "TemporaryFolder.h"

namespace vidora {
namespace {

using tavrin::testing::readFile;
using tavrin::testing::writeFile;

// The menus on a real menu bar, with a temporary home and the desktop's services recorded.
class MenuActionsTest : public ::testing::Test {
protected:
    // Builds the menus now, so they hold the actions as the test set them, and picks the one item of
    // the Download (0) or Help (1) menu.
    void trigger(int menu, const QString& item) {
        QMenuBar bar;
        actions.addMenus(bar);
        ASSERT_EQ(bar.actions().size(), 2);
        ASSERT_EQ(bar.actions()[menu]->text(), menu == 0 ? "Download" : "Help");
        ASSERT_EQ(bar.actions()[menu]->menu()->actions().size(), 1);
        QAction* action = bar.actions()[menu]->menu()->actions()[0];
        ASSERT_EQ(action->text(), item);
        action->trigger();
    }

    tavrin::testing::TemporaryFolder home;
    std::string archive = home.file("TavrinRecorder.zip");
    std::string downloaded = home.path() + "/Downloads/TavrinRecorder.zip";
    std::vector<std::string> revealed;
    std::vector<QUrl> opened;
    MenuActions actions{
        .addonArchive = archive,
        .locations = MovieLocations([this](std::string_view name) -> std::optional<std::string> {
            return name == "HOME" ? std::optional(home.path()) : std::nullopt;
        }),
        .reveal = [this](const QString& path) { revealed.push_back(path.toStdString()); },
        .open = [this](const QUrl& url) { opened.push_back(url); }};
};

TEST_F(MenuActionsTest, HelpOpensTheWebSite) {
    trigger(1, "tavrinworks.net");
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl("https://tavrinworks.net")});
}

TEST_F(MenuActionsTest, DownloadCopiesTheAddonOverAnOlderOneAndRevealsIt) {
    writeFile(archive, "new add-on");
    // No Downloads folder: nothing copied, the place is shown all the same.
    trigger(0, "Addon for World of Warcraft");
    EXPECT_FALSE(std::filesystem::exists(downloaded));
    std::filesystem::create_directories(home.path() + "/Downloads");
    writeFile(downloaded, "older add-on, longer than the new one");
    trigger(0, "Addon for World of Warcraft");
    EXPECT_EQ(readFile(downloaded), "new add-on");
    std::filesystem::remove(downloaded);
    trigger(0, "Addon for World of Warcraft");
    EXPECT_EQ(readFile(downloaded), "new add-on");
    EXPECT_EQ(revealed, std::vector<std::string>(3, downloaded));
}

TEST_F(MenuActionsTest, DownloadWithoutArchiveOrHomeDoesNothing) {
    actions.addonArchive.reset();
    trigger(0, "Addon for World of Warcraft");
    actions.addonArchive = archive;
    writeFile(archive, "new add-on");
    actions.locations = MovieLocations([](std::string_view) { return std::optional<std::string>(); });
    trigger(0, "Addon for World of Warcraft");
    EXPECT_TRUE(revealed.empty());
}

}  // namespace
}  // namespace vidora
