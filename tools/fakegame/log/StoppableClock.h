// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stop_token>

#include "common/Clock.h"

namespace fakegame {

// The system clock for a worker thread: its sleeping ends early once the thread is asked to stop.
class StoppableClock final : public tavrin::Clock {
public:
    explicit StoppableClock(std::stop_token stop) : stop_(std::move(stop)) {}

    tavrin::Date now() const override;
    void sleepFor(std::chrono::milliseconds span) override;

private:
    std::stop_token stop_;
};

}  // namespace fakegame
