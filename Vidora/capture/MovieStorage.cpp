// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/MovieStorage.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include "capture/MovieFiles.h"
#include "capture/MovieLocations.h"

namespace vidora {

namespace fs = std::filesystem;

namespace {

std::string gigabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / MovieStorage::gigabyte);
    return text;
}

std::uint64_t totalSize(const std::vector<MovieStorage::Movie>& movies) {
    std::uint64_t total = 0;
    for (const auto& movie : movies) {
        total += movie.size;
    }
    return total;
}

std::uint64_t allowedSize(std::uint64_t limit) {
    return static_cast<std::uint64_t>(static_cast<double>(limit) * MovieStorage::target);
}

// What is directly in a movies folder: the owner's finished and unfinished movies in name order, which is
// the order their recordings started in, and how many movies, anyone's, each match has there.
struct Listing {
    std::vector<MovieStorage::Movie> finished;
    std::vector<MovieStorage::Movie> unfinished;
    std::map<std::string, int, std::less<>> moviesOfMatch;
};

std::string_view matchOf(std::string_view name) {
    return name.substr(0, MovieLocations::stampLength);
}

// The owner's regular file at `path`, with its size and when it was last written.
std::optional<struct stat> ownFile(const std::string& path, uid_t owner) {
    struct stat file {};
    if (::lstat(path.c_str(), &file) != 0 || !S_ISREG(file.st_mode) || file.st_uid != owner) {
        return std::nullopt;
    }
    return file;
}

Listing listFolder(const std::string& folder, uid_t owner) {
    Listing listing;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::string name = entry->path().filename().string();
        const bool finished = MovieLocations::isMovieName(name, "mp4");
        if (!finished && !MovieLocations::isMovieName(name, "mp0")) {
            continue;
        }
        ++listing.moviesOfMatch[std::string(matchOf(name))];
        if (const auto file = ownFile(entry->path().string(), owner)) {
            (finished ? listing.finished : listing.unfinished)
                .push_back({std::move(name), static_cast<std::uint64_t>(file->st_size)});
        }
    }
    std::ranges::sort(listing.finished, {}, &MovieStorage::Movie::name);
    std::ranges::sort(listing.unfinished, {}, &MovieStorage::Movie::name);
    return listing;
}

// The owner's subtitles and match records in the folder and match logs in ".logs" of matches without a
// movie: at once for `deletedNow`, whose movies were just deleted; otherwise once they have not been written
// for `matchFilesGrace`, and not when the player kept the movie in "Kept".
void removeMatchFiles(const std::string& folder, const std::map<std::string, int, std::less<>>& moviesOfMatch,
                      const std::set<std::string>& deletedNow, uid_t owner) {
    const auto now = std::chrono::system_clock::now();
    const std::pair<std::string, std::vector<std::string_view>> places[] = {{folder, {"srt", "json"}},
                                                                            {folder + "/.logs", {"log"}}};
    for (const auto& [place, extensions] : places) {
        std::error_code error;
        for (fs::directory_iterator entry(place, error), end; !error && entry != end;
             entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            const std::string match(matchOf(name));
            if (std::ranges::none_of(
                    extensions,
                    [&](auto extension) { return MovieLocations::isMovieName(name, extension); }) ||
                moviesOfMatch.contains(match)) {
                continue;
            }
            const auto file = ownFile(entry->path().string(), owner);
            if (!file) {
                continue;
            }
            std::error_code ignored;
            if (deletedNow.contains(match)) {
                fs::remove(entry->path(), ignored);
                continue;
            }
            const auto written = std::chrono::system_clock::from_time_t(file->st_mtim.tv_sec);
            if (now - written >= MovieStorage::matchFilesGrace &&
                !fs::exists(folder + "/Kept/" + match + ".mp4", ignored) &&
                fs::remove(entry->path(), ignored)) {
                std::cerr << "Vidora: removed " << entry->path().string()
                          << ", left by a match whose movie is gone" << std::endl;
            }
        }
    }
}

}  // namespace

