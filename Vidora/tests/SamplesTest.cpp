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

// Frames are made on the capture thread and end on the encoder's, often after the capture (and its
// pool) has ended; the sanitizer build sees a block that outlives its pool or is never freed.
TEST(PixelPoolTest, AFrameEndedOrEmptiedGivesItsBlockToTheNextOfItsSizeWhereverItEnds) {
    auto pool = std::make_shared<PixelPool>(2);
    PixelBytes first = pixelsFrom(pool, 4096);
    const std::uint8_t* block = first.data();
    first = PixelBytes();
    PixelBytes second = pixelsFrom(pool, 4096);
    EXPECT_EQ(second.data(), block) << "the block was not reused";
    EXPECT_NE(pixelsFrom(pool, 8192).data(), block);

    std::thread([moved = std::move(second)] {}).join();
    PixelBytes third = pixelsFrom(pool, 4096);
    EXPECT_EQ(third.data(), block) << "a frame ended on another thread kept its block";
    const PixelBytes fourth = pixelsFrom(pool, 4096);  // ends with more kept than the pool keeps
    pool.reset();
    const PixelBytes copy = third;
    EXPECT_EQ(copy, third);
}

}  // namespace
}  // namespace vidora
