// SPDX-License-Identifier: GPL-3.0-or-later
#include "DesktopEntries.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/Text.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;

// Entries are a few kilobytes; anything much larger is no entry worth reading whole.
constexpr std::size_t largestEntry = 1 << 20;

std::string lowered(std::string_view text) {
    std::string result(text);
    std::ranges::transform(result, result.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

// The string escapes of entry values: \s \n \t \r \\.
std::string unescaped(std::string_view value) {
    std::string result;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            result += value[i];
            continue;
        }
        const char next = value[++i];
        result += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
    }
    return result;
}

// Exec's words: double quotes group, a backslash inside them keeps the next character.
std::vector<std::string> commandWords(std::string_view exec) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < exec.size()) {
        while (i < exec.size() && (exec[i] == ' ' || exec[i] == '\t')) {
            ++i;
        }
        if (i == exec.size()) {
            break;
        }
        std::string word;
        if (exec[i] == '"') {
            for (++i; i < exec.size() && exec[i] != '"'; ++i) {
                if (exec[i] == '\\' && i + 1 < exec.size()) {
                    ++i;
                }
                word += exec[i];
            }
            ++i;
        } else {
            for (; i < exec.size() && exec[i] != ' ' && exec[i] != '\t'; ++i) {
                word += exec[i];
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::string programName(std::string_view exec) {
    const auto words = commandWords(exec);
    auto word = words.begin();
    if (word != words.end() && fs::path(*word).filename() == "env") {
        ++word;
        while (word != words.end() && word->find('=') != std::string::npos) {
            ++word;
        }
    }
    return word == words.end() ? std::string() : fs::path(*word).filename().string();
}

// A folder's modification time; nothing while it does not exist.
using Stamp = std::optional<std::pair<time_t, long>>;

Stamp modified(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return std::pair{status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
}

// The entries of one applications folder, ids in name order. Each folder is stamped before its files
// are listed, so a change made meanwhile is read next time.
void readFolder(const std::string& folder, std::vector<DesktopEntry>& entries,
                std::vector<std::pair<std::string, Stamp>>& stamps) {
    stamps.emplace_back(folder, modified(folder));
    std::error_code error;
    std::vector<fs::path> files;
    for (fs::recursive_directory_iterator item(folder, error), end; !error && item != end;
         item.increment(error)) {
        if (item->is_directory(error)) {
            stamps.emplace_back(item->path().string(), modified(item->path().string()));
        } else if (item->path().extension() == ".desktop") {
            files.push_back(item->path());
        }
    }
    std::ranges::sort(files);
    for (const auto& file : files) {
        std::string id = file.lexically_relative(folder).replace_extension().string();
        std::ranges::replace(id, '/', '-');
        if (auto entry = readDesktopEntry(file.string(), std::move(id))) {
            entries.push_back(std::move(*entry));
        }
    }
}

}  // namespace

std::optional<DesktopEntry> readDesktopEntry(const std::string& path, std::string id) {
    std::ifstream file(path, std::ios::binary);
    std::map<std::string, std::string, std::less<>> keys;
    bool inEntry = false, sawEntry = false;
    std::size_t read = 0;
    for (std::string line; read < largestEntry && std::getline(file, line); read += line.size() + 1) {
        const std::string_view trimmed = trim(line);
        if (trimmed.starts_with('[')) {
            inEntry = trimmed == "[Desktop Entry]" && !sawEntry;
            sawEntry = sawEntry || inEntry;
            continue;
        }
        const auto equals = trimmed.find('=');
        if (!inEntry || trimmed.starts_with('#') || equals == std::string_view::npos) {
            continue;
        }
        // Localized keys ("Name[de]") carry a locale in brackets; the first of a key counts.
        const std::string_view key = trim(trimmed.substr(0, equals));
        if (key.find('[') == std::string_view::npos) {
            keys.try_emplace(std::string(key), unescaped(trim(trimmed.substr(equals + 1))));
        }
    }
    if (keys["Type"] != "Application") {
        return std::nullopt;
    }
    return DesktopEntry{.id = std::move(id),
                        .path = path,
                        .name = keys["Name"],
                        .icon = keys["Icon"],
                        .startupWMClass = keys["StartupWMClass"],
                        .executable = programName(keys["Exec"])};
}

std::vector<std::string> applicationFolders(const Environment& environment) {
    const auto value = [&](std::string_view name) { return environment(name).value_or(""); };
    const std::string home = value("HOME");
    std::vector<std::string> data;
    // Relative paths are not honoured, as the XDG rules say.
    const auto add = [&](const std::string& folder) {
        if (folder.starts_with('/') && std::ranges::find(data, folder) == data.end()) {
            data.push_back(folder);
        }
    };
    const std::string dataHome = value("XDG_DATA_HOME");
    add(dataHome.starts_with('/') || home.empty() ? dataHome : home + "/.local/share");
    std::string dirs = value("XDG_DATA_DIRS");
    std::istringstream list(dirs.empty() ? "/usr/local/share:/usr/share" : dirs);
    for (std::string folder; std::getline(list, folder, ':');) {
        add(folder);
    }
    if (!home.empty()) {
        add(home + "/.local/share/flatpak/exports/share");
    }
    add("/var/lib/flatpak/exports/share");
    std::vector<std::string> folders;
    for (const auto& folder : data) {
        folders.push_back((fs::path(folder) / "applications").lexically_normal().string());
    }
    return folders;
}

DesktopEntryIndex::DesktopEntryIndex(std::vector<DesktopEntry> entries) {
    for (auto& entry : entries) {
        const std::size_t at = entries_.size();
        if (!ids_.try_emplace(entry.id, at).second) {
            continue;  // a folder of higher precedence has it
        }
        paths_.try_emplace(entry.path, at);
        lowerIds_.try_emplace(lowered(entry.id), at);
        if (!entry.startupWMClass.empty()) {
            windowClasses_.try_emplace(entry.startupWMClass, at);
        }
        if (!entry.executable.empty()) {
            executables_.try_emplace(entry.executable, at);
        }
        entries_.push_back(std::move(entry));
    }
}

const DesktopEntry* DesktopEntryIndex::find(const std::map<std::string, std::size_t, std::less<>>& keys,
                                            std::string_view key) const {
    const auto found = key.empty() ? keys.end() : keys.find(key);
    return found == keys.end() ? nullptr : &entries_[found->second];
}

const DesktopEntry* DesktopEntryIndex::byId(std::string_view id) const {
    return find(ids_, id);
}

const DesktopEntry* DesktopEntryIndex::byPath(std::string_view path) const {
    return find(paths_, path);
}

const DesktopEntry* DesktopEntryIndex::byWindowClass(std::string_view instance,
                                                     std::string_view className) const {
    for (const auto* entry : {find(windowClasses_, className), find(windowClasses_, instance),
                              find(lowerIds_, lowered(className)), find(lowerIds_, lowered(instance))}) {
        if (entry) {
            return entry;
        }
    }
    return nullptr;
}

const DesktopEntry* DesktopEntryIndex::byExecutable(std::string_view executableName) const {
    return find(executables_, executableName);
}

DesktopEntries::DesktopEntries(Environment environment) : environment_(std::move(environment)) {}

std::shared_ptr<const DesktopEntryIndex> DesktopEntries::current() const {
    auto roots = applicationFolders(environment_);
    const std::scoped_lock lock(cache_.mutex);
    if (cache_.index && roots == cache_.roots && std::ranges::all_of(cache_.stamps, [](const auto& stamp) {
            return modified(stamp.first) == stamp.second;
        })) {
        return cache_.index;
    }
    cache_.stamps.clear();
    std::vector<DesktopEntry> entries;
    for (const auto& root : roots) {
        readFolder(root, entries, cache_.stamps);
    }
    cache_.roots = std::move(roots);
    cache_.index = std::make_shared<const DesktopEntryIndex>(std::move(entries));
    return cache_.index;
}

}  // namespace tavrin
