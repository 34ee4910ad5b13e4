// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FrameStats.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>

namespace fakegame {

void FrameStats::shown(Clock::time_point time) {
    frames_.push_back(time - last_);
    last_ = time;
}

std::string FrameStats::report(Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - since_).count();
    const auto count = frames_.size();
    // The slowest hundredth, at least one frame.
    const auto slowest = std::max<std::size_t>(count / 100, 1);
    double low = 0;
    if (count > 0) {
        std::nth_element(frames_.begin(), frames_.begin() + static_cast<std::ptrdiff_t>(slowest - 1),
                         frames_.end(), std::greater<>());
        const auto total = std::accumulate(
            frames_.begin(), frames_.begin() + static_cast<std::ptrdiff_t>(slowest), Clock::duration::zero());
        low = static_cast<double>(slowest) / std::chrono::duration<double>(total).count();
    }
    char line[128];
    std::snprintf(line, sizeof line, "%zu frames in %.3f s: %.2f fps, 1 %% low %.2f fps", count, seconds,
                  seconds > 0 ? static_cast<double>(count) / seconds : 0.0, low);
    frames_.clear();
    since_ = now;
    last_ = now;
    return line;
}

}  // namespace fakegame
