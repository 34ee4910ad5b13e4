#include "writer/Encoder.h"

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

void Encoder::send(const AVFrame* frame) {
    if (failed_ || muxer_ == nullptr) {
        return;
    }
    if (avcodec_send_frame(context_.get(), frame) < 0) {
        failed_ = true;
        return;
    }
    int result = 0;
    while ((result = avcodec_receive_packet(context_.get(), packet_.get())) >= 0) {
        if (packet_->pts != AV_NOPTS_VALUE) {
            packet_->pts += shift_;
        }
        if (packet_->dts != AV_NOPTS_VALUE) {
            packet_->dts += shift_;
        }
        if (packet_->duration == 0) {
            packet_->duration = duration_;
        }
        muxer_->write(stream_, *packet_, context_->time_base);
        av_packet_unref(packet_.get());
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
        failed_ = true;
    }
}

}  // namespace vidora