std::optional<std::uint64_t> MovieStorage::systemFreeSpace(const std::string& folder) {
    struct statvfs space {};
    if (::statvfs(folder.c_str(), &space) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize;
}

std::vector<MovieStorage::Movie> MovieStorage::finishedMovies(const std::string& folder) const {
    return listFolder(folder, owner_).finished;
}

std::vector<MovieStorage::Movie> MovieStorage::deletions(const std::vector<Movie>& movies,
                                                         std::uint64_t limit, std::string_view spared) {
    std::uint64_t total = totalSize(movies);
    std::vector<Movie> chosen;
    if (limit == 0 || total <= limit) {
        return chosen;
    }
    // The newest is the last recording, which the player was told of.
    for (auto movie = movies.begin(); movie + 1 < movies.end() && total > allowedSize(limit); ++movie) {
        if (movie->name != spared) {
            chosen.push_back(*movie);
            total -= movie->size;
        }
    }
    return chosen;
}

bool MovieStorage::keepWithin(const std::string& folder, std::uint64_t limit, std::string_view spared) const {
    const Listing listing = listFolder(folder, owner_);
    const auto chosen = deletions(listing.finished, limit, spared);
    if (!chosen.empty()) {
        std::cerr << "Vidora: the movies in " << folder << " take " << gigabytes(totalSize(listing.finished))
                  << ", more than the storage limit of " << gigabytes(limit)
                  << "; the oldest go until they take " << gigabytes(allowedSize(limit)) << std::endl;
    }
    auto moviesOfMatch = listing.moviesOfMatch;
    std::set<std::string> deletedNow;
    for (const auto& movie : chosen) {
        std::error_code error;
        if (!fs::remove(folder + "/" + movie.name, error)) {
            std::cerr << "Vidora: cannot delete " << movie.name << ": " << error.message() << std::endl;
            continue;
        }
        // Another movie of the match (one recovered beside it, a recording in progress) keeps its files.
        const auto match = moviesOfMatch.find(matchOf(movie.name));
        if (--match->second == 0) {
            deletedNow.insert(match->first);
            moviesOfMatch.erase(match);
        }
        std::cerr << "Vidora: deleted " << movie.name << " (" << gigabytes(movie.size)
                  << ") with its subtitles and match log, the oldest over the storage limit" << std::endl;
    }
    removeMatchFiles(folder, moviesOfMatch, deletedNow, owner_);
    const auto kept = std::ranges::find(listing.finished, spared, &Movie::name);
    if (limit == 0 || kept == listing.finished.end() || kept->size <= limit) {
        return false;
    }
    std::cerr << "Vidora: " << kept->name << " (" << gigabytes(kept->size)
              << "), the movie just recorded, is kept though it alone takes more than the storage limit of "
              << gigabytes(limit) << std::endl;
    return true;
}

bool MovieStorage::roomToRecord(const std::string& folder, std::optional<std::uint64_t> limit) const {
    auto free = freeSpace_(folder);
    if (!free || *free >= roomyFreeSpace) {
        return true;
    }
    if (limit) {
        keepWithin(folder, *limit);
        free = freeSpace_(folder);
    }
    if (free && *free < leastFreeSpace) {
        std::cerr << "Vidora: not recording: only " << gigabytes(*free) << " free on the disk of " << folder
                  << ", and a recording needs " << gigabytes(leastFreeSpace)
                  << "; make room there, or lower the storage limit or choose another folder in Settings"
                  << std::endl;
        return false;
    }
    return true;
}

void MovieStorage::recoverUnfinished(const std::string& folder) const {
    const auto unfinished = listFolder(folder, owner_).unfinished;
    if (unfinished.empty()) {
        return;
    }
    const auto lock = FolderLock::take(folder, FolderLock::Holder::recovery);
    if (!lock) {
        std::cerr << "Vidora: another recording writes into " << folder
                  << "; its unfinished movies are left as they are" << std::endl;
        return;
    }
    for (const auto& movie : unfinished) {
        const std::string path = folder + "/" + movie.name;
        const std::uint64_t playable = playableLength(path);
        std::error_code error;
        if (playable == 0) {
            fs::remove(path, error);
            std::cerr << "Vidora: removed " << path
                      << ", left by a recording that ended before a whole frame was on disk" << std::endl;
            continue;
        }
        if (playable < movie.size) {
            fs::resize_file(path, playable, error);  // the torn last fragment, which no player could open
        }
        // Its own name, else the first free one beside a movie that began in the same second.
        std::string recovered = fs::path(movie.name).replace_extension("mp4").string();
        for (int number = 2; !moveWithoutReplacing(path, folder + "/" + recovered) && number <= 99;
             ++number) {
            recovered = std::string(matchOf(movie.name)) + " (" + std::to_string(number) + ").mp4";
        }
        if (fs::exists(path, error)) {
            std::cerr << "Vidora: " << path << " keeps its name: no name for its mp4 is free" << std::endl;
        } else {
            std::cerr << "Vidora: " << path << ", left by a recording that did not finish, is now "
                      << recovered << std::endl;
        }
    }
}

}  // namespace vidora
