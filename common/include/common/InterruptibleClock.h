// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <mutex>

#include "common/Clock.h"

namespace tavrin {

// The system clock whose sleeps end early once the program quits, so a background loop never holds
// up the quit for its back-off or pause. Safe from any thread.
class InterruptibleClock final : public Clock {
public:
    Date now() const override;
    // Returns after `span`, or at once after interrupt().
    void sleepFor(std::chrono::milliseconds span) override;
    // Ends every sleep, present and future.
    void interrupt();
    bool interrupted() const override;

private:
    mutable std::mutex mutex_;
    std::condition_variable woken_;
    bool interrupted_ = false;
};

}  // namespace tavrin
