// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "writer/FfmpegHandles.h"
#include "writer/MovieMuxer.h"

namespace vidora {

// One opened FFmpeg encoder that hands its packets to a stream of the movie. Opened by the thread that
// starts the movie; afterwards used by one encoding thread only.
class Encoder {
public:
    // Opens the encoder configured in `context`; nothing when it cannot be opened.
    static std::unique_ptr<Encoder> open(ffmpeg::CodecContextPtr context, AVDictionary** options);

    const AVCodecContext& context() const { return *context_; }
    // Packets go to `stream` of `muxer`, timestamps moved later by `shift`, and those without a duration
    // given `duration` (both in the encoder's time base).
    void attach(MovieMuxer& muxer, int stream, std::int64_t shift, std::int64_t duration);
    // Encodes one frame, or drains the encoder when `frame` is null; false when the encoder has failed,
    // before or now. Before attach() the packets are dropped: a trial encode.
    bool send(const AVFrame* frame);
    std::int64_t packetsMade() const { return packetsMade_; }
    // The encoder refused a frame or gave an error; it takes nothing more. Any thread.
    bool failed() const { return failed_; }
    // A frame could not reach the encoder (FFmpeg's `error`); it takes nothing more.
    void fail(int error);

private:
    Encoder(ffmpeg::CodecContextPtr context, ffmpeg::PacketPtr packet)
        : context_(std::move(context)), packet_(std::move(packet)) {}

    ffmpeg::CodecContextPtr context_;
    ffmpeg::PacketPtr packet_;
    MovieMuxer* muxer_ = nullptr;
    int stream_ = -1;
    std::int64_t shift_ = 0;
    std::int64_t duration_ = 0;
    std::int64_t packetsMade_ = 0;
    std::atomic<bool> failed_{false};
};

}  // namespace vidora
