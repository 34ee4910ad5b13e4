// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace vidora {

// A presentation time: nanoseconds on the one monotonic clock (steady_clock) that every source uses,
// taken once, when the sample was captured.
using MediaTime = std::chrono::nanoseconds;

inline MediaTime mediaNow() {
    return std::chrono::steady_clock::now().time_since_epoch();
}

// Picture-sized blocks kept for the next frame once a frame is done with them. Frames are made 30 times
// a second on the capture thread and released on the encoder's; fresh blocks each time would come and
// go in the allocator's per-thread arenas, which keep what they once held. Only blocks of the size last
// taken are kept: after a resolution change the old ones would never be taken again. Any thread may
// take and give.
class PixelPool {
public:
    explicit PixelPool(std::size_t keptBlocks) : keptBlocks_(keptBlocks) { kept_.reserve(keptBlocks); }
    ~PixelPool();
    PixelPool(const PixelPool&) = delete;
    PixelPool& operator=(const PixelPool&) = delete;

    // A kept block of exactly `bytes`, else a new one; kept blocks of another size are freed.
    void* take(std::size_t bytes);
    // Keeps the block for a later take, or frees it when enough are kept or it is of another size
    // than the last taken.
    void give(void* block, std::size_t bytes);

private:
    const std::size_t keptBlocks_;
    std::mutex mutex_;
    std::vector<void*> kept_;  // each of takenBytes_
    std::size_t takenBytes_ = 0;
};

// Pixel memory: from a pool when the frame was made with one, else from the heap. New bytes are left
// as they are: a grab that covers the whole frame writes every byte anyway, and clearing megabytes 30
// times a second first is a pass of its own. The pool goes with the bytes when a frame is moved or
// assigned, so each block returns to the pool it came from.
template <typename T>
struct PixelAllocator {
    using value_type = T;
    using propagate_on_container_copy_assignment = std::true_type;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;

    PixelAllocator() = default;
    explicit PixelAllocator(std::shared_ptr<PixelPool> from) noexcept : pool(std::move(from)) {}
    template <typename U>
    PixelAllocator(const PixelAllocator<U>& other) noexcept : pool(other.pool) {}

    T* allocate(std::size_t count) {
        return pool ? static_cast<T*>(pool->take(count * sizeof(T))) : std::allocator<T>().allocate(count);
    }
    void deallocate(T* place, std::size_t count) noexcept {
        if (pool) {
            pool->give(place, count * sizeof(T));
        } else {
            std::allocator<T>().deallocate(place, count);
        }
    }
    template <typename U>
    void construct(U* place) noexcept {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Arguments>
    void construct(U* place, Arguments&&... arguments) {
        ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
    }
    friend bool operator==(const PixelAllocator& left, const PixelAllocator& right) noexcept {
        return left.pool == right.pool;
    }

    std::shared_ptr<PixelPool> pool;
};
using PixelBytes = std::vector<std::uint8_t, PixelAllocator<std::uint8_t>>;

// One captured picture: 32-bit BGRA pixels, rows `stride` bytes apart.
struct VideoFrame {
    PixelBytes pixels;
    int width = 0;
    int height = 0;
    int stride = 0;
    MediaTime presentationTime{};
    // False for a grab that failed or showed nothing new: such frames never reach a movie.
    bool complete = false;
};

// Captured sound: interleaved signed 16-bit PCM.
struct AudioBuffer {
    std::vector<std::int16_t> samples;
    int sampleRate = 48000;
    int channels = 1;
    MediaTime presentationTime{};
    // False for a buffer the source itself reports as broken.
    bool valid = true;

    std::int64_t frameCount() const {
        return channels > 0 ? static_cast<std::int64_t>(samples.size()) / channels : 0;
    }
};

}  // namespace vidora
