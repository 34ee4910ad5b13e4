// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Tone.h"

#include <pulse/simple.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

namespace fakegame {
namespace {

struct FreeStream {
    void operator()(pa_simple* stream) const { pa_simple_free(stream); }
};

}  // namespace

void playTone(std::stop_token stop, double frequency) {
    constexpr std::uint32_t rate = 48000;
    constexpr std::uint8_t channels = 2;
    constexpr std::size_t framesPerChunk = rate / 50;
    const pa_sample_spec format = {PA_SAMPLE_S16LE, rate, channels};
    // A short server buffer, so that a stop is heard at once and the writes pace this loop.
    constexpr auto latencyBytes = static_cast<std::uint32_t>(rate / 10 * channels * sizeof(std::int16_t));
    const pa_buffer_attr buffering = {static_cast<std::uint32_t>(-1), latencyBytes,
                                      static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1),
                                      static_cast<std::uint32_t>(-1)};
    int error = 0;
    std::unique_ptr<pa_simple, FreeStream> stream(pa_simple_new(nullptr, "fakegame", PA_STREAM_PLAYBACK,
                                                                nullptr, "World of Warcraft", &format,
                                                                nullptr, &buffering, &error));
    if (!stream) {
        return;
    }
    std::vector<std::int16_t> chunk(framesPerChunk * channels);
    const double step = 2.0 * std::numbers::pi * frequency / rate;
    double phase = 0.0;
    while (!stop.stop_requested()) {
        for (std::size_t frame = 0; frame < framesPerChunk; ++frame) {
            // A quarter of full scale: clearly a tone, never clipping.
            const auto sample = static_cast<std::int16_t>(std::lround(8192.0 * std::sin(phase)));
            chunk[frame * channels] = sample;
            chunk[frame * channels + 1] = sample;
            phase = std::fmod(phase + step, 2.0 * std::numbers::pi);
        }
        if (pa_simple_write(stream.get(), chunk.data(), chunk.size() * sizeof(std::int16_t), &error) < 0) {
            return;
        }
    }
}

}  // namespace fakegame
