// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/MovieLocations.h"

#include <charconv>
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

bool MovieLocations::prepareMoviesFolder() const {
    const auto chosen = chosenFolder_ ? chosenFolder_() : std::nullopt;
    if (chosen) {
        return tavrin::prepareMoviesFolder(*chosen, true);
    }
    const auto folder = tavrin::getMoviesPath("/TavrinMovies", environment_);
    return folder && tavrin::prepareMoviesFolder(*folder, false);
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
    if (fileName.size() <= extension.size() + 1 || !fileName.ends_with(extension) ||
        fileName[fileName.size() - extension.size() - 1] != '.') {
        return false;
    }
    const std::string_view base = fileName.substr(0, fileName.size() - extension.size() - 1);
    if (!tavrin::isFileStamp(base.substr(0, stampLength))) {
        return false;
    }
    // A recovered movie's number: " (2)" to " (99)".
    const std::string_view rest = base.substr(stampLength);
    if (rest.empty()) {
        return true;
    }
    if (!rest.starts_with(" (") || !rest.ends_with(')')) {
        return false;
    }
    const std::string_view digits = rest.substr(2, rest.size() - 3);
    int number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc() && end == digits.data() + digits.size() && digits.front() != '0' &&
           number >= 2 && number <= 99;
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
