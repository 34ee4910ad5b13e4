// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "common/Clock.h"

namespace tavrin {

// Runs `handler` on its own thread, forever: sleep `interval` on `clock`, then one pass, so passes
// never overlap. Stopping waits for the pass in progress; interrupt the clock first so the wait is short.
class RepeatingLoop {
public:
    RepeatingLoop(std::chrono::milliseconds interval, Clock& clock, std::function<void()> handler);
    ~RepeatingLoop();
    RepeatingLoop(const RepeatingLoop&) = delete;
    RepeatingLoop& operator=(const RepeatingLoop&) = delete;

    void stop();

private:
    std::jthread thread_;
};

}  // namespace tavrin
