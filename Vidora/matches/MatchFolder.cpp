// SPDX-License-Identifier: GPL-3.0-or-later
#include "matches/MatchFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "capture/MovieFiles.h"
#include "capture/MovieLocations.h"

namespace vidora::matchFolder {

namespace {

namespace fs = std::filesystem;

void listInto(const fs::path& folder, bool kept, std::vector<MovieFile>& movies) {
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        const bool finished = MovieLocations::isMovieName(name, "mp4");
        const bool recording = !kept && MovieLocations::isMovieName(name, "mp0");
        struct stat status {};
        // One call per movie: a cold listing of thousands waits on each.
        if ((!finished && !recording) || ::lstat(entry->path().c_str(), &status) != 0 ||
            !S_ISREG(status.st_mode)) {
            continue;
        }
        movies.push_back({.path = entry->path().string(),
                          .stamp = name.substr(0, MovieLocations::stampLength),
                          .kept = kept,
                          .recording = recording,
                          .size = static_cast<std::uint64_t>(status.st_size),
                          .modified = status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec});
    }
}

// The renames of one move; the movie first, so that nothing follows a movie that did not move.
Moved moveMovie(const std::string& movie, const fs::path& to, const std::string& moviesFolder) {
    if (!isOwnMovie(movie, moviesFolder)) {
        return {.movie = std::nullopt, .problem = "Only the recorder's finished movies are moved."};
    }
    std::error_code error;
    fs::create_directories(to / ".logs", error);
    const fs::path from = fs::path(movie).parent_path();
    const fs::path target = to / fs::path(movie).filename();
    if (fs::exists(target, error)) {
        return {.movie = std::nullopt, .problem = "A movie of that name is already there."};
    }
    for (const std::string& file : companions(movie)) {
        const fs::path relative = fs::path(file).lexically_relative(from);
        // Never over another file: a stale companion at the target stays, and so does this one.
        if (FileSystemCalls::system().renameNoReplace(file.c_str(), (to / relative).c_str()) != 0 &&
            file == movie) {
            return {.movie = std::nullopt, .problem = "The movie could not be moved."};
        }
    }
    return {.movie = target.string(), .problem = {}};
}

}  // namespace

std::vector<MovieFile> listMovies(const std::string& moviesFolder) {
    std::vector<MovieFile> movies;
    listInto(moviesFolder, false, movies);
    listInto(fs::path(moviesFolder) / keptFolder, true, movies);
    // Stamps sort as times; a kept movie and its namesake outside stay in a fixed order.
    std::ranges::sort(movies, [](const MovieFile& a, const MovieFile& b) {
        return std::tie(a.stamp, a.kept) > std::tie(b.stamp, b.kept);
    });
    return movies;
}

std::vector<std::string> companions(const std::string& movie) {
    const fs::path path(movie);
    const std::string stamp = path.stem().string();
    std::vector<std::string> files;
    std::error_code error;
    for (const fs::path& file :
         {path, fs::path(path).replace_extension("srt"), fs::path(path).replace_extension("json"),
          path.parent_path() / ".logs" / (stamp + ".log")}) {
        if (fs::is_regular_file(fs::symlink_status(file, error))) {
            files.push_back(file.string());
        }
    }
    return files;
}

bool isOwnMovie(const std::string& movie, const std::string& moviesFolder) {
    const fs::path path(movie);
    fs::path folder = fs::path(moviesFolder).lexically_normal();
    if (!folder.has_filename()) {
        folder = folder.parent_path();  // a trailing slash
    }
    const fs::path parent = path.parent_path().lexically_normal();
    // Another user's movie in a shared folder is theirs to keep or delete.
    struct stat status {};
    return MovieLocations::isMovieName(path.filename().string(), "mp4") &&
           (parent == folder || parent == folder / keptFolder) && ::lstat(movie.c_str(), &status) == 0 &&
           S_ISREG(status.st_mode) && status.st_uid == ::geteuid();
}

Moved keep(const std::string& movie, const std::string& moviesFolder) {
    return moveMovie(movie, fs::path(moviesFolder) / keptFolder, moviesFolder);
}

Moved stopKeeping(const std::string& movie, const std::string& moviesFolder) {
    return moveMovie(movie, moviesFolder, moviesFolder);
}

}  // namespace vidora::matchFolder
