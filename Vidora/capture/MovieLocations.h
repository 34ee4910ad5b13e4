// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/DateTime.h"
#include "common/Folders.h"

namespace vidora {

// Where the recorder's movies go: TavrinMovies in the user's Movies folder, named after the time a
// recording started or after the match it records; "mp0" while recording. Nothing without a Movies
// folder (no HOME). The recorder never creates these folders: the proxy does.
class MovieLocations {
public:
    explicit MovieLocations(tavrin::Environment environment = tavrin::processEnvironment());

    std::optional<std::string> moviesURL() const;
    // The command folder the proxy writes into.
    std::optional<std::string> logsURL() const;
    // A dated movie, "yyyy-MM-dd HH.mm.ss.mp0" in local time.
    std::optional<std::string> movieURL(tavrin::Date now) const;
    // A named movie, "<name>.mp0".
    std::optional<std::string> movieURL(std::string_view name) const;
    std::optional<std::string> downloadPath() const;

private:
    tavrin::Environment environment_;
};

// Copies `from` to `to`, replacing a file there; false when the old file cannot be removed or the
// copy fails.
bool copyItem(const std::string& from, const std::string& to);

}  // namespace vidora
