// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/MovieStorage.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>

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

// Regular files directly in the folder with the recorder's name for `extension`, in name order, which
// is the order their recordings started in.
std::vector<MovieStorage::Movie> ownFiles(const std::string& folder, std::string_view extension) {
    std::vector<MovieStorage::Movie> movies;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (!MovieLocations::isMovieName(name, extension) ||
            entry->symlink_status(error).type() != fs::file_type::regular) {
            continue;
        }
        const auto size = entry->file_size(error);
        if (!error) {
            movies.push_back({std::move(name), size});
        }
        error.clear();
    }
    std::ranges::sort(movies, {}, &MovieStorage::Movie::name);
    return movies;
}

}  // namespace

std::optional<std::uint64_t> MovieStorage::systemFreeSpace(const std::string& folder) {
    struct statvfs space {};
    if (::statvfs(folder.c_str(), &space) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize;
}

std::vector<MovieStorage::Movie> MovieStorage::finishedMovies(const std::string& folder) {
    return ownFiles(folder, "mp4");
}

std::vector<MovieStorage::Movie> MovieStorage::deletions(const std::vector<Movie>& movies,
                                                         std::uint64_t limit) {
    std::uint64_t total = totalSize(movies);
    std::vector<Movie> chosen;
    if (limit == 0 || total <= limit) {
        return chosen;
    }
    for (auto movie = movies.begin(); movie != movies.end() && total > allowedSize(limit); ++movie) {
        chosen.push_back(*movie);
        total -= movie->size;
    }
    return chosen;
}

void MovieStorage::keepWithin(const std::string& folder, std::uint64_t limit) const {
    const auto movies = finishedMovies(folder);
    const auto chosen = deletions(movies, limit);
    if (chosen.empty()) {
        return;
    }
    std::cerr << "Vidora: the movies in " << folder << " take " << gigabytes(totalSize(movies))
              << ", more than the storage limit of " << gigabytes(limit) << "; the oldest go until they take "
              << gigabytes(allowedSize(limit)) << std::endl;
    for (const auto& movie : chosen) {
        std::error_code error;
        if (!fs::remove(folder + "/" + movie.name, error)) {
            std::cerr << "Vidora: cannot delete " << movie.name << ": " << error.message() << std::endl;
            continue;
        }
        const std::string stamp = fs::path(movie.name).stem().string();
        // An unfinished movie of the same name (a recording in the same second) keeps its subtitles.
        if (!fs::exists(folder + "/" + stamp + ".mp0", error)) {
            fs::remove(folder + "/" + stamp + ".srt", error);
            fs::remove(folder + "/.logs/" + stamp + ".log", error);
        }
        std::cerr << "Vidora: deleted " << movie.name << " (" << gigabytes(movie.size)
                  << ") with its subtitles and match log, the oldest over the storage limit" << std::endl;
    }
}

bool MovieStorage::roomToRecord(const std::string& folder, std::uint64_t limit) const {
    auto free = freeSpace_(folder);
    if (!free || *free >= roomyFreeSpace) {
        return true;
    }
    keepWithin(folder, limit);
    free = freeSpace_(folder);
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
    const auto unfinished = ownFiles(folder, "mp0");
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
        if (changeExtension(path, "mp4")) {
            std::cerr << "Vidora: " << path << ", left by a recording that did not finish, is now an mp4"
                      << std::endl;
        } else {
            std::cerr << "Vidora: " << path << " keeps its name: a movie is in the way of its mp4 name"
                      << std::endl;
        }
    }
}

}  // namespace vidora
