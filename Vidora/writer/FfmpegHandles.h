// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "writer/FfmpegCompat.h"

// Owning handles for the FFmpeg objects the writer holds: each is freed once, by its own function.
namespace vidora::ffmpeg {

struct CodecContextFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct BufferUnref {
    void operator()(AVBufferRef* buffer) const { av_buffer_unref(&buffer); }
};
struct AudioFifoFree {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
// Closes the output (when open) before freeing the context.
struct FormatContextFree {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr && !(context->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&context->pb);
        }
        avformat_free_context(context);
    }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using BufferPtr = std::unique_ptr<AVBufferRef, BufferUnref>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFree>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextFree>;

}  // namespace vidora::ffmpeg
