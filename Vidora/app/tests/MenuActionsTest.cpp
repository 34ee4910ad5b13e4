#include <gtest/gtest.h>

#include <QMenu>
#include <filesystem>
#include <vector>

#include "MenuActions.h"
#include "TemporaryFolder.h"

namespace vidora {
namespace {

using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::writeFile;

// The menus on a real menu bar, with a temporary home and the desktop's services recorded.
class MenuActionsTest : public ::testing::Test {
protected:
    MenuActionsTest() {
        writeFile(archive(), "new add-on");
        actions.addonArchive = archive();
        actions.locations = MovieLocations([this](std::string_view name) -> std::optional<std::string> {
            return name == "HOME" ? std::optional(home.path()) : std::nullopt;
        });
        actions.reveal = [this](const QString& path) { revealed.push_back(path.toStdString()); };
        actions.open = [this](const QUrl& url) { opened.push_back(url); };
    }

    std::string archive() const { return home.file("TavrinRecorder.zip"); }
    std::string downloaded() const { return home.path() + "/Downloads/TavrinRecorder.zip"; }
    // Builds the menus now, so they hold the actions as the test set them.
    void trigger(int menu, const QString& item) {
        QMenuBar bar;
        actions.addMenus(bar);
        QAction* action = bar.actions().at(menu)->menu()->actions().at(0);
        ASSERT_EQ(action->text(), item);
        action->trigger();
    }

    TemporaryFolder home;
    MenuActions actions;
    std::vector<std::string> revealed;
    std::vector<QUrl> opened;
};

TEST_F(MenuActionsTest, MenusAndHelp) {
    QMenuBar bar;
    actions.addMenus(bar);
    ASSERT_EQ(bar.actions().size(), 2);
    EXPECT_EQ(bar.actions()[0]->text(), "Download");
    EXPECT_EQ(bar.actions()[1]->text(), "Help");
    EXPECT_EQ(bar.actions()[1]->menu()->actions().size(), 1);
    trigger(1, "tavrinworks.net");
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl("https://tavrinworks.net")});
}

TEST_F(MenuActionsTest, DownloadCopiesTheAddonOverAnOlderOneAndRevealsIt) {
    // No Downloads folder: nothing copied, the place is shown all the same.
    trigger(0, "Addon for World of Warcraft");
    EXPECT_FALSE(std::filesystem::exists(downloaded()));
    std::filesystem::create_directories(home.path() + "/Downloads");
    writeFile(downloaded(), "older add-on, longer than the new one");
    trigger(0, "Addon for World of Warcraft");
    EXPECT_EQ(readFile(downloaded()), "new add-on");
    std::filesystem::remove(downloaded());
    trigger(0, "Addon for World of Warcraft");
    EXPECT_EQ(readFile(downloaded()), "new add-on");
    EXPECT_EQ(revealed, std::vector<std::string>(3, downloaded()));
}

TEST_F(MenuActionsTest, DownloadWithoutArchiveOrHomeDoesNothing) {
    actions.addonArchive.reset();
    trigger(0, "Addon for World of Warcraft");
    actions.addonArchive = archive();
    actions.locations = MovieLocations([](std::string_view) { return std::optional<std::string>(); });
    trigger(0, "Addon for World of Warcraft");
    EXPECT_TRUE(revealed.empty());
}

}  // namespace
}  // namespace vidora
