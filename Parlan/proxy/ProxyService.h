// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/Clock.h"
#include "common/RepeatingLoop.h"
#include "common/Workspace.h"
#include "engine/LogFiles.h"
#include "proxy/AddonCheck.h"

namespace parlan {

// The proxy's polling: finds the game's folder, then every 300 ms checks that the game runs and
// hands its newest combat log to the follower. Status texts go to `status`, called on the polling
// thread and only when the text changes; while the game runs they also say when its add-on is missing
// or older than the client.
class ProxyService {
public:
    static constexpr std::string_view startingText = "...";
    static constexpr std::string_view notRunningText = "World of Warcraft is not running";
    static constexpr std::string_view workingText = "Working...";
    // The game runs, but where it keeps its logs is not known (yet).
    static constexpr std::string_view noFolderText = "World of Warcraft's folder was not found";
    static constexpr std::chrono::milliseconds interval{300};
    static constexpr std::chrono::seconds notRunningBackOff{3};

    ProxyService(const tavrin::Workspace& work, LogFiles& logs, tavrin::Clock& clock,
                 std::function<void(std::string_view)> status);
    ~ProxyService();

    // Looks the game's folder up, creates the command folder and starts the polling thread.
    void process();
    // One pass of the loop; the polling thread's work, public for tests.
    void pass();
    // Stops the polling thread after its pass in progress.
    void stop();

    const std::optional<std::string>& logFolder() const { return logFolder_; }

private:
    bool findGame();
    void setStatus(std::string_view text);

    const tavrin::Workspace& work_;
    LogFiles& logs_;
    tavrin::Clock& clock_;
    std::function<void(std::string_view)> status_;
    std::string shownStatus_{startingText};
    std::optional<std::string> gameFolder_;
    std::optional<std::string> logFolder_;
    AddonCheck addon_;
    // The game process (pid, start time) the folder was looked up for.
    std::pair<pid_t, std::uint64_t> gameProcess_{0, 0};
    std::unique_ptr<tavrin::RepeatingLoop> loop_;
};

}  // namespace parlan
