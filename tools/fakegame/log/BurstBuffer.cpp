// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/BurstBuffer.h"

#include <algorithm>
#include <utility>

namespace fakegame {

BurstBuffer::BurstBuffer(std::uint64_t seed, std::size_t averageBytes)
    : random_(seed), averageBytes_(std::max<std::uint64_t>(averageBytes, 1)) {
    nextCut_ = nextLength();
}

// The engine's output is fixed by the standard, unlike the distributions': the same cuts everywhere.
std::uint64_t BurstBuffer::nextLength() {
    return 1 + random_() % (2 * averageBytes_);
}

std::vector<std::string> BurstBuffer::add(std::string_view text) {
    held_.append(text);
    std::vector<std::string> bursts;
    while (heldStart_ + held_.size() >= nextCut_) {
        const std::size_t length = nextCut_ - heldStart_;
        bursts.push_back(held_.substr(0, length));
        held_.erase(0, length);
        heldStart_ = nextCut_;
        nextCut_ += nextLength();
    }
    return bursts;
}

std::string BurstBuffer::drain() {
    heldStart_ += held_.size();
    return std::exchange(held_, {});
}

std::vector<std::string> splitIntoBursts(std::string_view text, std::uint64_t seed,
                                         std::size_t averageBytes) {
    BurstBuffer buffer(seed, averageBytes);
    auto bursts = buffer.add(text);
    if (buffer.holding()) {
        bursts.push_back(buffer.drain());
    }
    return bursts;
}

}  // namespace fakegame
