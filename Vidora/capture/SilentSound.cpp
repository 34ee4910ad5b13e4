// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/SilentSound.h"

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

namespace vidora {

std::optional<AudioBuffer> SilentSound::create(std::int64_t startFrm, std::int64_t nFrames, double rate,
                                               std::uint32_t numChannels) {
    constexpr auto int32Max = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    if (numChannels == 0 ||
        numChannels > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) || nFrames < 0 ||
        !std::isfinite(rate) || rate < 1.0 || rate >= int32Max + 1.0) {
        return std::nullopt;
    }
    std::int64_t bytes = 0;
    if (__builtin_mul_overflow(nFrames, std::int64_t{2} * numChannels, &bytes)) {
        return std::nullopt;
    }
    const auto timeScale = static_cast<std::int32_t>(rate);
    // startFrm / timeScale seconds in nanoseconds, without overflowing on the way.
    const std::int64_t seconds = startFrm / timeScale;
    const std::int64_t rest = startFrm % timeScale * 1'000'000'000 / timeScale;
    std::int64_t nanoseconds = 0;
    if (__builtin_mul_overflow(seconds, std::int64_t{1'000'000'000}, &nanoseconds) ||
        __builtin_add_overflow(nanoseconds, rest, &nanoseconds)) {
        return std::nullopt;
    }
    AudioBuffer silence;
    try {
        silence.samples.assign(static_cast<std::size_t>(bytes / 2), 0);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    silence.sampleRate = timeScale;
    silence.channels = static_cast<int>(numChannels);
    silence.presentationTime = MediaTime(nanoseconds);
    return silence;
}

const std::optional<AudioBuffer>& SilentSound::buffer() {
    static const std::optional<AudioBuffer> shared = create(0, 2048, sampleRate, 1);
    return shared;
}

std::optional<AudioBuffer> muteAudio(const AudioBuffer& buffer) {
    if (!buffer.valid || buffer.channels <= 0 || buffer.sampleRate <= 0) {
        return std::nullopt;
    }
    AudioBuffer silent;
    silent.samples.assign(buffer.samples.size(), 0);
    silent.sampleRate = buffer.sampleRate;
    silent.channels = buffer.channels;
    silent.presentationTime = buffer.presentationTime;
    silent.valid = buffer.valid;
    return silent;
}

}  // namespace vidora
