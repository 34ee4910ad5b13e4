// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Clock.h"

#include <thread>

namespace tavrin {

Date SystemClock::now() const {
    return std::chrono::system_clock::now();
}

void SystemClock::sleepFor(std::chrono::milliseconds span) {
    std::this_thread::sleep_for(span);
}

}  // namespace tavrin
