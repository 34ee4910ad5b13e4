#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "ProcessTable.h"

namespace tavrin {

// Which application a process is, from what /proc shows of it, first rule that applies:
//  1. our own programs, by executable name;
//  2. the game, by the file name of its first command-line word (Wine rewrites argv[0] to the
//     Windows path of Wow.exe);
//  3. Discord, by executable name or Flatpak id.
// Rule 4, any other program by the desktop entry matched to its windows, needs the display: a
// display-aware workspace applies it to the processes identifyProcess gives nothing for.
// Free functions over files; any thread.

struct ProcessIdentity {
    std::string identifier;
    // The executable's name; for the game, the name of its Windows executable rather than Wine's loader.
    std::string name;
};

std::optional<ProcessIdentity> identifyProcess(const ProcessTable& table, pid_t pid);

// Rule 1: the identifier of one of our programs by its executable name.
std::optional<std::string> ownProgramIdentifier(std::string_view executableName);

// Rule 2: the word names Wow.exe, in any letter case, after its last "/" or "\".
bool isGameCommandWord(std::string_view word);

// The word after its last "/" or "\" (a Linux or a Windows path).
std::string_view commandWordFileName(std::string_view word);

}  // namespace tavrin
