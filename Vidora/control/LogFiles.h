// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "capture/MovieLocations.h"
#include "common/Clock.h"

namespace vidora {

// The recorder's side of the command exchange: reads what the proxy appended to the newest live
// command file ("*.cmd" in the command folder) since the last call, and clears the folder on request.
// readCommands runs on the command poll thread, deleteCommands on the main thread; deleteCommands
// touches only the file system, so the two need no lock.
class LogFiles {
public:
    LogFiles(const tavrin::Clock& clock, MovieLocations locations);

    // The match name (the file name without ".cmd") and every non-blank line appended since the last
    // call, trimmed; nothing when there is no live file, nothing new, or a failure.
    std::optional<std::vector<std::string>> readCommands(const std::string& folder);
    // Removes every command file of the command folder; failures are ignored.
    void deleteCommands() const;

    // A command file counts as live only when modified less than this long ago.
    static constexpr double fileDelay = 2.0;

private:
    const tavrin::Clock& clock_;
    MovieLocations locations_;
    std::int64_t offset_ = 0;
    std::optional<std::string> fileName_;
    ino_t fileInode_ = 0;
};

}  // namespace vidora
