// SPDX-License-Identifier: GPL-3.0-or-later
#include "MenuActions.h"

#include <QCoreApplication>
#include <filesystem>
#include <iostream>

#include "AddonInstall.h"
#include "common/Folders.h"
#include "control/AppInfo.h"

namespace vidora {

namespace {

constexpr const char* archiveName = "TavrinRecorder.zip";

}  // namespace

std::optional<std::string> findAddonArchive() {
    const std::filesystem::path installed =
        QCoreApplication::applicationDirPath().toStdString() + "/../share/vidora/" + archiveName;
    const std::filesystem::path built = std::string(VIDORA_BUILD_SHARE_DIR) + "/" + archiveName;
    std::error_code error;
    for (const auto& archive : {installed, built}) {
        if (std::filesystem::is_regular_file(archive, error)) {
            return archive.lexically_normal().string();
        }
    }
    return std::nullopt;
}

void MenuActions::downloadAddon() const {
    if (const auto folder = gameFolder()) {
        if (const auto installed = installAddon(*folder)) {
            std::clog << "Vidora: the add-on is installed in " << *installed << std::endl;
            reveal(QString::fromStdString(*installed));
            return;
        }
        std::clog << "Vidora: the add-on could not be installed in " << *folder
                  << "; its archive goes to the Downloads folder" << std::endl;
    }
    const auto downloads = locations.downloadPath();
    if (!addonArchive || !downloads) {
        return;
    }
    const std::string destination = *downloads + "/" + archiveName;
    // A failed copy still shows the folder, where an older copy may be.
    copyItem(*addonArchive, destination);
    reveal(QString::fromStdString(destination));
}

void MenuActions::showRecordings() const {
    if (const auto movies = locations.moviesURL()) {
        locations.prepareMoviesFolder();
        open(QUrl::fromLocalFile(QString::fromStdString(*movies)));
    }
}

void MenuActions::openHelp() const {
    open(QUrl(QString::fromUtf8(AppInfo::webSite.data(), AppInfo::webSite.size())));
}

void MenuActions::showLogFolder() const {
    if (logFolder) {
        tavrin::createDirectory(*logFolder);
        open(QUrl::fromLocalFile(QString::fromStdString(*logFolder)));
    }
}

void MenuActions::addMenus(QMenuBar& bar) const {
    QMenu* download = bar.addMenu("Download");
    QObject::connect(download->addAction("Addon for World of Warcraft"), &QAction::triggered,
                     [actions = *this] { actions.downloadAddon(); });
    QMenu* recordings = bar.addMenu("Recordings");
    QObject::connect(recordings->addAction("Show Recordings"), &QAction::triggered,
                     [actions = *this] { actions.showRecordings(); });
    QObject::connect(recordings->addAction("Matches…"), &QAction::triggered,
                     [actions = *this] { actions.matches(); });
    QObject::connect(recordings->addAction("Settings…"), &QAction::triggered,
                     [actions = *this] { actions.settings(); });
    QMenu* help = bar.addMenu("Help");
    QObject::connect(
        help->addAction(QString::fromUtf8(AppInfo::webSiteName.data(), AppInfo::webSiteName.size())),
        &QAction::triggered, [actions = *this] { actions.openHelp(); });
    QObject::connect(help->addAction("Show Log Folder"), &QAction::triggered,
                     [actions = *this] { actions.showLogFolder(); });
}

}  // namespace vidora
