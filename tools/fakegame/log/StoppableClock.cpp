// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/StoppableClock.h"

#include <condition_variable>
#include <mutex>

namespace fakegame {

tavrin::Date StoppableClock::now() const {
    return std::chrono::system_clock::now();
}

void StoppableClock::sleepFor(std::chrono::milliseconds span) {
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    std::unique_lock lock(mutex);
    wakeUp.wait_for(lock, stop_, span, [] { return false; });
}

}  // namespace fakegame
