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
    // Opens the Settings window.
    std::function<void()> settings = [] {};

    // Copies the add-on into the Downloads folder and shows it there.
    void downloadAddon() const;
    // Opens the movies folder in the file manager.
    void showRecordings() const;
    void openHelp() const;
    // The menu items keep their own copy of these actions.
    void addMenus(QMenuBar& bar) const;
};

}  // namespace vidora
