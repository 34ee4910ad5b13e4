// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/AudioMixer.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace vidora {
namespace {

constexpr std::int64_t nanosecondsPerSecond = 1'000'000'000;
constexpr std::int64_t secondsAhead = 10;

}  // namespace

AudioMixer::AudioMixer(int sampleRate, int channels, MediaTime start)
    : sampleRate_(std::max(sampleRate, 1)), channels_(std::max(channels, 1)), taken_(frameAt(start)) {}

// In whole seconds and the rest, so that days of uptime in nanoseconds times the rate cannot overflow.
std::int64_t AudioMixer::frameAt(MediaTime time) const {
    const std::int64_t nanoseconds = time.count();
    const std::int64_t seconds = nanoseconds / nanosecondsPerSecond;
    const std::int64_t rest = nanoseconds % nanosecondsPerSecond;
    return seconds * sampleRate_ + (rest * sampleRate_ + nanosecondsPerSecond / 2) / nanosecondsPerSecond;
}

MediaTime AudioMixer::timeOf(std::int64_t frame) const {
    return MediaTime(frame / sampleRate_ * nanosecondsPerSecond +
                     frame % sampleRate_ * nanosecondsPerSecond / sampleRate_);
}

void AudioMixer::add(std::uint32_t stream, MediaTime start, std::span<const std::int16_t> samples) {
    const std::int64_t frames = static_cast<std::int64_t>(samples.size()) / channels_;
    std::int64_t first = frameAt(start);
    const auto end = ends_.find(stream);
    if (end != ends_.end() && std::abs(first - end->second) <= sampleRate_ / 1000) {
        first = end->second;
    }
    ends_[stream] = first + frames;
    const std::int64_t from = std::max<std::int64_t>(first, taken_);
    const std::int64_t to = std::min(first + frames, taken_ + secondsAhead * sampleRate_);
    if (from >= to) {
        return;
    }
    const auto needed = static_cast<std::size_t>((to - taken_) * channels_);
    if (pending_.size() < needed) {
        pending_.resize(needed, 0);
    }
    auto sum = pending_.begin() + (from - taken_) * channels_;
    for (auto sample = samples.begin() + (from - first) * channels_;
         sample != samples.begin() + (to - first) * channels_; ++sample, ++sum) {
        *sum += *sample;
    }
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
