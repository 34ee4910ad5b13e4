// SPDX-License-Identifier: GPL-3.0-or-later
#include "writer/FramePacer.h"

#include <algorithm>

namespace vidora {

bool FramePacer::keep(MediaTime time) {
    // A little slower than the encoder, so that its queue drains rather than fills.
    const MediaTime step = std::max(interval_, MediaTime(cost_.load() * 21 / 20));
    const std::int64_t last = due_.load();
    MediaTime due(last);
    if (last == noDue || time >= due + step) {
        due = time;  // the first frame, or after a pause in the capture
    }
    // Half a frame early still counts: the capture's own timing wobbles.
    if (time < due - interval_ / 2) {
        return false;
    }
    due_ = (due + step).count();
    return true;
}

bool FramePacer::wants(MediaTime time) const {
    const std::int64_t due = due_.load();
    return due == noDue || time >= MediaTime(due) - interval_ / 2;
}

void FramePacer::encoded(MediaTime cost) {
    // About the last second weighs: a key frame's higher cost alone is absorbed by the encoder's queue.
    const std::int64_t previous = cost_.load();
    cost_ = previous + (cost.count() - previous) / 32;
}

}  // namespace vidora
