// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

// Application identifiers (the stand-ins for bundle identifiers).
inline constexpr std::string_view gameBundleIdentifier = "com.blizzard.worldofwarcraft";
inline constexpr std::string_view proxyBundleIdentifier = "net.tavrinworks.proxy.Parlan";
inline constexpr std::string_view recorderBundleIdentifier = "net.tavrinworks.Vidora";
inline constexpr std::string_view discordBundleIdentifier = "com.hnc.Discord";
// The game's product name, which Wine gives its sound streams as their application's name.
inline constexpr std::string_view gameProductName = "World of Warcraft";

// A running process that has an application identifier, or one the desktop shows a window of.
struct RunningApplication {
    pid_t pid = 0;
    std::optional<std::string> bundleIdentifier;
    std::string name;
    bool hidden = false;
    bool finishedLaunching = false;
    // When the process started, in the system's own units; only compared with one another.
    std::uint64_t startTime = 0;
};

// The desktop's view of applications: which run, where they are installed, the process itself.
// Implementations are safe to call from any one thread at a time; they absorb every platform error
// into empty or false results.
class Workspace {
public:
    virtual ~Workspace() = default;

    virtual std::vector<RunningApplication> runningApplications() const = 0;
    // The location of the application's executable (the game's Wow.exe), or nothing.
    virtual std::optional<std::string> applicationPath(std::string_view bundleIdentifier) const = 0;
    // Whether a process with that identifier runs; must not need a display.
    virtual bool isRunning(std::string_view bundleIdentifier) const;
    // The process with that identifier (pid and start time), or nothing; must not need a display.
    virtual std::optional<RunningApplication> runningProcess(std::string_view bundleIdentifier) const;
    virtual pid_t ownProcessId() const = 0;
    virtual std::optional<std::string> ownBundleIdentifier() const = 0;
    // Asks the process to quit (SIGTERM); false when it could not be asked.
    virtual bool terminate(pid_t pid) const = 0;
};

// The folder holding the application (its path matched against ^(.*/).*\.(app|exe)$), with its
// trailing "/", or nothing.
std::optional<std::string> getAppPath(const Workspace& workspace, std::string_view bundleIdentifier);

// Another process with this program's identifier started before this one (so of two copies started
// together exactly one quits). A program without an identifier has no copies.
bool anotherCopyRuns(const Workspace& workspace);

}  // namespace tavrin
