// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/Clock.h"
#include "common/RepeatingLoop.h"
#include "common/Workspace.h"

namespace vidora {

// Keeps the proxy armed while the recorder runs: every 2 s it looks for a running proxy (this user's,
// whoever started it, so only one ever runs) and starts one when there is none, at most three times
// a minute, with a line in the log each time. It also reads the proxy's status line for the window.
// The checks run on a thread of their own; stop it before the proxies are asked to quit.
class ProxySupervisor {
public:
    static constexpr std::chrono::milliseconds interval{2000};
    static constexpr std::size_t restartsPerMinute = 3;
    static constexpr std::string_view notRunningText = "Parlan is not running";

    struct Options {
        // Starts a proxy, without waiting for it.
        std::function<void()> startProxy;
        // The file the proxy keeps its status line in; nothing when there is none.
        std::optional<std::string> statusFile;
        // The proxy's state changed ("Parlan: Working...", or that it is not running); on the
        // supervisor's thread, only when the text changes.
        std::function<void(const std::string&)> stateChanged;
    };

    // `clock` paces the checks; once it is interrupted (the program quits) nothing is started.
    ProxySupervisor(const tavrin::Workspace& work, tavrin::Clock& clock, Options options);
    ~ProxySupervisor();
    ProxySupervisor(const ProxySupervisor&) = delete;
    ProxySupervisor& operator=(const ProxySupervisor&) = delete;

    // Begins the checks.
    void start();
    // Ends them, waiting for a check in progress.
    void stop();
    // One check; the supervisor's thread's work, public for tests.
    void check();

private:
    std::string readStatus() const;

    const tavrin::Workspace& work_;
    tavrin::Clock& clock_;
    Options options_;
    // The checker's own: when the proxy was started again within the last minute.
    std::deque<tavrin::Date> restarts_;
    bool heldBack_ = false;
    std::string state_;
    std::unique_ptr<tavrin::RepeatingLoop> loop_;
};

}  // namespace vidora
