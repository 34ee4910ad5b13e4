// SPDX-License-Identifier: GPL-3.0-or-later
#include "writer/MovieMuxer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <utility>

namespace vidora {

std::unique_ptr<MovieMuxer> MovieMuxer::create(const std::string& path) {
    // O_EXCL: a movie never replaces a file, not even one created a moment ago by someone else.
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        return nullptr;
    }
    AVFormatContext* raw = nullptr;
    avformat_alloc_output_context2(&raw, nullptr, "mp4", path.c_str());
    ffmpeg::FormatContextPtr format(raw);
    // The pipe protocol writes to our descriptor and leaves closing it to us.
    const std::string url = "pipe:" + std::to_string(descriptor);
    if (!format || avio_open2(&format->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0) {
        ::close(descriptor);
        ::unlink(path.c_str());
        return nullptr;
    }
    return std::unique_ptr<MovieMuxer>(new MovieMuxer(path, descriptor, std::move(format)));
}

MovieMuxer::MovieMuxer(std::string path, int descriptor, ffmpeg::FormatContextPtr format)
    : path_(std::move(path)), descriptor_(descriptor), format_(std::move(format)) {}

MovieMuxer::~MovieMuxer() {
    close();
}

int MovieMuxer::addStream(const AVCodecContext& encoder, unsigned codecTag) {
    AVStream* stream = avformat_new_stream(format_.get(), nullptr);
    if (stream == nullptr || avcodec_parameters_from_context(stream->codecpar, &encoder) < 0) {
        return -1;
    }
    stream->time_base = encoder.time_base;
    stream->codecpar->codec_tag = codecTag;
    return stream->index;
}

bool MovieMuxer::writeHeader() {
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    // Timestamps are never negative and every track keeps its own start: no shift, no edit list.
    av_dict_set(&options, "use_editlist", "0", 0);
    format_->avoid_negative_ts = AVFMT_AVOID_NEG_TS_MAKE_NON_NEGATIVE;
    const int result = avformat_write_header(format_.get(), &options);
    av_dict_free(&options);
    return result >= 0;
}

void MovieMuxer::write(int stream, AVPacket& packet, AVRational timeBase) {
    std::lock_guard lock(mutex_);
    if (!format_) {
        return;
    }
    packet.stream_index = stream;
    av_packet_rescale_ts(&packet, timeBase, format_->streams[stream]->time_base);
    const int result = av_write_frame(format_.get(), &packet);
    note(result >= 0 ? format_->pb->error : result);
}

// Each step of the end can fail as a packet's write can: the trailer writes the last fragment, the flush
// and the close hand over what FFmpeg and the C library still hold, and some file systems (NFS, quotas)
// report a full disk only when the file is closed.
bool MovieMuxer::finish() {
    std::lock_guard lock(mutex_);
    if (!format_) {
        return false;
    }
    note(av_write_trailer(format_.get()));
    avio_flush(format_->pb);
    note(format_->pb->error);
    note(avio_closep(&format_->pb));
    format_.reset();
    if (descriptor_ >= 0 && ::close(std::exchange(descriptor_, -1)) != 0) {
        note(AVERROR(errno));
    }
    return !failed_;
}

void MovieMuxer::note(int result) {
    if (result >= 0) {
        return;
    }
    if (!failed_) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_make_error_string(text, sizeof text, result);
        std::clog << "Writing " << path_ << " failed: " << text << std::endl;
    }
    failed_ = true;
    diskFull_ = diskFull_ || result == AVERROR(ENOSPC) || result == AVERROR(EDQUOT);
    writeFailed_ = true;
}

void MovieMuxer::discard() {
    {
        std::lock_guard lock(mutex_);
        format_.reset();
        close();
    }
    ::unlink(path_.c_str());
}

void MovieMuxer::close() {
    format_.reset();  // flushes what FFmpeg still buffers into the descriptor
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

}  // namespace vidora
