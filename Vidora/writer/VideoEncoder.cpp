// SPDX-License-Identifier: GPL-3.0-or-later
#include "writer/VideoEncoder.h"

#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <utility>

namespace vidora {
namespace {

// The movie's settings, the same on every encoder.
ffmpeg::CodecContextPtr movieContext(VideoEncoderKind kind, const VideoSettings& settings) {
    const AVCodec* codec = avcodec_find_encoder_by_name(std::string(encoderName(kind)).c_str());
    if (codec == nullptr) {
        return nullptr;
    }
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        return nullptr;
    }
    const int frameRate = movieFrameRate(settings);
    // 4:2:0 needs even sizes: an odd last row or column is scaled away.
    context->width = settings.width & ~1;
    context->height = settings.height & ~1;
    context->pix_fmt = kind == VideoEncoderKind::x265 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_NV12;
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
    return context;
}

std::unique_ptr<Encoder> openWithOptions(ffmpeg::CodecContextPtr context,
                                         std::initializer_list<std::pair<const char*, const char*>> values) {
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : values) {
        av_dict_set(&options, key, value, 0);
    }
    auto encoder = Encoder::open(std::move(context), &options);
    av_dict_free(&options);
    return encoder;
}

// VA-API on the first render node whose driver encodes HEVC at this size; NV12 surfaces in its memory.
std::unique_ptr<Encoder> openVaapi(const VideoSettings& settings) {
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", error)) {
        if (entry.path().filename().string().starts_with("renderD")) {
            nodes.push_back(entry.path().string());
        }
    }
    std::sort(nodes.begin(), nodes.end());
    for (const auto& node : nodes) {
        AVBufferRef* device = nullptr;
        if (av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, node.c_str(), nullptr, 0) < 0) {
            continue;
        }
        const ffmpeg::BufferPtr deviceHandle(device);
        ffmpeg::BufferPtr frames(av_hwframe_ctx_alloc(device));
        auto context = movieContext(VideoEncoderKind::vaapi, settings);
        if (!frames || !context) {
            continue;
        }
        auto& surfaces = *reinterpret_cast<AVHWFramesContext*>(frames->data);
        surfaces.format = AV_PIX_FMT_VAAPI;
        surfaces.sw_format = AV_PIX_FMT_NV12;
        surfaces.width = context->width;
        surfaces.height = context->height;
        surfaces.initial_pool_size = 8;
        if (av_hwframe_ctx_init(frames.get()) < 0) {
            continue;
        }
        context->pix_fmt = AV_PIX_FMT_VAAPI;
        context->hw_frames_ctx = av_buffer_ref(frames.get());
        if (auto encoder = openWithOptions(std::move(context), {})) {
            std::clog << "VA-API device " << node << std::endl;
            return encoder;
        }
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<Encoder> VideoEncoder::open(VideoEncoderKind kind, const VideoSettings& settings) {
    switch (kind) {
        case VideoEncoderKind::nvenc:
            // Only NVIDIA's own driver encodes; without its device FFmpeg would just complain of libcuda.
            if (!std::filesystem::exists("/dev/nvidiactl")) {
                return nullptr;
            }
            // The card's default quality preset; the card, not the processor, pays for it.
            return openWithOptions(movieContext(kind, settings), {{"rc", "vbr"}});
        case VideoEncoderKind::vaapi:
            return openVaapi(settings);
        case VideoEncoderKind::x265:
            break;
    }
    // Zero latency keeps no look-ahead, so stop() has only the frames in flight left to encode. Two frames
    // in flight, each on one thread from top to bottom (no wavefront): both cores work with less waiting
    // between rows, and the next frame's colour conversion overlaps them. The lightest mode decision
    // (rd 1) takes about a tenth less time per frame for less than 0.005 SSIM at the movie's bit rate.
    return openWithOptions(movieContext(kind, settings),
                           {{"preset", "ultrafast"},
                            {"tune", "zerolatency"},
                            {"x265-params", "log-level=error:frame-threads=2:wpp=0:rd=1"}});
}

std::unique_ptr<VideoEncoder> VideoEncoder::create(const VideoSettings& settings) {
    return create(settings, videoEncoderOrder(std::getenv("TAVRIN_ENCODER")), &VideoEncoder::open);
}

