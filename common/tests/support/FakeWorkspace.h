// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/Workspace.h"

namespace tavrin::testing {

// A workspace whose applications and locations the test sets.
class FakeWorkspace final : public Workspace {
public:
    std::vector<RunningApplication> runningApplications() const override { return applications; }
    std::optional<std::string> applicationPath(std::string_view bundleIdentifier) const override {
        const auto found = paths.find(std::string(bundleIdentifier));
        return found != paths.end() ? std::optional(found->second) : std::nullopt;
    }
    pid_t ownProcessId() const override { return ownPid; }
    std::optional<std::string> ownBundleIdentifier() const override { return ownIdentifier; }
    bool terminate(pid_t) const override { return true; }

    void run(pid_t pid, std::string identifier) {
        applications.push_back({pid, std::move(identifier), "", false, true});
    }

    std::vector<RunningApplication> applications;
    std::map<std::string, std::string> paths;
    pid_t ownPid = 1000;
    std::optional<std::string> ownIdentifier;
};

}  // namespace tavrin::testing
