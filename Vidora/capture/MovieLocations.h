// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/DateTime.h"
#include "common/Folders.h"

namespace vidora {

// Where the recorder's movies go: the folder the player chose, else TavrinMovies in the user's Movies
// folder; named after the time a recording started or after the match it records; "mp0" while recording.
// Nothing without either (no HOME). The default folder is made when it is missing, a chosen one never
// (`prepareMoviesFolder`).
class MovieLocations {
public:
    // Gives the chosen movies folder, nothing for the default; asked at every use, from any thread.
    using ChosenFolder = std::function<std::optional<std::string>()>;

    explicit MovieLocations(tavrin::Environment environment = tavrin::processEnvironment(),
                            ChosenFolder chosenFolder = {});

    std::optional<std::string> moviesURL() const;
    // Whether the movies folder is there to record into: the default one is made when missing, a chosen
    // one is not (it may be on a drive that is not mounted).
    bool prepareMoviesFolder() const;
    // The command folder the proxy writes into.
    std::optional<std::string> logsURL() const;
    // A dated movie, "yyyy-MM-dd HH.mm.ss.mp0" in local time.
    std::optional<std::string> movieURL(tavrin::Date now) const;
    // A named movie, "<name>.mp0".
    std::optional<std::string> movieURL(std::string_view name) const;
    std::optional<std::string> downloadPath() const;

    // Whether `fileName` is a name the recorder gives its movies: a stamp as movieURL(Date) writes it (a
    // match's name is such a stamp too), then "." and `extension`; or, for a movie recovered beside
    // another of the same stamp, the stamp, " (2)" to " (99)", "." and `extension`.
    static bool isMovieName(std::string_view fileName, std::string_view extension);
    // The characters of a stamp, with which every movie name begins.
    static constexpr std::size_t stampLength = 19;

private:
    tavrin::Environment environment_;
    ChosenFolder chosenFolder_;
};

// Copies `from` to `to`, replacing a file there only once the copy is whole; false when the copy fails,
// and the file at `to` is left as it was.
bool copyItem(const std::string& from, const std::string& to);

}  // namespace vidora
