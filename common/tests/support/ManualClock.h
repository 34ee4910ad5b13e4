// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <vector>

#include "common/Clock.h"

namespace tavrin::testing {

// A clock the test sets; sleeping advances it at once and is remembered.
class ManualClock final : public Clock {
public:
    explicit ManualClock(Date start = Date{}) : now_(start) {}

    Date now() const override { return now_; }
    void sleepFor(std::chrono::milliseconds span) override {
        sleeps.push_back(span);
        now_ += span;
    }

    void set(Date date) { now_ = date; }
    void advance(std::chrono::nanoseconds span) { now_ += std::chrono::duration_cast<Date::duration>(span); }

    std::vector<std::chrono::milliseconds> sleeps;

private:
    Date now_;
};

}  // namespace tavrin::testing
