#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "GameLocation.h"
#include "TemporaryFolder.h"
#include "common/Folders.h"

namespace tavrin::testing {

inline constexpr std::string_view gameWindowsPath =
    "C:\\Program Files (x86)\\World of Warcraft\\_retail_\\Wow.exe";

// One process of a fabricated proc tree; an empty link leaves it out (no exe link is what another
// user's process shows).
struct FakeProcess {
    pid_t pid = 0;
    std::vector<std::string> commandLine{};
    std::string executable{};
    std::string comm = "process";
    std::vector<std::string> environment{};  // NAME=value
    std::string workingDirectory{};
    std::uint64_t startTime = 1000;
    std::string flatpakInfo{};
};

// A proc tree, a home folder and Wine prefixes in a temporary folder.
class FabricatedProc {
public:
    std::string root() const { return folder.file("proc"); }
    std::string home() const { return folder.file("home"); }

    void add(const FakeProcess& process) {
        namespace fs = std::filesystem;
        const std::string at = root() + "/" + std::to_string(process.pid);
        fs::remove_all(at);
        fs::create_directories(at + "/root");
        const auto nulSeparated = [](const std::vector<std::string>& words) {
            std::string text;
            for (const auto& word : words) {
                text += word + '\0';
            }
            return text;
        };
        writeFile(at + "/cmdline", nulSeparated(process.commandLine));
        writeFile(at + "/environ", nulSeparated(process.environment));
        writeFile(at + "/comm", process.comm + "\n");
        writeFile(at + "/stat", std::to_string(process.pid) + " (" + process.comm +
                                    ") S 1 1 1 0 -1 4194304 " + "0 0 0 0 0 0 0 0 20 0 1 0 " +
                                    std::to_string(process.startTime) + " 9\n");
        if (!process.executable.empty()) {
            fs::create_symlink(process.executable, at + "/exe");
        }
        if (!process.workingDirectory.empty()) {
            fs::create_symlink(process.workingDirectory, at + "/cwd");
        }
        writeFile(at + "/root/.flatpak-info", process.flatpakInfo);
    }

    // A Wine prefix under the home folder holding the file `relative`, with drive C: linked as Wine links it.
    std::string makePrefix(const std::string& name,
                           const std::string& relative = std::string(gameInPrefix)) const {
        const std::string prefix = home() + "/" + name;
        const std::filesystem::path file = prefix + "/" + relative;
        std::filesystem::create_directories(file.parent_path());
        writeFile(file, "MZ");
        std::filesystem::create_directories(prefix + "/dosdevices");
        std::filesystem::create_symlink("../drive_c", prefix + "/dosdevices/c:");
        return prefix;
    }

    Environment environment(std::map<std::string, std::string, std::less<>> variables = {}) const {
        variables.emplace("HOME", home());
        return [variables = std::move(variables)](std::string_view name) -> std::optional<std::string> {
            const auto found = variables.find(name);
            return found == variables.end() ? std::nullopt : std::optional(found->second);
        };
    }

    TemporaryFolder folder;
};

}  // namespace tavrin::testing
