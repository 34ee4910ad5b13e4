#pragma once

#include <cstdint>
#include <memory>

#include "capture/Samples.h"
#include "writer/Encoder.h"
#include "writer/MovieSink.h"

namespace vidora {

// BGRA frames to HEVC (libx265) at a fixed frame rate: converted to YUV 4:2:0 (BT.601, limited range)
// with libyuv, or with libswscale when a frame's size differs from the movie's and must be scaled. Made by
// the thread that starts the movie; encode() and flush() then run on the video encoding thread only.
class VideoEncoder {
public:
    // Nothing when libx265 is missing or refuses the settings.
    static std::unique_ptr<VideoEncoder> create(const VideoSettings& settings);

    Encoder& encoder() { return *encoder_; }
    // `frame.presentationTime` counts from the movie's start. The first frame takes slot 0, each later one
    // the frame slot nearest its time, or the next free one; a frame that would land more than a slot
    // late is dropped.
    void encode(const VideoFrame& frame);
    void flush() { encoder_->send(nullptr); }

private:
    VideoEncoder(std::unique_ptr<Encoder> encoder, ffmpeg::FramePtr picture, int frameRate)
        : encoder_(std::move(encoder)), picture_(std::move(picture)), frameRate_(frameRate) {}
    bool prepareScaler(const VideoFrame& frame);

    std::unique_ptr<Encoder> encoder_;
    ffmpeg::FramePtr picture_;
    ffmpeg::ScaleContextPtr scaler_;
    int scalerWidth_ = 0;
    int scalerHeight_ = 0;
    int frameRate_;
    std::int64_t lastSlot_ = -1;
};

}  // namespace vidora
