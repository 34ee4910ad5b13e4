#include "writer/VideoEncoder.h"

#include <libyuv/convert_from_argb.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace vidora {

std::unique_ptr<VideoEncoder> VideoEncoder::create(const VideoSettings& settings) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx265");
    if (codec == nullptr) {
        return nullptr;
    }
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        return nullptr;
    }
    const int frameRate = settings.expectedFrameRate > 0 ? settings.expectedFrameRate : 30;
    // 4:2:0 needs even sizes: an odd last row or column is scaled away.
    context->width = settings.width & ~1;
    context->height = settings.height & ~1;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, frameRate};
    context->framerate = AVRational{frameRate, 1};
    context->bit_rate = settings.averageBitRate;
    // A key frame every 2 seconds, and with it a fragment of the file.
    context->gop_size = 2 * frameRate;
    context->max_b_frames = 0;
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    context->color_range = AVCOL_RANGE_MPEG;
    // BT.601 matrix: the one libyuv's SIMD converter uses; screen content keeps BT.709 primaries.
    context->colorspace = AVCOL_SPC_SMPTE170M;
    context->color_primaries = AVCOL_PRI_BT709;
    context->color_trc = AVCOL_TRC_BT709;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "ultrafast", 0);
    av_dict_set(&options, "tune", "zerolatency", 0);
    av_dict_set(&options, "x265-params", "log-level=error", 0);
    auto encoder = Encoder::open(std::move(context), &options);
    av_dict_free(&options);
    ffmpeg::FramePtr picture(av_frame_alloc());
    if (!encoder || !picture) {
        return nullptr;
    }
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = encoder->context().width;
    picture->height = encoder->context().height;
    if (av_frame_get_buffer(picture.get(), 0) < 0) {
        return nullptr;
    }
    return std::unique_ptr<VideoEncoder>(new VideoEncoder(std::move(encoder), std::move(picture), frameRate));
}

bool VideoEncoder::prepareScaler(const VideoFrame& frame) {
    if (scaler_ && frame.width == scalerWidth_ && frame.height == scalerHeight_) {
        return true;
    }
    // Area with chroma read at full width: at the same size luma is exact and chroma the mean of each
    // 2 x 2 block, and both go through swscale's SIMD input readers. Fast bilinear blends neighbouring
    // pixels even at 1:1 and reads chroma through a C loop, at twice the cost.
    scaler_.reset(sws_getContext(frame.width, frame.height, AV_PIX_FMT_BGRA, picture_->width,
                                 picture_->height, AV_PIX_FMT_YUV420P, SWS_AREA | SWS_FULL_CHR_H_INP, nullptr,
                                 nullptr, nullptr));
    if (!scaler_) {
        return false;
    }
    // Full-range RGB in, limited-range BT.601 out, as the stream is tagged.
    sws_setColorspaceDetails(scaler_.get(), sws_getCoefficients(SWS_CS_DEFAULT), 1,
                             sws_getCoefficients(SWS_CS_ITU601), 0, 0, 1 << 16, 1 << 16);
    scalerWidth_ = frame.width;
    scalerHeight_ = frame.height;
    return true;
}

void VideoEncoder::encode(const VideoFrame& frame) {
    const double exactSlot = static_cast<double>(frame.presentationTime.count()) * frameRate_ / 1e9;
    // The first frame opens the track at 0 (a fragmented file cannot start a track later), shown until
    // the next.
    const std::int64_t slot =
        lastSlot_ < 0 ? 0 : std::max<std::int64_t>(std::llround(exactSlot), lastSlot_ + 1);
    if (slot < 0 || static_cast<double>(slot) - exactSlot > 1.0) {
        return;
    }
    const auto rowBytes = static_cast<std::size_t>(frame.width) * 4;
    if (frame.width <= 0 || frame.height <= 0 || frame.stride < static_cast<int>(rowBytes) ||
        frame.pixels.size() < static_cast<std::size_t>(frame.stride) * (frame.height - 1) + rowBytes) {
        return;
    }
    if (av_frame_make_writable(picture_.get()) < 0) {
        return;
    }
    if (frame.width == picture_->width && frame.height == picture_->height) {
        // Same size: libyuv's converter, about three times faster than swscale's generic path.
        libyuv::ARGBToI420(frame.pixels.data(), frame.stride, picture_->data[0], picture_->linesize[0],
                           picture_->data[1], picture_->linesize[1], picture_->data[2], picture_->linesize[2],
                           frame.width, frame.height);
    } else {
        if (!prepareScaler(frame)) {
            return;
        }
        const std::uint8_t* const source[] = {frame.pixels.data()};
        const int sourceStride[] = {frame.stride};
        sws_scale(scaler_.get(), source, sourceStride, 0, frame.height, picture_->data, picture_->linesize);
    }
    picture_->pts = slot;
    encoder_->send(picture_.get());
    lastSlot_ = slot;
}

}  // namespace vidora
