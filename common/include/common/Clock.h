// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>

#include "common/DateTime.h"

namespace tavrin {

// Time and waiting, injected so that tests set the time and never wait.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;
    // Blocks the calling thread.
    virtual void sleepFor(std::chrono::milliseconds span) = 0;
    // Whether sleeps end at once for good (the program quits): loops paced by the clock end then.
    virtual bool interrupted() const { return false; }
};

class SystemClock final : public Clock {
public:
    Date now() const override;
    void sleepFor(std::chrono::milliseconds span) override;
};

}  // namespace tavrin