std::unique_ptr<VideoEncoder> VideoEncoder::create(const VideoSettings& settings,
                                                   const std::vector<VideoEncoderKind>& order,
                                                   const Opener& open) {
    for (const VideoEncoderKind kind : order) {
        auto video = make(open(kind, settings), kind, settings);
        // A card's encoder may open and then fail on the first frame, which would end the recording.
        // The movie gets a fresh one, so that the trial frame stays out of it.
        if (video && kind != VideoEncoderKind::x265) {
            if (!video->encodesATrialFrame()) {
                std::clog << encoderName(kind) << " could not encode a frame" << std::endl;
                continue;
            }
            video = make(open(kind, settings), kind, settings);
        }
        if (video) {
            std::clog << "Encoding video with " << encoderName(kind) << std::endl;
            return video;
        }
    }
    std::clog << "No video encoder could be opened" << std::endl;
    return nullptr;
}

std::unique_ptr<VideoEncoder> VideoEncoder::make(std::unique_ptr<Encoder> encoder, VideoEncoderKind kind,
                                                 const VideoSettings& settings) {
    if (!encoder) {
        return nullptr;
    }
    const AVCodecContext& context = encoder->context();
    // The fragmented header is written before the first frame: without the stream header there, the
    // movie plays nowhere.
    if (context.extradata_size <= 0) {
        std::clog << encoderName(kind) << " gave no stream header" << std::endl;
        return nullptr;
    }
    ffmpeg::FramePtr picture(av_frame_alloc());
    ffmpeg::FramePtr surface;
    if (context.hw_frames_ctx != nullptr) {
        surface.reset(av_frame_alloc());
    }
    if (!picture || (context.hw_frames_ctx != nullptr && !surface)) {
        return nullptr;
    }
    picture->format = context.hw_frames_ctx != nullptr
                          ? reinterpret_cast<const AVHWFramesContext*>(context.hw_frames_ctx->data)->sw_format
                          : context.pix_fmt;
    picture->width = context.width;
    picture->height = context.height;
    if (av_frame_get_buffer(picture.get(), 0) < 0) {
        return nullptr;
    }
    return std::unique_ptr<VideoEncoder>(new VideoEncoder(std::move(encoder), kind, std::move(picture),
                                                          std::move(surface), movieFrameRate(settings)));
}

// A black frame, encoded and drained on its own: its packets go nowhere.
bool VideoEncoder::encodesATrialFrame() {
    std::ptrdiff_t linesizes[4] = {};
    std::copy_n(picture_->linesize, 4, linesizes);
    av_image_fill_black(picture_->data, linesizes, static_cast<AVPixelFormat>(picture_->format),
                        AVCOL_RANGE_MPEG, picture_->width, picture_->height);
    return send(0) && encoder_->send(nullptr) && encoder_->packetsMade() > 0;
}

bool VideoEncoder::convert(const VideoFrame& frame) {
    if (av_frame_make_writable(picture_.get()) < 0) {
        return false;
    }
    const int width = picture_->width;
    const int height = picture_->height;
    const std::uint8_t* pixels = frame.pixels.data();
    int stride = frame.stride;
    if (frame.width != width || frame.height != height) {
        // Each pixel the mean of the area it covers, scaled in BGRA and then converted at the smaller size:
        // about two thirds of the time swscale takes to do both at once.
        scaled_.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
        if (libyuv::ARGBScale(pixels, stride, frame.width, frame.height, scaled_.data(), width * 4, width,
                              height, libyuv::kFilterBox) != 0) {
            return false;
        }
        pixels = scaled_.data();
        stride = width * 4;
    }
    if (picture_->format == AV_PIX_FMT_NV12) {
        libyuv::ARGBToNV12(pixels, stride, picture_->data[0], picture_->linesize[0], picture_->data[1],
                           picture_->linesize[1], width, height);
    } else {
        libyuv::ARGBToI420(pixels, stride, picture_->data[0], picture_->linesize[0], picture_->data[1],
                           picture_->linesize[1], picture_->data[2], picture_->linesize[2], width, height);
    }
    return true;
}

void VideoEncoder::encode(const VideoFrame& frame) {
    if (encoder_->failed()) {
        return;
    }
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
    if (!convert(frame) || !send(slot)) {
        return;
    }
    lastSlot_ = slot;
    ++framesEncoded_;
}

bool VideoEncoder::send(std::int64_t slot) {
    AVFrame* sent = picture_.get();
    if (surface_) {
        av_frame_unref(surface_.get());
        int result = av_hwframe_get_buffer(encoder_->context().hw_frames_ctx, surface_.get(), 0);
        if (result >= 0) {
            result = av_hwframe_transfer_data(surface_.get(), picture_.get(), 0);
        }
        if (result < 0) {
            encoder_->fail(result);
            return false;
        }
        sent = surface_.get();
    }
    sent->pts = slot;
    return encoder_->send(sent);
}

}  // namespace vidora
