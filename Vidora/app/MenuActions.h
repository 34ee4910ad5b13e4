// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMenuBar>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>
#include <string>

#include "DesktopServices.h"
#include "capture/MovieLocations.h"

namespace vidora {

// The game add-on's archive installed beside the program (share/vidora/ next to bin/), else the
// one in the build tree; nothing when neither exists.
std::optional<std::string> findAddonArchive();

// The recorder's "Download", "Recordings" and "Help" menus. Main thread only.
struct MenuActions {
    std::optional<std::string> addonArchive = findAddonArchive();
    MovieLocations locations;
    std::function<void(const QString&)> reveal = revealFile;
    std::function<void(const QUrl&)> open = openWebAddress;
    // Opens the Matches window.
    std::function<void()> matches = [] {};
    // Opens the Settings window.
    std::function<void()> settings = [] {};
    // The game's folder (`_retail_/`) where the proxy finds it; nothing when it is not known.
    std::function<std::optional<std::string>()> gameFolder = [] { return std::optional<std::string>(); };
    // Where the programs' logs are.
    std::optional<std::string> logFolder = tavrin::getStatePath("/tavrin");

    // Installs the add-on into the game's folder and shows it there; where the folder is not known
    // or cannot be written, copies the add-on's archive into the Downloads folder and shows it there.
    void downloadAddon() const;
    // Opens the movies folder in the file manager.
    void showRecordings() const;
    void openHelp() const;
    void showLogFolder() const;
    // The menu items keep their own copy of these actions.
    void addMenus(QMenuBar& bar) const;
};

}  // namespace vidora
