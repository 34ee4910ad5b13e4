// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "DesktopEntries.h"
#include "ProcessTable.h"

namespace tavrin {

// Which application a process is, from what /proc shows of it, first rule that applies:
//  1. our own programs, by executable name;
//  2. the game, by the file name of its first command-line word (Wine rewrites argv[0] to the
//     Windows path of Wow.exe);
//  3. Discord, by executable name or Flatpak id.
//  4. any other program with a window, by its desktop entry (desktopEntryOf): a display-aware
//     workspace applies it to the processes identifyProcess gives nothing for.
// Free functions over files; any thread.

struct ProcessIdentity {
    std::string identifier;
    // The executable's name; for the game, the name of its Windows executable rather than Wine's loader.
    std::string name;
};

std::optional<ProcessIdentity> identifyProcess(const ProcessTable& table, pid_t pid);

// Rule 4: the desktop entry of a program whose window has the WM_CLASS `classInstance`, `className`,
// found as desktop shells find it: by its Flatpak id (an entry of that id, else the id alone); the entry
// it was launched from (GIO_LAUNCHED_DESKTOP_FILE, when GIO_LAUNCHED_DESKTOP_FILE_PID names this process
// and not a parent the variable was inherited from); an entry whose StartupWMClass or id matches the
// WM_CLASS; an entry whose Exec runs a program of the process's executable name.
std::optional<DesktopEntry> desktopEntryOf(const ProcessTable& table, pid_t pid,
                                           const DesktopEntryIndex& entries, std::string_view classInstance,
                                           std::string_view className);

// Whether the process belongs to the applications or was started by one of them, down the tree: it or
// an ancestor is one of `processes` (its pid and start time, so that a process that got the pid of one
// that ended is not taken for it), or the nearest of them with an identity has one of `identifiers`.
// A process with another identity stops the climb: a game started from Discord is no part of Discord.
bool belongsToApplications(const ProcessTable& table, pid_t pid, std::span<const std::string> identifiers,
                           std::span<const ProcessStart> processes);

// Rule 1: the identifier of one of our programs by its executable name.
std::optional<std::string> ownProgramIdentifier(std::string_view executableName);

// Rule 2: the word names Wow.exe, in any letter case, after its last "/" or "\".
bool isGameCommandWord(std::string_view word);

// The word after its last "/" or "\" (a Linux or a Windows path).
std::string_view commandWordFileName(std::string_view word);

}  // namespace tavrin
