#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace vidora {

// A presentation time: nanoseconds on the one monotonic clock (steady_clock) that every source uses,
// taken once, when the sample was captured.
using MediaTime = std::chrono::nanoseconds;

inline MediaTime mediaNow() {
    return std::chrono::steady_clock::now().time_since_epoch();
}

// One captured picture: 32-bit BGRA pixels, rows `stride` bytes apart.
struct VideoFrame {
    std::vector<std::uint8_t> pixels;
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
