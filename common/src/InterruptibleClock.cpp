// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/InterruptibleClock.h"

namespace tavrin {

Date InterruptibleClock::now() const {
    return std::chrono::system_clock::now();
}

void InterruptibleClock::sleepFor(std::chrono::milliseconds span) {
    std::unique_lock lock(mutex_);
    woken_.wait_for(lock, span, [this] { return interrupted_; });
}

void InterruptibleClock::interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    woken_.notify_all();
}

bool InterruptibleClock::interrupted() const {
    std::lock_guard lock(mutex_);
    return interrupted_;
}

}  // namespace tavrin
