// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

#include "writer/MovieSink.h"

namespace vidora::testing {

using namespace std::chrono_literals;

inline constexpr MediaTime firstFrame = 1000s;  // the first frame's capture time

// The capture from `from` to `to` after the first frame, in time order: a bar moving across the picture at
// 30 fps, a 440 Hz tone as system audio and an 880 Hz one 5 ms behind it from the microphone, in 10 ms
// buffers. A `busy` picture changes all over every frame, as a fight does, so that the movie takes its
// whole bit rate. It waits for room in the writer, which a live source never does, and goes faster than one.
inline void capture(MovieSink& sink, MediaTime from, MediaTime to, int width, int height, bool busy = false) {
    const auto append = [&](Track track, auto write) {
        while (!sink.isReadyForMoreMediaData(track)) {
            std::this_thread::sleep_for(1ms);
        }
        write();
    };
    const auto tone = [](double frequency, MediaTime time) {
        AudioBuffer buffer{
            .samples = {}, .sampleRate = 48000, .channels = 1, .presentationTime = firstFrame + time};
        for (std::int64_t index = time.count() * 48 / 1'000'000, end = index + 480; index < end; ++index) {
            buffer.samples.push_back(static_cast<std::int16_t>(
                8000 * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(index) / 48000)));
        }
        return buffer;
    };
    for (MediaTime time = from; time < to; time += 10ms) {
        // The frames due within these 10 ms (the n-th at n / 30 s), a stride wider than the picture.
        for (auto n = (time.count() * 30 + 999'999'999) / 1'000'000'000;
             n * 1'000'000'000 / 30 < (time + 10ms).count(); ++n) {
            VideoFrame frame{PixelBytes((width * 4 + 64) * height, 40),      width, height, width * 4 + 64,
                             firstFrame + MediaTime(n * 1'000'000'000 / 30), true};
            for (int row = 0; row < height; ++row) {
                auto* line = &frame.pixels[row * frame.stride];
                if (busy) {
                    for (int x = 0; x < width * 4; ++x) {
                        line[x] =
                            static_cast<std::uint8_t>((x * 7 + row * 13 + n * 11) ^ ((x * row + n) >> 3));
                    }
                }
                std::fill_n(line + n * 64 % (width * 3), 256, 220);
            }
            append(Track::video, [&] { sink.append(std::move(frame)); });
        }
        append(Track::systemAudio, [&] { sink.append(Track::systemAudio, tone(440, time)); });
        append(Track::microphone, [&] { sink.append(Track::microphone, tone(880, time - 5ms)); });
    }
}

}  // namespace vidora::testing
