// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace fakegame {

// Holds back written text so that it leaves in bursts ending at cut points drawn from a seeded generator,
// as the game flushes its log buffer now and then: often inside a line. The cuts are offsets in the whole
// stream, so the same seed cuts the same text at the same places however it arrives.
class BurstBuffer {
public:
    // Bursts are 1 to 2 * `averageBytes` long.
    BurstBuffer(std::uint64_t seed, std::size_t averageBytes);

    // Takes text; the bursts it completed, in order.
    std::vector<std::string> add(std::string_view text);
    // Gives up what is held back (the game flushing on a pause or on closing); the cuts stay where they were.
    std::string drain();
    bool holding() const { return !held_.empty(); }

private:
    std::uint64_t nextLength();

    std::mt19937_64 random_;
    std::uint64_t averageBytes_;
    std::string held_;
    std::uint64_t heldStart_ = 0;  // stream offset of held_'s first byte
    std::uint64_t nextCut_ = 0;
};

// The text cut as a BurstBuffer with that seed cuts it, the tail included.
std::vector<std::string> splitIntoBursts(std::string_view text, std::uint64_t seed, std::size_t averageBytes);

}  // namespace fakegame
