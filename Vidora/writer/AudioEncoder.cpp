// SPDX-License-Identifier: GPL-3.0-or-later
#include "writer/AudioEncoder.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace vidora {

std::unique_ptr<AudioEncoder> AudioEncoder::create(const AudioSettings& settings) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libopus");
    if (codec == nullptr || settings.channels <= 0 || settings.sampleRate <= 0) {
        return nullptr;
    }
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        return nullptr;
    }
    context->sample_fmt = AV_SAMPLE_FMT_S16;
    context->sample_rate = settings.sampleRate;
    ffmpeg::setChannels(*context, settings.channels);
    context->bit_rate = settings.bitRate;
    context->time_base = AVRational{1, settings.sampleRate};
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    auto encoder = Encoder::open(std::move(context), nullptr);
    if (!encoder || encoder->context().frame_size <= 0) {
        return nullptr;
    }
    const AVCodecContext& opened = encoder->context();
    ffmpeg::FramePtr frame(av_frame_alloc());
    ffmpeg::AudioFifoPtr fifo(
        av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, ffmpeg::channelCount(opened), 2 * opened.frame_size));
    if (!frame || !fifo || !ffmpeg::setChannels(*frame, opened)) {
        return nullptr;
    }
    frame->format = AV_SAMPLE_FMT_S16;
    frame->sample_rate = opened.sample_rate;
    frame->nb_samples = opened.frame_size;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return nullptr;
    }
    return std::unique_ptr<AudioEncoder>(
        new AudioEncoder(std::move(encoder), std::move(frame), std::move(fifo)));
}

AudioEncoder::AudioEncoder(std::unique_ptr<Encoder> encoder, ffmpeg::FramePtr frame,
                           ffmpeg::AudioFifoPtr fifo)
    : encoder_(std::move(encoder)),
      frame_(std::move(frame)),
      fifo_(std::move(fifo)),
      frameSize_(encoder_->context().frame_size),
      channels_(ffmpeg::channelCount(encoder_->context())) {}

void AudioEncoder::encode(const AudioBuffer& buffer) {
    const int rate = encoder_->context().sample_rate;
    const std::int64_t frames = buffer.frameCount();
    if (buffer.sampleRate != rate || frames <= 0) {
        return;
    }
    const std::int64_t position =
        std::llround(static_cast<double>(buffer.presentationTime.count()) * rate / 1e9);
    std::int64_t skipped = 0;
    if (position > written_ + tolerance) {
        writeSilence(position - written_);
    } else if (position < written_ - tolerance) {
        skipped = std::min(written_ - position, frames);
    }
    const std::int16_t* samples = buffer.samples.data() + skipped * buffer.channels;
    const std::int64_t kept = frames - skipped;
    if (buffer.channels != channels_) {
        // Every output channel gets the average of the input channels.
        mixed_.resize(static_cast<std::size_t>(kept * channels_));
        for (std::int64_t index = 0; index < kept; ++index) {
            std::int64_t sum = 0;
            for (int channel = 0; channel < buffer.channels; ++channel) {
                sum += samples[index * buffer.channels + channel];
            }
            std::fill_n(mixed_.begin() + index * channels_, channels_,
                        static_cast<std::int16_t>(sum / buffer.channels));
        }
        samples = mixed_.data();
    }
    write(samples, kept);
}

void AudioEncoder::write(const std::int16_t* samples, std::int64_t frames) {
    while (frames > 0) {
        const int chunk = static_cast<int>(std::min<std::int64_t>(frames, frameSize_));
        void* planes[] = {const_cast<std::int16_t*>(samples)};
        if (av_audio_fifo_write(fifo_.get(), planes, chunk) < chunk) {
            return;
        }
        written_ += chunk;
        frames -= chunk;
        samples += static_cast<std::ptrdiff_t>(chunk) * channels_;
        while (av_audio_fifo_size(fifo_.get()) >= frameSize_) {
            encodeFrame(frameSize_);
        }
    }
}

void AudioEncoder::writeSilence(std::int64_t frames) {
    const std::vector<std::int16_t> silence(static_cast<std::size_t>(frameSize_ * channels_), 0);
    while (frames > 0) {
        const auto chunk = std::min<std::int64_t>(frames, frameSize_);
        write(silence.data(), chunk);
        frames -= chunk;
    }
}

void AudioEncoder::encodeFrame(int frames) {
    if (av_frame_make_writable(frame_.get()) < 0) {
        return;
    }
    frame_->nb_samples = frames;
    if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->data), frames) < frames) {
        return;
    }
    frame_->pts = encoded_;
    encoded_ += frames;
    encoder_->send(frame_.get());
}

void AudioEncoder::flush() {
    const int left = av_audio_fifo_size(fifo_.get());
    if (left > 0) {
        if (encoder_->context().codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) {
            encodeFrame(left);
        } else {
            writeSilence(frameSize_ - left);
        }
    }
    encoder_->send(nullptr);
}

}  // namespace vidora
