// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "matches/MatchRow.h"

namespace vidora {

// The movies of a movies folder as the match browser sees them: the recorder's own names
// ("<stamp>.mp4") directly in the folder and in its Kept folder, and the recordings in progress
// ("<stamp>.mp0", listed but never played or moved). Other names and other folders are not listed, and
// nothing is ever moved or removed here but what the player asked for. Any thread.
namespace matchFolder {

inline constexpr char keptFolder[] = "Kept";

// Newest first.
std::vector<MovieFile> listMovies(const std::string& moviesFolder);

// The files that belong to a movie and go where it goes: the movie, its subtitles, its record and
// its match log (".logs/<stamp>.log" beside it), those that exist.
std::vector<std::string> companions(const std::string& movie);

// Moves a finished movie of the folder with its companions into Kept (which the storage limit never
// touches), or back out of it. The new path of the movie, or a sentence saying why nothing moved: a
// recording in progress, a name that is not the recorder's, a file of that name already there. A
// companion that cannot follow is left where it was, and the movie stays moved.
struct Moved {
    std::optional<std::string> movie;
    std::string problem;
};
Moved keep(const std::string& movie, const std::string& moviesFolder);
Moved stopKeeping(const std::string& movie, const std::string& moviesFolder);

// Whether the player may act on this file: a finished movie with the recorder's name, directly in the
// movies folder or its Kept folder.
bool isOwnMovie(const std::string& movie, const std::string& moviesFolder);

}  // namespace matchFolder

}  // namespace vidora
