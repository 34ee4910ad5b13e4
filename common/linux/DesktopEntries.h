// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/Folders.h"

namespace tavrin {

// The desktop entries of installed applications (.desktop files in the XDG "applications" folders), as
// desktop shells read them to tell which application a window belongs to.

// What the [Desktop Entry] group of an application's entry says; localized keys are not read.
struct DesktopEntry {
    // The desktop-file id without ".desktop": the path below "applications/" with "/" turned into "-".
    std::string id;
    // The file; empty for an application known only by its id (a Flatpak without an exported entry).
    std::string path;
    std::string name;
    // A name in the icon theme, or an icon file's path.
    std::string icon;
    std::string startupWMClass;
    // The file name of Exec's program, after an "env" and its variable settings.
    std::string executable;
};

// An application's entry from the file at `path`; nothing when it holds no [Desktop Entry] group of
// Type=Application. Hidden and NoDisplay entries count: they still name their application.
std::optional<DesktopEntry> readDesktopEntry(const std::string& path, std::string id);

// The "applications" folders in XDG precedence: $XDG_DATA_HOME (default ~/.local/share), each of
// $XDG_DATA_DIRS (default /usr/local/share:/usr/share), then the Flatpak exports of the user and of the
// system where those are not listed already.
std::vector<std::string> applicationFolders(const Environment& environment);

// All entries of the folders, the first found of each id.
class DesktopEntryIndex {
public:
    explicit DesktopEntryIndex(std::vector<DesktopEntry> entries);

    const DesktopEntry* byId(std::string_view id) const;
    const DesktopEntry* byPath(std::string_view path) const;
    // StartupWMClass equal to the class or the instance, else an id equal to either in any letter case.
    const DesktopEntry* byWindowClass(std::string_view instance, std::string_view className) const;
    const DesktopEntry* byExecutable(std::string_view executableName) const;

private:
    const DesktopEntry* find(const std::map<std::string, std::size_t, std::less<>>& keys,
                             std::string_view key) const;

    std::vector<DesktopEntry> entries_;
    std::map<std::string, std::size_t, std::less<>> ids_, paths_, windowClasses_, lowerIds_, executables_;
};

// The index of the folders as they are now, read again only when a folder's modification time changed
// (installers add, replace and remove entry files; they do not edit them in place). Any thread.
class DesktopEntries {
public:
    explicit DesktopEntries(Environment environment = processEnvironment());

    std::shared_ptr<const DesktopEntryIndex> current() const;

private:
    Environment environment_;
    struct Cache {
        std::mutex mutex;
        std::vector<std::string> roots;
        // Every folder read, subfolders included, with its modification time (nothing: absent).
        std::vector<std::pair<std::string, std::optional<std::pair<time_t, long>>>> stamps;
        std::shared_ptr<const DesktopEntryIndex> index;
    };
    mutable Cache cache_;
};

}  // namespace tavrin
