// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

// Looks up an environment variable; injected so tests choose HOME and the XDG folders.
using Environment = std::function<std::optional<std::string>(std::string_view name)>;
Environment processEnvironment();

// The user's Movies folder (XDG videos folder, else $HOME/Videos) followed by `suffix` unchanged.
// Nothing when HOME is unset or empty.
std::optional<std::string> getMoviesPath(std::string_view suffix,
                                         const Environment& environment = processEnvironment());

// The user's Downloads folder (XDG download folder, else $HOME/Downloads) followed by `suffix`.
std::optional<std::string> getDownloadsPath(std::string_view suffix,
                                            const Environment& environment = processEnvironment());

// The folder for the user's state data ($XDG_STATE_HOME when it is absolute, else $HOME/.local/state)
// followed by `suffix`: where logs and kept choices live.
std::optional<std::string> getStatePath(std::string_view suffix,
                                        const Environment& environment = processEnvironment());

// The folder for the user's cached data ($XDG_CACHE_HOME when it is absolute, else $HOME/.cache) followed
// by `suffix`: what can be made again, such as pictures of movies.
std::optional<std::string> getCachePath(std::string_view suffix,
                                        const Environment& environment = processEnvironment());

// Creates the folder and every missing parent; an existing folder and every error are ignored.
void createDirectory(const std::string& path);

// The names of a folder's entries in name order; nothing when it cannot be listed.
std::vector<std::string> sortedEntries(const std::string& folder);

// `folder` followed by the "/"-separated components of `relative`, each taken exactly when it
// exists, else as the first entry (by name) that matches it without regard to letter case, as Wine
// finds files. Nothing when a component has no match.
std::optional<std::string> findIgnoringCase(const std::string& folder, std::string_view relative);

// Whether a movies folder is there to write into. The default one is made with its parents when missing; one
// the player chose never is: it may be on a drive that is not mounted, and a folder made in its place would
// take the movies onto another disk, to be hidden under the drive once it is mounted.
bool prepareMoviesFolder(const std::string& path, bool chosen);

}  // namespace tavrin
