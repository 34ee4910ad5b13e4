// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProcWorkspace.h"

#include <signal.h>
#include <unistd.h>

#include "ApplicationIdentity.h"
#include "GameLocation.h"

namespace tavrin {

ProcWorkspace::ProcWorkspace(std::string procRoot, Environment environment)
    : table_(std::move(procRoot)), environment_(std::move(environment)) {}

// Like the desktop's own view, only this user's processes: another user's programs are neither
// copies of ours nor a game we could follow.
std::vector<pid_t> ProcWorkspace::userProcessIds() const {
    std::vector<pid_t> pids = table_.processIds();
    const uid_t user = ::geteuid();
    // An exited copy that its parent has not reaped yet must not keep a new copy from starting.
    std::erase_if(pids,
                  [this, user](pid_t pid) { return table_.owner(pid) != user || table_.hasEnded(pid); });
    return pids;
}

std::vector<RunningApplication> ProcWorkspace::runningApplications() const {
    std::vector<RunningApplication> applications;
    for (const pid_t pid : userProcessIds()) {
        if (auto identity = identifyProcess(table_, pid)) {
            applications.push_back({.pid = pid,
                                    .bundleIdentifier = std::move(identity->identifier),
                                    .name = std::move(identity->name),
                                    .hidden = false,
                                    .finishedLaunching = false,
                                    .startTime = table_.start(pid).value_or(ProcessStart{}).startTime});
        }
    }
    return applications;
}

bool ProcWorkspace::hasIdentifier(const ProcessStart& process, std::string_view bundleIdentifier) const {
    // The start time tells a process from a later one under the same pid.
    if (table_.start(process.pid) != process || table_.hasEnded(process.pid)) {
        return false;
    }
    const auto identity = identifyProcess(table_, process.pid);
    return identity && identity->identifier == bundleIdentifier;
}

std::optional<ProcessStart> ProcWorkspace::findProcess(std::string_view bundleIdentifier) const {
    std::optional<ProcessStart> remembered;
    {
        const std::lock_guard lock(lastFound_.mutex);
        if (const auto found = lastFound_.processes.find(bundleIdentifier);
            found != lastFound_.processes.end()) {
            remembered = found->second;
        }
    }
    if (remembered && hasIdentifier(*remembered, bundleIdentifier)) {
        return remembered;
    }
    std::optional<ProcessStart> found;
    for (const pid_t pid : userProcessIds()) {
        const auto identity = identifyProcess(table_, pid);
        if (identity && identity->identifier == bundleIdentifier) {
            found = table_.start(pid);
            if (found) {
                break;
            }
        }
    }
    const std::lock_guard lock(lastFound_.mutex);
    if (found) {
        lastFound_.processes.insert_or_assign(std::string(bundleIdentifier), *found);
    } else {
        lastFound_.processes.erase(std::string(bundleIdentifier));
    }
    return found;
}

std::optional<RunningApplication> ProcWorkspace::runningProcess(std::string_view bundleIdentifier) const {
    const auto found = findProcess(bundleIdentifier);
    if (!found) {
        return std::nullopt;
    }
    return RunningApplication{.pid = found->pid,
                              .bundleIdentifier = std::string(bundleIdentifier),
                              .name = {},
                              .hidden = false,
                              .finishedLaunching = false,
                              .startTime = found->startTime};
}

std::optional<std::string> ProcWorkspace::applicationPath(std::string_view bundleIdentifier) const {
    if (bundleIdentifier != gameBundleIdentifier) {
        return std::nullopt;
    }
    // The game process that isRunning follows comes first, then any other one, then the disk.
    const auto followed = findProcess(bundleIdentifier);
    if (followed) {
        if (auto path = gameExecutableOfProcess(table_, followed->pid, environment_)) {
            return path;
        }
    }
    for (const auto& application : runningApplications()) {
        if (application.bundleIdentifier == bundleIdentifier &&
            (!followed || application.pid != followed->pid)) {
            if (auto path = gameExecutableOfProcess(table_, application.pid, environment_)) {
                return path;
            }
        }
    }
    return installedGameExecutable(environment_);
}

pid_t ProcWorkspace::ownProcessId() const {
    return ::getpid();
}

std::optional<std::string> ProcWorkspace::ownBundleIdentifier() const {
    const auto name = table_.ownExecutableName();
    return name ? ownProgramIdentifier(*name) : std::nullopt;
}

bool ProcWorkspace::terminate(pid_t pid) const {
    // kill() reads 0 and negative pids as process groups, or every process.
    return pid > 0 && ::kill(pid, SIGTERM) == 0;
}

}  // namespace tavrin
