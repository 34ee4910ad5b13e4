// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/LogFiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "common/FileInputStream.h"
#include "common/Text.h"

namespace vidora {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view commandExtension = ".cmd";

struct CommandFile {
    std::string name;
    tavrin::Date date;
    std::int64_t size = 0;
    ino_t inode = 0;
};

// Only the exact extension counts: "report.cmd.txt" and "x.CMD" are someone else's files.
bool isCommandFile(const fs::directory_entry& entry) {
    std::error_code error;
    return entry.is_regular_file(error) && entry.path().extension() == commandExtension;
}

// The paths of the folder's command files; nothing when the folder cannot be listed to its end.
std::optional<std::vector<fs::path>> listCommandFiles(const std::string& folder) {
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) {
        return std::nullopt;
    }
    std::vector<fs::path> paths;
    for (; entries != fs::directory_iterator(); entries.increment(error)) {
        if (error) {
            return std::nullopt;
        }
        if (isCommandFile(*entries)) {
            paths.push_back(entries->path());
        }
    }
    if (error) {
        return std::nullopt;
    }
    return paths;
}

// The modification time to the millisecond, as the age test compares it; a file whose attributes
// cannot be read counts as empty and so never as live.
CommandFile describe(const fs::path& path, tavrin::Date now) {
    CommandFile file{path.filename().string(), now, 0};
    struct stat attributes {};
    if (::stat(path.c_str(), &attributes) == 0) {
        const auto modified = std::chrono::seconds(attributes.st_mtim.tv_sec) +
                              std::chrono::nanoseconds(attributes.st_mtim.tv_nsec);
        file.date = tavrin::Date(std::chrono::floor<std::chrono::milliseconds>(modified));
        file.size = attributes.st_size;
        file.inode = attributes.st_ino;
    }
    return file;
}

}  // namespace

LogFiles::LogFiles(const tavrin::Clock& clock, MovieLocations locations)
    : clock_(clock), locations_(std::move(locations)) {}

std::optional<std::vector<std::string>> LogFiles::readCommands(const std::string& folder) {
    const auto paths = listCommandFiles(folder);
    if (!paths) {
        return std::nullopt;
    }
    const tavrin::Date now = clock_.now();
    std::optional<CommandFile> newest;
    for (const auto& path : *paths) {
        CommandFile file = describe(path, now);
        const bool live = file.size >= 1 && tavrin::ageInSeconds(file.date, now) < fileDelay;
        if (live && (!newest || file.name > newest->name)) {
            newest = std::move(file);
        }
    }
    if (!newest) {
        return std::nullopt;
    }
    // The same name on another file (the folder was removed and made again during a match) is a new
    // file: read from its start, else its End would never be seen.
    if (fileName_ != newest->name || fileInode_ != newest->inode || newest->size < offset_) {
        offset_ = 0;
    } else if (offset_ >= newest->size) {
        return std::nullopt;
    }
    // The shared lock only waits for an exclusive one; the proxy appends without any lock.
    auto stream =
        tavrin::FileInputStream::open(folder + "/" + newest->name, tavrin::FileInputStream::capacity,
                                      tavrin::FileInputStream::Lock::shared);
    if (!stream) {
        return std::nullopt;
    }
    if (!stream->seekToStart(offset_)) {
        stream->close();
        return std::nullopt;
    }
    std::vector<std::string> commands{newest->name.substr(0, newest->name.size() - commandExtension.size())};
    while (const auto line = stream->readLine()) {
        const std::string_view command = tavrin::trim(*line);
        if (!command.empty()) {
            commands.emplace_back(command);
        }
    }
    fileName_ = newest->name;
    fileInode_ = newest->inode;
    offset_ = stream->tell();
    stream->close();
    return commands;
}

void LogFiles::deleteCommands() const {
    const auto folder = locations_.logsURL();
    if (!folder) {
        return;
    }
    const auto paths = listCommandFiles(*folder);
    if (!paths) {
        return;
    }
    for (const auto& path : *paths) {
        std::error_code error;
        fs::remove(path, error);
    }
}

}  // namespace vidora
