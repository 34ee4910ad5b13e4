// SPDX-License-Identifier: GPL-3.0-or-later
#include "GameLocation.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

#include "ApplicationIdentity.h"
#include "common/Text.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

std::optional<std::string> home(const Environment& environment) {
    auto value = environment("HOME");
    return value && value->starts_with('/') ? std::move(value) : std::nullopt;
}

// Wine ignores a WINEPREFIX that is empty or relative and takes ~/.wine.
bool isPrefix(const std::optional<std::string>& path) {
    return path && path->starts_with('/');
}

}  // namespace

std::optional<std::string> windowsPathInPrefix(std::string_view windowsPath, const std::string& prefix) {
    const bool hasDrive = windowsPath.size() >= 3 &&
                          std::isalpha(static_cast<unsigned char>(windowsPath[0])) && windowsPath[1] == ':' &&
                          (windowsPath[2] == '\\' || windowsPath[2] == '/');
    if (!hasDrive) {
        return std::nullopt;
    }
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
    std::error_code error;
    const auto driveRoot = fs::canonical(prefix + "/dosdevices/" + drive + ":", error);
    if (error) {
        return std::nullopt;
    }
    std::string relative(windowsPath.substr(3));
    std::replace(relative.begin(), relative.end(), '\\', '/');
    // The root "/" (drive Z:) would otherwise give paths beginning with "//".
    const std::string root = driveRoot.string() == "/" ? std::string() : driveRoot.string();
    return findIgnoringCase(root, relative);
}

std::optional<std::string> gameExecutableOfProcess(const ProcessTable& table, pid_t pid,
                                                   const Environment& environment) {
    const auto word = table.firstCommandWord(pid);
    if (!word) {
        return std::nullopt;
    }
    if (word->starts_with('/') && exists(*word)) {
        return word;
    }
    auto prefix = table.environmentValue(pid, "WINEPREFIX");
    if (!isPrefix(prefix)) {
        const auto homeFolder = home(environment);
        prefix = homeFolder ? std::optional(*homeFolder + "/.wine") : std::nullopt;
    }
    if (prefix) {
        if (auto path = windowsPathInPrefix(*word, *prefix)) {
            return path;
        }
    }
    if (const auto folder = table.workingDirectory(pid)) {
        return findIgnoringCase(*folder, commandWordFileName(*word));
    }
    return std::nullopt;
}

std::optional<std::string> installedGameExecutable(const Environment& environment) {
    std::vector<std::string> prefixes;
    if (auto prefix = environment("WINEPREFIX"); isPrefix(prefix)) {
        prefixes.push_back(std::move(*prefix));
    }
    if (const auto homeFolder = home(environment)) {
        prefixes.push_back(*homeFolder + "/.wine");
        for (const auto& name : sortedEntries(*homeFolder + "/Games")) {
            prefixes.push_back(*homeFolder + "/Games/" + name);
        }
        const std::string steamPrefixes = *homeFolder + "/.steam/steam/steamapps/compatdata";
        for (const auto& name : sortedEntries(steamPrefixes)) {
            prefixes.push_back(steamPrefixes + "/" + name + "/pfx");
        }
    }
    for (const auto& prefix : prefixes) {
        if (auto path = findIgnoringCase(prefix, gameInPrefix)) {
            return path;
        }
    }
    return std::nullopt;
}

}  // namespace tavrin
