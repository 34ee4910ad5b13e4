// SPDX-License-Identifier: GPL-3.0-or-later
#include "writer/Encoder.h"

#include <iostream>
#include <utility>

namespace vidora {

std::unique_ptr<Encoder> Encoder::open(ffmpeg::CodecContextPtr context, AVDictionary** options) {
    ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!context || !packet || avcodec_open2(context.get(), context->codec, options) < 0) {
        return nullptr;
    }
    return std::unique_ptr<Encoder>(new Encoder(std::move(context), std::move(packet)));
}

void Encoder::attach(MovieMuxer& muxer, int stream, std::int64_t shift, std::int64_t duration) {
    muxer_ = &muxer;
    stream_ = stream;
    shift_ = shift;
    duration_ = duration;
}

bool Encoder::send(const AVFrame* frame) {
    if (failed_) {
        return false;
    }
    if (const int result = avcodec_send_frame(context_.get(), frame); result < 0) {
        fail(result);
        return false;
    }
    int result = 0;
    while ((result = avcodec_receive_packet(context_.get(), packet_.get())) >= 0) {
        ++packetsMade_;
        if (packet_->pts != AV_NOPTS_VALUE) {
            packet_->pts += shift_;
        }
        if (packet_->dts != AV_NOPTS_VALUE) {
            packet_->dts += shift_;
        }
        if (packet_->duration == 0) {
            packet_->duration = duration_;
        }
        if (muxer_ != nullptr) {
            muxer_->write(stream_, *packet_, context_->time_base);
        }
        av_packet_unref(packet_.get());
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
        fail(result);
        return false;
    }
    return true;
}

void Encoder::fail(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_make_error_string(text, sizeof text, error);
    std::clog << "The " << context_->codec->name << " encoder failed: " << text << std::endl;
    failed_ = true;
}

}  // namespace vidora
