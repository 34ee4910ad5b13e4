// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "capture/Samples.h"
#include "writer/Encoder.h"
#include "writer/MovieSink.h"

namespace vidora {

// 16-bit PCM to Opus (libopus), cut into the encoder's frames (960 samples at 48 kHz) with an audio FIFO.
// Buffers are placed on the track's sample clock: a buffer within `tolerance` of where the track has got
// to continues it seamlessly; a later one leaves a gap filled with silence; an earlier one loses the
// samples that overlap. Made by the thread that starts the movie; encode() and flush() then run on
// that track's encoding thread only.
class AudioEncoder {
public:
    // Nothing when libopus is missing or refuses the settings.
    static std::unique_ptr<AudioEncoder> create(const AudioSettings& settings);

    Encoder& encoder() { return *encoder_; }
    // The encoder delays its output by a few samples; packets are moved back by as much so that none
    // lands before the movie's start.
    std::int64_t delay() const { return encoder_->context().initial_padding; }
    // `buffer.presentationTime` counts from the movie's start; buffers of another sample rate are dropped,
    // other channel counts mixed.
    void encode(const AudioBuffer& buffer);
    // Encodes the last, shorter frame and drains the encoder.
    void flush();

    // 150 ms at 48 kHz: above the drift a source's own timeline corrects by itself (it starts over
    // after 100 ms), so only a real discontinuity becomes silence or a cut.
    static constexpr std::int64_t tolerance = 7200;

private:
    AudioEncoder(std::unique_ptr<Encoder> encoder, ffmpeg::FramePtr frame, ffmpeg::AudioFifoPtr fifo);
    void write(const std::int16_t* samples, std::int64_t frames);
    void writeSilence(std::int64_t frames);
    void encodeFrame(int frames);

    std::unique_ptr<Encoder> encoder_;
    ffmpeg::FramePtr frame_;
    ffmpeg::AudioFifoPtr fifo_;
    int frameSize_;
    int channels_;
    std::int64_t written_ = 0;  // samples per channel put into the FIFO: where the track has got to
    std::int64_t encoded_ = 0;  // samples per channel taken out of it
    std::vector<std::int16_t> mixed_;
};

}  // namespace vidora
