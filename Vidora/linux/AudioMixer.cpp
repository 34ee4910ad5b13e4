// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/AudioMixer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace vidora {
namespace {

constexpr std::int64_t nanosecondsPerSecond = 1'000'000'000;
constexpr std::int64_t secondsAhead = 10;
constexpr MediaTime joinWithin = std::chrono::milliseconds(1);
constexpr int stretchDivisor = 100;  // a chunk is laid at most a hundredth longer or shorter than it is

}  // namespace

AudioMixer::AudioMixer(int sampleRate, int channels, MediaTime start)
    : sampleRate_(std::max(sampleRate, 1)), channels_(std::max(channels, 1)), taken_(frameAt(start)) {}

// In whole seconds and the rest, so that days of uptime in nanoseconds times the rate cannot overflow.
std::int64_t AudioMixer::frameAt(MediaTime time, bool atOrAfter) const {
    const std::int64_t nanoseconds = time.count();
    const std::int64_t seconds = nanoseconds / nanosecondsPerSecond;
    const std::int64_t rest = nanoseconds % nanosecondsPerSecond;
    const std::int64_t rounding = atOrAfter ? nanosecondsPerSecond - 1 : nanosecondsPerSecond / 2;
    return seconds * sampleRate_ + (rest * sampleRate_ + rounding) / nanosecondsPerSecond;
}

MediaTime AudioMixer::timeOf(std::int64_t frame) const {
    return MediaTime(frame / sampleRate_ * nanosecondsPerSecond +
                     frame % sampleRate_ * nanosecondsPerSecond / sampleRate_);
}

void AudioMixer::add(std::uint32_t stream, MediaTime start, std::span<const std::int16_t> samples) {
    const std::int64_t frames = static_cast<std::int64_t>(samples.size()) / channels_;
    if (frames == 0) {
        return;
    }
    const MediaTime length = timeOf(frames);
    MediaTime from = start;
    MediaTime to = start + length;
    auto [laid, fresh] = streams_.try_emplace(stream);
    if (!fresh && std::chrono::abs(start - laid->second.end) <= joinWithin) {
        from = laid->second.end;
        const MediaTime most = length / stretchDivisor;
        to = std::clamp(to, from + length - most, from + length + most);
    } else {
        laid->second.last.assign(samples.begin(), samples.begin() + channels_);
    }
    // Sample i lies at from + (i + 1) * step, the stream's last one at from.
    const double step = static_cast<double>((to - from).count()) / static_cast<double>(frames);
    const std::int64_t first = std::max(frameAt(from, true), taken_);
    const std::int64_t end = std::min(frameAt(to, true), taken_ + secondsAhead * sampleRate_);
    if (first < end) {
        const auto needed = static_cast<std::size_t>((end - taken_) * channels_);
        if (pending_.size() < needed) {
            pending_.resize(needed, 0);
        }
    }
    const std::int16_t* before = laid->second.last.data();
    for (std::int64_t frame = first; frame < end; ++frame) {
        const double at = std::max(static_cast<double>((timeOf(frame) - from).count()) / step, 0.0);
        const std::int64_t index = std::min(static_cast<std::int64_t>(at), frames - 1);
        const double part = at - static_cast<double>(index);
        const std::int16_t* left = index == 0 ? before : &samples[(index - 1) * channels_];
        const std::int16_t* right = &samples[index * channels_];
        auto sum = pending_.begin() + (frame - taken_) * channels_;
        for (int channel = 0; channel < channels_; ++channel, ++sum) {
            *sum += static_cast<std::int32_t>(
                std::lround(left[channel] + (right[channel] - left[channel]) * part));
        }
    }
    laid->second.end = to;
    laid->second.last.assign(samples.end() - channels_, samples.end());
}

std::optional<AudioBuffer> AudioMixer::take(MediaTime end) {
    const std::int64_t last = frameAt(end);
    if (last <= taken_) {
        return std::nullopt;
    }
    // A take covers ten seconds at most: a longer pause (no server) is left to the writer, which fills it.
    if (const std::int64_t skipped = last - secondsAhead * sampleRate_ - taken_; skipped > 0) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                                                pending_.size(), skipped * channels_)));
        taken_ += skipped;
    }
    AudioBuffer mixed;
    mixed.sampleRate = sampleRate_;
    mixed.channels = channels_;
    mixed.presentationTime = timeOf(taken_);
    mixed.samples.resize(static_cast<std::size_t>((last - taken_) * channels_), 0);
    const auto available = std::min(pending_.size(), mixed.samples.size());
    std::transform(
        pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(available), mixed.samples.begin(),
        [](std::int32_t sum) {
            return static_cast<std::int16_t>(std::clamp<std::int32_t>(
                sum, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
        });
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(available));
    taken_ = last;
    return mixed;
}

}  // namespace vidora
