// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/MovieLocations.h"

#include <filesystem>

namespace vidora {

MovieLocations::MovieLocations(tavrin::Environment environment, ChosenFolder chosenFolder)
    : environment_(std::move(environment)), chosenFolder_(std::move(chosenFolder)) {}

std::optional<std::string> MovieLocations::moviesURL() const {
    if (chosenFolder_) {
        if (auto folder = chosenFolder_()) {
            return folder;
        }
    }
    return tavrin::getMoviesPath("/TavrinMovies", environment_);
}

std::optional<std::string> MovieLocations::logsURL() const {
    const auto movies = moviesURL();
    return movies ? std::optional(*movies + "/.logs") : std::nullopt;
}

std::optional<std::string> MovieLocations::movieURL(tavrin::Date now) const {
    return movieURL(tavrin::fileStamp(now));
}

std::optional<std::string> MovieLocations::movieURL(std::string_view name) const {
    const auto movies = moviesURL();
    if (!movies) {
        return std::nullopt;
    }
    return *movies + "/" + std::string(name) + ".mp0";
}

std::optional<std::string> MovieLocations::downloadPath() const {
    return tavrin::getDownloadsPath("", environment_);
}

bool MovieLocations::isMovieName(std::string_view fileName, std::string_view extension) {
    return fileName.size() > extension.size() + 1 && fileName.ends_with(extension) &&
           fileName[fileName.size() - extension.size() - 1] == '.' &&
           tavrin::isFileStamp(fileName.substr(0, fileName.size() - extension.size() - 1));
}

bool copyItem(const std::string& from, const std::string& to) {
    // Copied beside it first, so the file at `to` is replaced only by a whole copy.
    const std::filesystem::path target(to);
    const auto part = target.parent_path() / ("." + target.filename().string() + ".part");
    std::error_code error;
    if (!std::filesystem::copy_file(from, part, std::filesystem::copy_options::overwrite_existing, error) ||
        error) {
        std::filesystem::remove(part, error);
        return false;
    }
    std::filesystem::rename(part, target, error);
    if (error) {
        std::filesystem::remove(part, error);
        return false;
    }
    return true;
}

}  // namespace vidora
