// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <thread>

#include "capture/Samples.h"

namespace vidora {
namespace {

PixelBytes pixelsFrom(const std::shared_ptr<PixelPool>& pool, std::size_t bytes) {
    PixelBytes pixels{PixelAllocator<std::uint8_t>(pool)};
    pixels.resize(bytes);
    return pixels;
}

// The heap hands a block just freed to the next request of its size: one made first, and held, keeps
// the heap's reuse from passing for the pool's.
PixelBytes pixelsAfterTheHeap(const std::shared_ptr<PixelPool>& pool, std::size_t bytes) {
    void* const heldOff = ::operator new(bytes);  // called, not a new-expression the compiler may drop
    PixelBytes pixels = pixelsFrom(pool, bytes);
    ::operator delete(heldOff);
    return pixels;
}

// Frames are made on the capture thread and end on the encoder's, often after the capture (and its
// pool) has ended; the sanitizer build sees a block that outlives its pool or is never freed. After a
// size change the new size's blocks are kept, not the old ones.
TEST(PixelPoolTest, AFrameEndedOrEmptiedGivesItsBlockToTheNextOfItsSizeWhereverItEnds) {
    auto pool = std::make_shared<PixelPool>(2);
    PixelBytes first = pixelsFrom(pool, 4096);
    const std::uint8_t* block = first.data();
    first = PixelBytes();
    PixelBytes second = pixelsAfterTheHeap(pool, 4096);
    EXPECT_EQ(second.data(), block) << "the block was not reused";

    std::thread([moved = std::move(second)] {}).join();
    PixelBytes third = pixelsAfterTheHeap(pool, 4096);
    EXPECT_EQ(third.data(), block) << "a frame ended on another thread kept its block";
    pixelsFrom(pool, 4096);  // another block, given back at once
    third = PixelBytes();    // the pool is full of the old size

    PixelBytes resized = pixelsFrom(pool, 8192);
    block = resized.data();
    resized = PixelBytes();
    resized = pixelsAfterTheHeap(pool, 8192);
    EXPECT_EQ(resized.data(), block) << "the new size's block was not reused";
    const PixelBytes fourth = pixelsFrom(pool, 8192);  // three end, one more than the pool keeps
    pool.reset();
    const PixelBytes copy = resized;
    EXPECT_EQ(copy, resized);
}

}  // namespace
}  // namespace vidora
