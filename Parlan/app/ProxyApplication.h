// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "ProxyWindow.h"
#include "common/InterruptibleClock.h"
#include "common/Workspace.h"
#include "proxy/ProxyService.h"

namespace parlan {

// The running proxy: its window and the polling service whose status it shows. Lives on the UI
// thread; the service's status texts are handed over to it through the event queue.
class ProxyApplication {
public:
    // `moviesPath` is the user's Movies folder; without one there is nowhere to write and the
    // status stays "...". The movies folder chosen in the recorder's settings takes the place of the
    // TavrinMovies folder in it. Each status is also logged, and kept in `statusFile` for the recorder.
    ProxyApplication(const tavrin::Workspace& work, const std::optional<std::string>& moviesPath,
                     std::optional<std::string> statusFile = std::nullopt);
    ~ProxyApplication();

    // Shows the window (minimised and without focus when `hidden`) and starts polling.
    void start(bool hidden);
    // Ends sleeps and the polling thread; a match end in progress still writes its files.
    void stop();
    // Stops, and leaves the quit line in the status file: the proxy ends on purpose, not by a crash.
    void quit();

    ProxyWindow& window() { return window_; }

private:
    void keepStatus(std::string_view text) const;

    std::optional<std::string> statusFile_;
    ProxyWindow window_;
    tavrin::InterruptibleClock clock_;
    std::optional<LogParser> parser_;
    std::optional<LogFiles> logs_;
    std::optional<ProxyService> service_;
};

}  // namespace parlan
