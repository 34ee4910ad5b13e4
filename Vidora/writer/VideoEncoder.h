// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "capture/Samples.h"
#include "writer/Encoder.h"
#include "writer/MovieSink.h"
#include "writer/VideoEncoderChoice.h"

namespace vidora {

// BGRA frames to HEVC at a fixed frame rate, on the first encoder that works: NVENC or VA-API on the
// graphics card, else libx265. Frames are scaled to the movie's size where they differ from it and
// converted to YUV 4:2:0 (BT.601, limited range) with libyuv: planar for libx265, NV12 for the cards,
// uploaded to a surface for VA-API. Made and used by the video encoding thread only (libx265's threads
// take its scheduling priority).
class VideoEncoder {
public:
    // Opens the encoder of `kind` with the movie's settings; nothing where the machine lacks it.
    using Opener = std::function<std::unique_ptr<Encoder>(VideoEncoderKind kind, const VideoSettings&)>;

    // The first encoder of TAVRIN_ENCODER's order that opens with the stream header the movie's header
    // needs and, on a graphics card, encodes a trial frame; nothing when none does.
    static std::unique_ptr<VideoEncoder> create(const VideoSettings& settings);
    static std::unique_ptr<VideoEncoder> create(const VideoSettings& settings,
                                                const std::vector<VideoEncoderKind>& order,
                                                const Opener& open);
    static std::unique_ptr<Encoder> open(VideoEncoderKind kind, const VideoSettings& settings);

    Encoder& encoder() { return *encoder_; }
    VideoEncoderKind kind() const { return kind_; }
    // `frame.presentationTime` counts from the movie's start. The first frame takes slot 0, each later one
    // the frame slot nearest its time, or the next free one; a frame that would land more than a slot
    // late is dropped.
    void encode(const VideoFrame& frame);
    void flush() { encoder_->send(nullptr); }
    // Frames the encoder has taken so far.
    std::int64_t framesEncoded() const { return framesEncoded_; }

private:
    VideoEncoder(std::unique_ptr<Encoder> encoder, VideoEncoderKind kind, ffmpeg::FramePtr picture,
                 ffmpeg::FramePtr surface, int frameRate)
        : encoder_(std::move(encoder)),
          kind_(kind),
          picture_(std::move(picture)),
          surface_(std::move(surface)),
          frameRate_(frameRate) {}
    // The encoder's pictures for `encoder`; nothing without it or its stream header.
    static std::unique_ptr<VideoEncoder> make(std::unique_ptr<Encoder> encoder, VideoEncoderKind kind,
                                              const VideoSettings& settings);
    bool encodesATrialFrame();
    bool convert(const VideoFrame& frame);
    bool send(std::int64_t slot);

    std::unique_ptr<Encoder> encoder_;
    VideoEncoderKind kind_;
    ffmpeg::FramePtr picture_;          // the converted frame, in memory
    ffmpeg::FramePtr surface_;          // VA-API: the picture uploaded to the card
    std::vector<std::uint8_t> scaled_;  // a frame scaled to the movie's size, before its conversion
    int frameRate_;
    std::int64_t lastSlot_ = -1;
    std::int64_t framesEncoded_ = 0;
};

}  // namespace vidora
