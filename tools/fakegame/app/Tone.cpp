// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Tone.h"

#include <pulse/context.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace fakegame {
namespace {

constexpr std::uint32_t rate = 48000;
constexpr std::uint8_t channels = 2;
constexpr const char* productName = "World of Warcraft";
// A quarter of full scale: clearly a tone, never clipping.
constexpr double amplitude = 8192.0;

}  // namespace

Tone::Tone(double frequency, bool beeps) : frequency_(frequency), beeps_(beeps) {
    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_ == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(mainloop_);
    context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), productName);
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, &Tone::onContextState, this);
        pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    }
    pa_threaded_mainloop_unlock(mainloop_);
    pa_threaded_mainloop_start(mainloop_);
}

Tone::~Tone() {
    if (mainloop_ == nullptr) {
        return;
    }
    pa_threaded_mainloop_stop(mainloop_);
    if (stream_ != nullptr) {
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    if (context_ != nullptr) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_free(mainloop_);
}

void Tone::togglePause() {
    if (mainloop_ == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(mainloop_);
    paused_ = !paused_;
    if (stream_ != nullptr) {
        pa_operation* operation = pa_stream_cork(stream_, paused_ ? 1 : 0, nullptr, nullptr);
        if (operation != nullptr) {
            pa_operation_unref(operation);
        }
    }
    pa_threaded_mainloop_unlock(mainloop_);
}

void Tone::onContextState(pa_context* context, void* data) {
    auto& tone = *static_cast<Tone*>(data);
    if (pa_context_get_state(context) != PA_CONTEXT_READY || tone.stream_ != nullptr) {
        return;
    }
    const pa_sample_spec format{PA_SAMPLE_S16LE, rate, channels};
    tone.stream_ = pa_stream_new(context, productName, &format, nullptr);
    if (tone.stream_ == nullptr) {
        return;
    }
    pa_stream_set_write_callback(tone.stream_, &Tone::onWritable, data);
    // A short server buffer, so that a pause is heard at once and the latency is known closely.
    const auto bytes = static_cast<std::uint32_t>(pa_usec_to_bytes(100'000, &format));
    const pa_buffer_attr buffering{static_cast<std::uint32_t>(-1), bytes, static_cast<std::uint32_t>(-1),
                                   static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1)};
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_AUTO_TIMING_UPDATE |
                                                      (tone.paused_ ? PA_STREAM_START_CORKED : 0));
    pa_stream_connect_playback(tone.stream_, nullptr, &buffering, flags, nullptr, nullptr);
}

void Tone::onWritable(pa_stream*, std::size_t bytes, void* data) {
    static_cast<Tone*>(data)->write(bytes);
}

void Tone::write(std::size_t bytes) {
    const std::size_t frames = bytes / (channels * sizeof(std::int16_t));
    std::vector<std::int16_t> chunk(frames * channels);
    // When the first of these frames will be heard, on the system clock, from the server's last timing
    // report: the sound written before them is played from then on, after the sink's latency. (libpulse's
    // interpolated latency goes through a smoother that takes seconds to settle on a new stream.)
    double heard = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    if (const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
        timing != nullptr && timing->write_index_corrupt == 0 && timing->read_index_corrupt == 0) {
        const pa_sample_spec* format = pa_stream_get_sample_spec(stream_);
        heard = static_cast<double>(timing->timestamp.tv_sec) +
                static_cast<double>(timing->timestamp.tv_usec) / 1e6 +
                static_cast<double>(timing->write_index - timing->read_index) /
                    static_cast<double>(pa_bytes_per_second(format)) +
                static_cast<double>(timing->sink_usec) / 1e6;
    }
    const double step = 2.0 * std::numbers::pi * frequency_ / rate;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        double sample = amplitude * std::sin(phase_);
        phase_ = std::fmod(phase_ + step, 2.0 * std::numbers::pi);
        if (beeps_) {
            const double at = heard + static_cast<double>(frame) / rate;
            const double second = std::floor(at);
            const double into = at - second;
            const double length = (std::fmod(second, 4.0) + 1.0) / 10.0;
            sample = into < length ? amplitude * std::sin(2.0 * std::numbers::pi * frequency_ * into) : 0.0;
        }
        chunk[frame * channels] = chunk[frame * channels + 1] =
            static_cast<std::int16_t>(std::lround(sample));
    }
    pa_stream_write(stream_, chunk.data(), chunk.size() * sizeof(std::int16_t), nullptr, 0, PA_SEEK_RELATIVE);
}

}  // namespace fakegame
