// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/Clock.h"
#include "common/RepeatingLoop.h"
#include "common/Workspace.h"
#include "control/RecordingNotice.h"

namespace vidora {

// Keeps the proxy armed while the recorder runs: every 2 s it looks for a running proxy (this user's,
// whoever started it, so only one ever runs). One that ended without leaving its quit line in the status
// file crashed: it is started again 2 s after it was found gone, 10 s after a second crash within ten
// minutes; the third within ten minutes ends the restarts and the player is told once, with the place of
// the proxy's log. One the player quit is left alone. Either way a proxy that runs again (the player
// started one) is looked after again. It also reads the proxy's status line for the window.
// The checks run on a thread of their own; stop it before the proxies are asked to quit.
class ProxySupervisor {
public:
    static constexpr std::chrono::milliseconds interval{2000};
    // The waits before the first and the second restart within `crashSpan`; the next crash ends them.
    static constexpr std::array<std::chrono::seconds, 2> restartWaits{std::chrono::seconds(2),
                                                                      std::chrono::seconds(10)};
    static constexpr std::chrono::minutes crashSpan{10};
    static constexpr std::string_view notRunningText = "Parlan is not running";

    struct Options {
        // Starts a proxy, without waiting for it: its pid, nothing when it could not be started.
        std::function<std::optional<pid_t>()> startProxy;
        // The file the proxy keeps its status line in; nothing when there is none.
        std::optional<std::string> statusFile;
        // The proxy's log, named to the player when it keeps crashing.
        std::string logFile;
        // The proxy's state changed ("Parlan: Working...", or that it is not running); on the
        // supervisor's thread, only when the text changes.
        std::function<void(const std::string&)> stateChanged;
        // What the player is told when the restarts end; on the supervisor's thread.
        std::function<void(const RecordingNotice&)> tell;
    };

    // `clock` paces the checks; once it is interrupted (the program quits) nothing is started.
    ProxySupervisor(const tavrin::Workspace& work, tavrin::Clock& clock, Options options);
    ~ProxySupervisor();
    ProxySupervisor(const ProxySupervisor&) = delete;
    ProxySupervisor& operator=(const ProxySupervisor&) = delete;

    // Begins the checks; `started` is the proxy just started.
    void start(pid_t started);
    // Ends them, waiting for a check in progress.
    void stop();
    // One check; the supervisor's thread's work, public for tests.
    void check();

private:
    enum class Hold { none, quit, crashing };

    // The proxy is gone: quit, or crashed and started again later, or crashed too often.
    void proxyEnded(tavrin::Date now);
    std::string readStatus() const;
    std::string stateText(bool running) const;

    const tavrin::Workspace& work_;
    tavrin::Clock& clock_;
    Options options_;
    // The checker's own from here on.
    // The proxy last seen running or started; nothing once it is gone.
    std::optional<pid_t> seen_;
    std::deque<tavrin::Date> crashes_;
    std::optional<tavrin::Date> restartAt_;
    Hold hold_ = Hold::none;
    std::string state_;
    std::unique_ptr<tavrin::RepeatingLoop> loop_;
};

}  // namespace vidora
