#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace vidora {

// A presentation time: nanoseconds on the one monotonic clock (steady_clock) that every source uses,
// taken once, when the sample was captured.
using MediaTime = std::chrono::nanoseconds;

inline MediaTime mediaNow() {
    return std::chrono::steady_clock::now().time_since_epoch();
}

// An allocator whose resize leaves new bytes as they are: a grab that covers the whole frame writes
// every byte anyway, and clearing megabytes 30 times a second first is a pass of its own.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
    using value_type = T;
    template <typename U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* place) noexcept {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Arguments>
    void construct(U* place, Arguments&&... arguments) {
        ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
    }
};
using PixelBytes = std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>>;

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
