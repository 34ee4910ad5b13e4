// SPDX-License-Identifier: GPL-3.0-or-later
#include "matches/Thumbnails.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "writer/FfmpegHandles.h"

namespace vidora {

namespace {

namespace fs = std::filesystem;

struct InputClose {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

Picture failed(std::string why) {
    return {.width = 0, .height = 0, .rgb = {}, .problem = std::move(why)};
}

}  // namespace

std::string ThumbnailKey::fileName() const {
    // FNV-1a over the three, stable across runs and builds.
    std::uint64_t hash = 14695981039346656037u;
    const auto add = [&hash](const void* data, std::size_t bytes) {
        for (std::size_t i = 0; i < bytes; ++i) {
            hash = (hash ^ static_cast<const std::uint8_t*>(data)[i]) * 1099511628211u;
        }
    };
    add(path.data(), path.size() + 1);
    add(&size, sizeof size);
    add(&modified, sizeof modified);
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.jpg", static_cast<unsigned long long>(hash));
    return name;
}

Picture grabPicture(const std::string& movie, double seconds, int width) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, movie.c_str(), nullptr, nullptr) < 0) {
        return failed("The movie cannot be opened.");
    }
    const std::unique_ptr<AVFormatContext, InputClose> input(opened);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) {
        return failed("The movie cannot be read.");
    }
    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (index < 0 || decoder == nullptr) {
        return failed("The movie has no picture.");
    }
    const AVStream* stream = input->streams[index];
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(decoder));
    if (!context || avcodec_parameters_to_context(context.get(), stream->codecpar) < 0) {
        return failed("The movie's picture cannot be decoded.");
    }
    // One thread, so the window's own thread keeps the other core.
    context->thread_count = 1;
    if (avcodec_open2(context.get(), decoder, nullptr) < 0) {
        return failed("The movie's picture cannot be decoded.");
    }
    const double length = input->duration > 0 ? static_cast<double>(input->duration) / AV_TIME_BASE : 0;
    if (length > 0 && seconds >= length) {
        seconds = 0;
    }
    av_seek_frame(input.get(), index, static_cast<std::int64_t>(seconds / av_q2d(stream->time_base)),
                  AVSEEK_FLAG_BACKWARD);
    const ffmpeg::PacketPtr packet(av_packet_alloc());
    const ffmpeg::FramePtr frame(av_frame_alloc());
    bool decoded = false;
    // A damaged movie may never give a picture: a bounded number of packets are tried.
    for (int packets = 0; !decoded && packets < 600; ++packets) {
        const int read = av_read_frame(input.get(), packet.get());
        if (read < 0) {
            avcodec_send_packet(context.get(), nullptr);  // drain what the decoder holds
        } else if (packet->stream_index != index) {
            av_packet_unref(packet.get());
            continue;
        } else {
            avcodec_send_packet(context.get(), packet.get());
            av_packet_unref(packet.get());
        }
        decoded = avcodec_receive_frame(context.get(), frame.get()) == 0;
        if (read < 0 && !decoded) {
            break;
        }
    }
    if (!decoded || frame->width <= 0 || frame->height <= 0) {
        return failed("No picture of the movie could be decoded.");
    }
    const int height =
        std::max(2, static_cast<int>(static_cast<long>(width) * frame->height / frame->width) & ~1);
    const ffmpeg::ScaleContextPtr scale(
        sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), width, height,
                       AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scale) {
        return failed("The movie's picture cannot be converted.");
    }
    Picture picture{.width = width,
                    .height = height,
                    .rgb = std::vector<std::uint8_t>(width * height * 3),
                    .problem = {}};
    std::uint8_t* planes[] = {picture.rgb.data()};
    const int strides[] = {width * 3};
    sws_scale(scale.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
    return picture;
}

void trimCache(const std::string& folder, std::uint64_t limit) {
    struct File {
        fs::path path;
        std::int64_t used = 0;
        std::uint64_t size = 0;
    };
    std::vector<File> files;
    std::uint64_t total = 0;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        struct stat status {};
        if (::lstat(entry->path().c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            // A picture shown is read, and its access time moves on where the mount keeps it; its
            // making time otherwise.
            files.push_back({entry->path(), std::max(status.st_atim.tv_sec, status.st_mtim.tv_sec),
                             static_cast<std::uint64_t>(status.st_size)});
            total += static_cast<std::uint64_t>(status.st_size);
        }
    }
    if (total <= limit) {
        return;
    }
    std::ranges::sort(files, {}, &File::used);
    for (const File& file : files) {
        if (total <= limit / 10 * 8) {
            break;
        }
        if (fs::remove(file.path, error)) {
            total -= file.size;
        }
    }
}

}  // namespace vidora
