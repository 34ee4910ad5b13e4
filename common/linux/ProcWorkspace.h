// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ProcessTable.h"
#include "common/Folders.h"
#include "common/Workspace.h"

namespace tavrin {

// The workspace as /proc shows it, without a display: identifiers from the process rules of
// ApplicationIdentity.h, no application finished launching, none hidden. Only the game has an
// application path (its Wow.exe).
//
// Any thread may call any operation, also two threads at once: the only state, the process last
// found per identifier, is kept under a lock that is never held while reading /proc.
class ProcWorkspace final : public Workspace {
public:
    explicit ProcWorkspace(std::string procRoot = "/proc", Environment environment = processEnvironment());

    std::vector<RunningApplication> runningApplications() const override;
    std::optional<std::string> applicationPath(std::string_view bundleIdentifier) const override;
    // Cheap while the application keeps running: the process found last time is checked first (its
    // stat and command line); the whole table is scanned only when it is gone. isRunning asks it too.
    std::optional<RunningApplication> runningProcess(std::string_view bundleIdentifier) const override;
    pid_t ownProcessId() const override;
    std::optional<std::string> ownBundleIdentifier() const override;
    bool terminate(pid_t pid) const override;

private:
    std::vector<pid_t> userProcessIds() const;
    std::optional<ProcessStart> findProcess(std::string_view bundleIdentifier) const;
    bool hasIdentifier(const ProcessStart& process, std::string_view bundleIdentifier) const;

    ProcessTable table_;
    Environment environment_;

    struct LastFound {
        std::mutex mutex;
        std::map<std::string, ProcessStart, std::less<>> processes;
    };
    mutable LastFound lastFound_;
};

}  // namespace tavrin
