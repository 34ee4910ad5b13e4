// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Workspace.h"

#include <algorithm>

#include "common/Text.h"

namespace tavrin {

bool Workspace::isRunning(std::string_view bundleIdentifier) const {
    return runningProcess(bundleIdentifier).has_value();
}

std::optional<RunningApplication> Workspace::runningProcess(std::string_view bundleIdentifier) const {
    for (auto& application : runningApplications()) {
        if (application.bundleIdentifier && *application.bundleIdentifier == bundleIdentifier) {
            return application;
        }
    }
    return std::nullopt;
}

std::optional<std::string> getAppPath(const Workspace& workspace, std::string_view bundleIdentifier) {
    const auto path = workspace.applicationPath(bundleIdentifier);
    if (!path) {
        return std::nullopt;
    }
    // ^(.*/).*\.(app|exe)$: the folder up to the last "/" of a path that ends in ".app" or ".exe", the
    // latter in any letter case, as the game is recognised (Wine finds WOW.EXE as well).
    const std::string_view text(*path);
    if (!(text.ends_with(".app") ||
          (text.size() >= 4 && equalIgnoringCase(text.substr(text.size() - 4), ".exe")))) {
        return std::nullopt;
    }
    const auto slash = text.rfind('/');
    if (slash == std::string_view::npos || text.size() - slash - 1 < 4) {
        return std::nullopt;
    }
    return std::string(text.substr(0, slash + 1));
}

bool anotherCopyRuns(const Workspace& workspace) {
    const pid_t self = workspace.ownProcessId();
    const auto own = workspace.ownBundleIdentifier();
    // Without an identifier of its own (a renamed build), every unnamed process would look like a copy.
    if (!own) {
        return false;
    }
    const auto applications = workspace.runningApplications();
    const auto me =
        std::find_if(applications.begin(), applications.end(),
                     [self](const RunningApplication& application) { return application.pid == self; });
    for (const auto& application : applications) {
        if (application.pid == self || application.bundleIdentifier != own) {
            continue;
        }
        const bool earlier = me == applications.end() || application.startTime < me->startTime ||
                             (application.startTime == me->startTime && application.pid < self);
        if (earlier) {
            return true;
        }
    }
    return false;
}

}  // namespace tavrin
