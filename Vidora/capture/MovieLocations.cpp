// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/MovieLocations.h"

#include <filesystem>

namespace vidora {

MovieLocations::MovieLocations(tavrin::Environment environment) : environment_(std::move(environment)) {}

std::optional<std::string> MovieLocations::moviesURL() const {
    return tavrin::getMoviesPath("/TavrinMovies", environment_);
}

std::optional<std::string> MovieLocations::logsURL() const {
    return tavrin::getMoviesPath("/TavrinMovies/.logs", environment_);
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

bool copyItem(const std::string& from, const std::string& to) {
    std::error_code error;
    if (std::filesystem::exists(to, error) && !std::filesystem::remove(to, error)) {
        return false;
    }
    return std::filesystem::copy_file(from, to, error) && !error;
}

}  // namespace vidora
