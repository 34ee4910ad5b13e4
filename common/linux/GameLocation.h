// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "ProcessTable.h"
#include "common/Folders.h"

namespace tavrin {

// Where the game's Wow.exe lies on the Linux file system. Reads files only; any thread.

// The game's place inside a Wine prefix when it was installed to the default folder.
inline constexpr std::string_view gameInPrefix =
    "drive_c/Program Files (x86)/World of Warcraft/_retail_/Wow.exe";

// A Windows path ("C:\dir\file") in a Wine prefix: the drive through <prefix>/dosdevices/<drive>:
// with its link followed, the rest found with findIgnoringCase.
std::optional<std::string> windowsPathInPrefix(std::string_view windowsPath, const std::string& prefix);

// The Wow.exe of a running game process: its first command-line word when that is a Linux path;
// a Windows path mapped through the process's WINEPREFIX (default ~/.wine, "~" from `environment`);
// else the executable's name in the process's working folder.
std::optional<std::string> gameExecutableOfProcess(const ProcessTable& table, pid_t pid,
                                                   const Environment& environment);

// The first installed Wow.exe under $WINEPREFIX, ~/.wine, each ~/Games/*/ and each
// ~/.steam/steam/steamapps/compatdata/*/pfx/ (folders of one kind in name order).
std::optional<std::string> installedGameExecutable(const Environment& environment);

}  // namespace tavrin
