// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Folders.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/Text.h"

namespace tavrin {
namespace {

std::optional<std::string> home(const Environment& environment) {
    auto value = environment("HOME");
    if (!value || value->empty()) {
        return std::nullopt;
    }
    // "/home/name/" and "/home/name" name one folder; keep one spelling.
    while (value->size() > 1 && value->back() == '/') {
        value->pop_back();
    }
    return value;
}

// The folder that user-dirs.dirs names for `key`, read as the desktop's own tools read it:
// KEY="$HOME/relative" or KEY="/absolute"; the last such line wins, others are ignored.
std::optional<std::string> userDirectory(std::string_view key, const std::string& homePath,
                                         const Environment& environment) {
    std::string configHome;
    if (auto value = environment("XDG_CONFIG_HOME"); value && !value->empty() && value->front() == '/') {
        configHome = *value;
    } else {
        configHome = homePath + "/.config";
    }
    std::ifstream file(configHome + "/user-dirs.dirs");
    std::optional<std::string> found;
    for (std::string line; std::getline(file, line);) {
        std::string_view rest(line);
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) {
            rest.remove_prefix(1);
        }
        if (!rest.starts_with(key) || rest.substr(key.size(), 1) != "=") {
            continue;
        }
        rest.remove_prefix(key.size() + 1);
        while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r')) {
            rest.remove_suffix(1);
        }
        if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
            rest = rest.substr(1, rest.size() - 2);
        }
        std::string path =
            rest.starts_with("$HOME") ? homePath + std::string(rest.substr(5)) : std::string(rest);
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        if (path.starts_with("/")) {
            found = path;
        }
    }
    return found;
}

std::optional<std::string> xdgFolder(std::string_view key, std::string_view fallback, std::string_view suffix,
                                     const Environment& environment) {
    const auto homePath = home(environment);
    if (!homePath) {
        return std::nullopt;
    }
    const auto folder =
        userDirectory(key, *homePath, environment).value_or(*homePath + "/" + std::string(fallback));
    return folder + std::string(suffix);
}

}  // namespace

Environment processEnvironment() {
    return [](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
}

std::optional<std::string> getMoviesPath(std::string_view suffix, const Environment& environment) {
    return xdgFolder("XDG_VIDEOS_DIR", "Videos", suffix, environment);
}

std::optional<std::string> getDownloadsPath(std::string_view suffix, const Environment& environment) {
    return xdgFolder("XDG_DOWNLOAD_DIR", "Downloads", suffix, environment);
}

std::optional<std::string> getStatePath(std::string_view suffix, const Environment& environment) {
    if (const auto state = environment("XDG_STATE_HOME"); state && state->starts_with('/')) {
        return *state + std::string(suffix);
    }
    const auto homePath = home(environment);
    return homePath ? std::optional(*homePath + "/.local/state" + std::string(suffix)) : std::nullopt;
}

std::optional<std::string> getCachePath(std::string_view suffix, const Environment& environment) {
    if (const auto cache = environment("XDG_CACHE_HOME"); cache && cache->starts_with('/')) {
        return *cache + std::string(suffix);
    }
    const auto homePath = home(environment);
    return homePath ? std::optional(*homePath + "/.cache" + std::string(suffix)) : std::nullopt;
}

void createDirectory(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
}

std::vector<std::string> sortedEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        names.push_back(entry->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> findIgnoringCase(const std::string& folder, std::string_view relative) {
    std::string path = folder;
    while (!relative.empty()) {
        const auto end = std::min(relative.find('/'), relative.size());
        const auto component = relative.substr(0, end);
        relative.remove_prefix(std::min(end + 1, relative.size()));
        if (component.empty()) {
            continue;
        }
        const std::string exact = path + "/" + std::string(component);
        if (std::error_code error; std::filesystem::exists(exact, error)) {
            path = exact;
            continue;
        }
        const auto names = sortedEntries(path.empty() ? "/" : path);
        const auto match = std::ranges::find_if(
            names, [component](const std::string& name) { return equalIgnoringCase(name, component); });
        if (match == names.end()) {
            return std::nullopt;
        }
        path += "/" + *match;
    }
    return path;
}

bool prepareMoviesFolder(const std::string& path, bool chosen) {
    if (!chosen) {
        createDirectory(path);
    }
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

}  // namespace tavrin
