// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>

#include "capture/Samples.h"

namespace vidora {

// Silent 16-bit PCM buffers made from nothing. Any thread.
struct SilentSound {
    static constexpr double sampleRate = 48000.0;

    // `nFrames` frames of zeros starting at `startFrm` / `rate` seconds. Nothing for arguments no
    // buffer can carry: no channel or 2^31 or more, a negative or oversized frame count, a sample rate
    // that is not finite or does not fit a positive 32-bit integer (the rate is that integer).
    static std::optional<AudioBuffer> create(std::int64_t startFrm, std::int64_t nFrames, double rate,
                                             std::uint32_t numChannels);

    // 2048 mono frames at 48 kHz at time 0, made once on first use and shared; nothing if it cannot be made.
    static const std::optional<AudioBuffer>& buffer();
};

// A silent copy of `buffer`: the same timing, rate, channels and sample count, every sample zero; a buffer
// without samples is copied unchanged. Nothing for a broken buffer or one without a format.
std::optional<AudioBuffer> muteAudio(const AudioBuffer& buffer);

}  // namespace vidora
