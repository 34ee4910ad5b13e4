// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

// A process told apart from a later one that reuses its pid: its start time in clock ticks after
// boot (/proc/PID/stat field 22) does not change over its life, exec included.
struct ProcessStart {
    pid_t pid = 0;
    std::uint64_t startTime = 0;
    bool operator==(const ProcessStart&) const = default;
};

// The facts of processes as a proc tree shows them ("/proc", or a tree a test lays out).
// Any read may fail because the process has ended or belongs to another user; it then gives
// nothing. Keeps no state but the root, so any thread may call it.
class ProcessTable {
public:
    explicit ProcessTable(std::string root = "/proc");

    const std::string& root() const { return root_; }

    // The pids listed now, ascending.
    std::vector<pid_t> processIds() const;
    // The first NUL-separated word of the command line (argv[0] as the process left it).
    std::optional<std::string> firstCommandWord(pid_t pid) const;
    // The executable's file name from the exe link (readable for one's own processes), else comm.
    std::optional<std::string> executableName(pid_t pid) const;
    // The same for the reading process itself ("self").
    std::optional<std::string> ownExecutableName() const;
    std::optional<std::string> environmentValue(pid_t pid, std::string_view name) const;
    std::optional<std::string> workingDirectory(pid_t pid) const;
    std::optional<ProcessStart> start(pid_t pid) const;
    // The parent's pid; nothing for the first process (its parent is 0).
    std::optional<pid_t> parentId(pid_t pid) const;
    // The process has exited (a zombie not reaped yet) or is gone.
    bool hasEnded(pid_t pid) const;
    // The user the process runs as.
    std::optional<uid_t> owner(pid_t pid) const;
    // The Flatpak application id of a sandboxed process (its /.flatpak-info).
    std::optional<std::string> flatpakId(pid_t pid) const;

private:
    std::string folder(pid_t pid) const;
    std::optional<std::string> executableNameIn(const std::string& folder) const;
    // Field `field` (3 or later) of the stat file.
    std::optional<std::string> statField(pid_t pid, int field) const;

    std::string root_;
};

}  // namespace tavrin
