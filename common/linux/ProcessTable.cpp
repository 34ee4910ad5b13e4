// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProcessTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <memory>

namespace tavrin {
namespace {

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};
using Directory = std::unique_ptr<DIR, DirectoryCloser>;

class FileDescriptor {
public:
    explicit FileDescriptor(int value) : value_(value) {}
    ~FileDescriptor() {
        if (value_ >= 0) {
            ::close(value_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return value_; }

private:
    int value_;
};

// Proc files report no size, so they are read until the end; at most `limit` bytes.
std::optional<std::string> readContents(const std::string& path, std::size_t limit) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) {
        return std::nullopt;
    }
    std::string contents;
    char buffer[4096];
    while (contents.size() < limit) {
        const ssize_t count = ::read(file.get(), buffer, std::min(sizeof buffer, limit - contents.size()));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        contents.append(buffer, static_cast<std::size_t>(count));
    }
    return contents;
}

std::optional<std::string> readLink(const std::string& path) {
    std::error_code error;
    auto target = std::filesystem::read_symlink(path, error);
    if (error || target.empty()) {
        return std::nullopt;
    }
    return target.string();
}

std::optional<pid_t> parsePid(std::string_view text) {
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (error != std::errc() || end != text.data() + text.size() || pid <= 0 || text.front() == '+') {
        return std::nullopt;
    }
    return pid;
}

// Longer than any path, so a first word cut at this length is no executable's path.
constexpr std::size_t commandWordLimit = 8192;
constexpr std::size_t fileLimit = 4 << 20;

}  // namespace

ProcessTable::ProcessTable(std::string root) : root_(std::move(root)) {}

std::string ProcessTable::folder(pid_t pid) const {
    return root_ + "/" + std::to_string(pid);
}

std::vector<pid_t> ProcessTable::processIds() const {
    std::vector<pid_t> pids;
    const Directory directory(::opendir(root_.c_str()));
    if (!directory) {
        return pids;
    }
    while (const dirent* entry = ::readdir(directory.get())) {
        if (const auto pid = parsePid(entry->d_name)) {
            pids.push_back(*pid);
        }
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::optional<uid_t> ProcessTable::owner(pid_t pid) const {
    struct stat attributes {};
    if (::stat(folder(pid).c_str(), &attributes) != 0) {
        return std::nullopt;
    }
    return attributes.st_uid;
}

std::optional<std::string> ProcessTable::firstCommandWord(pid_t pid) const {
    auto contents = readContents(folder(pid) + "/cmdline", commandWordLimit);
    if (!contents) {
        return std::nullopt;
    }
    const auto end = contents->find('\0');
    if (end == std::string::npos && contents->size() >= commandWordLimit) {
        return std::nullopt;
    }
    // Kernel threads and zombies have an empty command line.
    if (end == 0 || contents->empty()) {
        return std::nullopt;
    }
    contents->resize(std::min(end, contents->size()));
    return contents;
}

std::optional<std::string> ProcessTable::executableNameIn(const std::string& processFolder) const {
    if (auto target = readLink(processFolder + "/exe")) {
        // An executable replaced while running (a rebuild, an update) keeps this mark.
        constexpr std::string_view deleted = " (deleted)";
        if (target->ends_with(deleted)) {
            target->resize(target->size() - deleted.size());
        }
        const auto slash = target->rfind('/');
        auto name = slash == std::string::npos ? *target : target->substr(slash + 1);
        if (!name.empty()) {
            return name;
        }
    }
    auto comm = readContents(processFolder + "/comm", 256);
    if (!comm) {
        return std::nullopt;
    }
    if (!comm->empty() && comm->back() == '\n') {
        comm->pop_back();
    }
    return comm->empty() ? std::nullopt : std::move(comm);
}

std::optional<std::string> ProcessTable::executableName(pid_t pid) const {
    return executableNameIn(folder(pid));
}

std::optional<std::string> ProcessTable::ownExecutableName() const {
    return executableNameIn(root_ + "/self");
}

std::optional<std::string> ProcessTable::environmentValue(pid_t pid, std::string_view name) const {
    const auto contents = readContents(folder(pid) + "/environ", fileLimit);
    if (!contents) {
        return std::nullopt;
    }
    std::string_view rest(*contents);
    while (!rest.empty()) {
        const auto end = std::min(rest.find('\0'), rest.size());
        const auto entry = rest.substr(0, end);
        if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=') {
            return std::string(entry.substr(name.size() + 1));
        }
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return std::nullopt;
}

std::optional<std::string> ProcessTable::workingDirectory(pid_t pid) const {
    return readLink(folder(pid) + "/cwd");
}

std::optional<std::string> ProcessTable::statField(pid_t pid, int field) const {
    const auto contents = readContents(folder(pid) + "/stat", 4096);
    // The name in parentheses (field 2) may hold spaces and ")"; the fields after the last ")"
    // begin with field 3.
    const auto close = contents ? contents->rfind(')') : std::string::npos;
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::string_view rest = std::string_view(*contents).substr(close + 1);
    for (int at = 3;; ++at) {
        const auto begin = rest.find_first_not_of(' ');
        if (begin == std::string_view::npos) {
            return std::nullopt;
        }
        rest.remove_prefix(begin);
        const auto end = std::min(rest.find_first_of(" \n"), rest.size());
        if (at == field) {
            return std::string(rest.substr(0, end));
        }
        rest.remove_prefix(end);
    }
}

std::optional<ProcessStart> ProcessTable::start(pid_t pid) const {
    const auto text = statField(pid, 22);
    std::uint64_t startTime = 0;
    if (!text || std::from_chars(text->data(), text->data() + text->size(), startTime).ptr !=
                     text->data() + text->size()) {
        return std::nullopt;
    }
    return ProcessStart{pid, startTime};
}

std::optional<pid_t> ProcessTable::parentId(pid_t pid) const {
    const auto text = statField(pid, 4);
    return text ? parsePid(*text) : std::nullopt;
}

bool ProcessTable::hasEnded(pid_t pid) const {
    // The state: Z (zombie) or X (dead) once it has exited.
    const auto state = statField(pid, 3);
    return !state || *state == "Z" || *state == "X";
}

std::optional<std::string> ProcessTable::flatpakId(pid_t pid) const {
    const auto contents = readContents(folder(pid) + "/root/.flatpak-info", 65536);
    if (!contents) {
        return std::nullopt;
    }
    // A key file: "name=" of the [Application] group.
    bool inApplication = false;
    std::string_view rest(*contents);
    while (!rest.empty()) {
        const auto end = std::min(rest.find('\n'), rest.size());
        auto line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.starts_with('[')) {
            inApplication = line == "[Application]";
        } else if (inApplication && line.starts_with("name=") && line.size() > 5) {
            return std::string(line.substr(5));
        }
    }
    return std::nullopt;
}

}  // namespace tavrin
