// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The FFmpeg headers the writer uses, and every difference between FFmpeg versions it has to bridge.
// Tested with FFmpeg 5.1; builds with 4.4 and 6.x/7.x.

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace vidora::ffmpeg {

// FFmpeg 5.1 replaced the channel mask and count with AVChannelLayout.
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 24, 100)
inline void setChannels(AVCodecContext& context, int channels) {
    av_channel_layout_uninit(&context.ch_layout);
    av_channel_layout_default(&context.ch_layout, channels);
}
inline bool setChannels(AVFrame& frame, const AVCodecContext& context) {
    return av_channel_layout_copy(&frame.ch_layout, &context.ch_layout) == 0;
}
inline int channelCount(const AVCodecContext& context) {
    return context.ch_layout.nb_channels;
}
#else
inline void setChannels(AVCodecContext& context, int channels) {
    context.channels = channels;
    context.channel_layout = static_cast<std::uint64_t>(av_get_default_channel_layout(channels));
}
inline bool setChannels(AVFrame& frame, const AVCodecContext& context) {
    frame.channels = context.channels;
    frame.channel_layout = context.channel_layout;
    return true;
}
inline int channelCount(const AVCodecContext& context) {
    return context.channels;
}
#endif

}  // namespace vidora::ffmpeg
