// SPDX-License-Identifier: GPL-3.0-or-later
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
TEST(MenuActions, HelpOpensTheSiteShowRecordingsTheMoviesAndDownloadCopiesTheAddonIntoDownloads) {
    tavrin::testing::TemporaryFolder home;
    const std::string downloaded = home.path() + "/Downloads/TavrinRecorder.zip";
    std::vector<std::string> revealed;
    std::vector<QUrl> opened;
    MenuActions actions{.addonArchive = std::nullopt,
                        .locations = MovieLocations([&](std::string_view name) -> std::optional<std::string> {
                            return name == "HOME" ? std::optional(home.path()) : std::nullopt;
                        }),
                        .reveal = [&](const QString& path) { revealed.push_back(path.toStdString()); },
                        .open = [&](const QUrl& url) { opened.push_back(url); }};
    // The first item of the Download (0), Recordings (1) or Help (2) menu, on menus built from the actions
    // as they are now.
    const auto trigger = [&](int menu, const QString& item) {
        QMenuBar bar;
        actions.addMenus(bar);
        ASSERT_EQ(bar.actions().size(), 3);
        QAction* action = bar.actions()[menu]->menu()->actions().value(0);
        ASSERT_EQ(action->text(), item);
        action->trigger();
    };
    trigger(2, "tavrinworks.net");
    trigger(1, "Show Recordings");  // made first: a fresh home has none
    const QString movies = QString::fromStdString(home.path() + "/Videos/TavrinMovies");
    EXPECT_EQ(opened, (std::vector<QUrl>{QUrl("https://tavrinworks.net"), QUrl::fromLocalFile(movies)}));
    EXPECT_TRUE(std::filesystem::is_directory(movies.toStdString()));

    const QString download = "Addon for World of Warcraft";
    trigger(0, download);  // no archive: nothing to copy or show
    actions.addonArchive = home.file("TavrinRecorder.zip");
    writeFile(*actions.addonArchive, "new add-on");
    trigger(0, download);  // no Downloads folder: nothing copied, the place is shown all the same
    EXPECT_FALSE(std::filesystem::exists(downloaded));
    std::filesystem::create_directories(home.path() + "/Downloads");
    writeFile(downloaded, "older add-on, longer than the new one");
    actions.addonArchive = home.file("gone.zip");  // a copy that fails leaves the older one whole
    trigger(0, download);
    EXPECT_EQ(readFile(downloaded), "older add-on, longer than the new one");
    actions.addonArchive = home.file("TavrinRecorder.zip");
    trigger(0, download);
    EXPECT_EQ(readFile(downloaded), "new add-on");
    EXPECT_EQ(tavrin::sortedEntries(home.path() + "/Downloads"),
              std::vector<std::string>{"TavrinRecorder.zip"});
    EXPECT_EQ(revealed, std::vector<std::string>(3, downloaded));
}

// Where the game's folder is known, the add-on goes into its AddOns folder, replacing only our own
// add-on's older copy; where that folder cannot take it, the archive goes to Downloads as before.
TEST(MenuActions, DownloadInstallsTheAddonIntoTheGamesFolder) {
    tavrin::testing::TemporaryFolder home;
    const std::string addOns = home.path() +
                               "/prefix/drive_c/Program Files (x86)/World of Warcraft/_retail_/"
                               "Interface/AddOns/";
    std::filesystem::create_directories(addOns + "TavrinRecorder");
    std::filesystem::create_directories(addOns + "Details");
    writeFile(addOns + "TavrinRecorder/Old.lua", "older add-on");
    writeFile(addOns + "Details/Details.toc", "another add-on");
    std::optional<std::string> gameFolder =
        home.path() + "/prefix/drive_c/Program Files (x86)/World of Warcraft/_retail_/";
    std::vector<std::string> revealed;
    MenuActions actions{.addonArchive = home.file("TavrinRecorder.zip"),
                        .locations = MovieLocations([&](std::string_view name) -> std::optional<std::string> {
                            return name == "HOME" ? std::optional(home.path()) : std::nullopt;
                        }),
                        .reveal = [&](const QString& path) { revealed.push_back(path.toStdString()); },
                        .open = {},
                        .gameFolder = [&] { return gameFolder; },
                        .logFolder = std::nullopt};
    writeFile(*actions.addonArchive, "archive");
    actions.downloadAddon();
    for (const std::string file : {"TavrinRecorder.toc", "TavrinRecorder.lua"}) {
        EXPECT_EQ(readFile(addOns + "TavrinRecorder/" + file), readFile(VIDORA_ADDON_SOURCE "/" + file));
    }
    EXPECT_FALSE(std::filesystem::exists(addOns + "TavrinRecorder/Old.lua"));
    EXPECT_EQ(readFile(addOns + "Details/Details.toc"), "another add-on");
    EXPECT_EQ(tavrin::sortedEntries(addOns), (std::vector<std::string>{"Details", "TavrinRecorder"}));

    gameFolder = home.file("TavrinRecorder.zip");  // no folder at all
    std::filesystem::create_directories(home.path() + "/Downloads");
    actions.downloadAddon();
    EXPECT_EQ(readFile(home.path() + "/Downloads/TavrinRecorder.zip"), "archive");
    EXPECT_EQ(revealed, (std::vector<std::string>{addOns + "TavrinRecorder",
                                                  home.path() + "/Downloads/TavrinRecorder.zip"}));
}

}  // namespace
}  // namespace vidora
