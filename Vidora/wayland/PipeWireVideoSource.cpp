// SPDX-License-Identifier: GPL-3.0-or-later
#include "wayland/PipeWireVideoSource.h"

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

namespace vidora {
namespace {

using Steady = std::chrono::steady_clock;
// A stream paused this long without a picture has been left (a monitor that went away, a share stopped
// by a desktop that pauses it rather than ending it): it ends as a vanished display does.
constexpr auto longestPause = std::chrono::seconds(2);

// The newest buffer the compositor filled, kept from the stream until a newer one comes, so that a
// picture is copied only when a frame is wanted, not each time the screen changes.
struct Held {
    pw_buffer* buffer = nullptr;
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    spa_video_format format = SPA_VIDEO_FORMAT_UNKNOWN;
};

// Converts to BGRA rows `stride` bytes apart.
bool convert(const Held& picture, std::uint8_t* into, int stride) {
    switch (picture.format) {
        case SPA_VIDEO_FORMAT_BGRx:
        case SPA_VIDEO_FORMAT_BGRA:
            return libyuv::ARGBCopy(picture.pixels, picture.stride, into, stride, picture.width,
                                    picture.height) == 0;
        case SPA_VIDEO_FORMAT_RGBx:
        case SPA_VIDEO_FORMAT_RGBA:
            // libyuv names formats by their bytes read as a little-endian word: RGBA is its "ABGR".
            return libyuv::ABGRToARGB(picture.pixels, picture.stride, into, stride, picture.width,
                                      picture.height) == 0;
        default:
            return false;
    }
}

}  // namespace

// The compositor's word is all there is, and a short or corrupted buffer must not be read past its end.
bool holdsPicture(const Plane& plane, int width, int height, int stride) {
    if (width <= 0 || height <= 0 || stride < width * 4 || plane.size == 0 || plane.corrupted) {
        return false;
    }
    const std::uint64_t end =
        std::uint64_t(plane.offset) + std::uint64_t(stride) * (height - 1) + std::uint64_t(width) * 4;
    return end <= plane.maxsize;
}

struct PipeWireVideoSource::Stream {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    spa_hook coreListener{};
    spa_video_info_raw format{};
    bool streaming = false;  // loop thread only
    bool closing = false;    // our own disconnect

    mutable std::mutex mutex;
    mutable std::condition_variable arrived;
    Held newest;         // guarded by mutex; the stream has it back only for a newer one
    bool ended = false;  // guarded by mutex, so a waiter never misses it
    std::string reason;  // guarded by mutex
    // Guarded by mutex: since when the stream has been paused after streaming, and the last picture.
    std::optional<Steady::time_point> pausedSince;
    Steady::time_point lastPicture;

    ~Stream() {
        if (loop) {
            pw_thread_loop_stop(loop);
        }
        closing = true;
        if (stream) {
            pw_stream_destroy(stream);
        }
        if (core) {
            pw_core_disconnect(core);
        }
        if (context) {
            pw_context_destroy(context);
        }
        if (loop) {
            pw_thread_loop_destroy(loop);
        }
    }

    // Holding mutex.
    bool pausedTooLong() const {
        return pausedSince && Steady::now() - std::max(*pausedSince, lastPicture) >= longestPause;
    }

    void end(const char* why = nullptr) {
        {
            const std::lock_guard lock(mutex);
            ended = true;
            if (why && why[0] != '\0' && reason.empty()) {
                reason = why;
            }
        }
        arrived.notify_all();
    }

    static void changedState(void* data, pw_stream_state, pw_stream_state state, const char* error) {
        auto& self = *static_cast<Stream*>(data);
        if (state == PW_STREAM_STATE_STREAMING) {
            self.streaming = true;
        }
        if (self.streaming) {
            const std::lock_guard lock(self.mutex);
            self.pausedSince = state == PW_STREAM_STATE_PAUSED ? std::optional(Steady::now()) : std::nullopt;
        }
        if (!self.closing &&
            (state == PW_STREAM_STATE_ERROR || (self.streaming && state == PW_STREAM_STATE_UNCONNECTED))) {
            self.end(error);
        }
    }

    // The core's errors reach no stream state when the remote itself goes away.
    static void coreError(void* data, std::uint32_t id, int, int, const char* message) {
        if (id == PW_ID_CORE) {
            static_cast<Stream*>(data)->end(message);
        }
    }

    static void changedParameter(void* data, std::uint32_t id, const spa_pod* parameter) {
        auto& self = *static_cast<Stream*>(data);
        if (id != SPA_PARAM_Format || !parameter || spa_format_video_raw_parse(parameter, &self.format) < 0) {
            return;
        }
        // Shared memory only: a compositor without a graphics card has no other kind.
        std::uint8_t memory[256];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, memory, sizeof memory);
        spa_pod_frame frame;
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
        // One buffer is always held here, so a few more keep the compositor from waiting for it.
        spa_pod_builder_add(&builder, SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(3, 2, 16),
                            SPA_PARAM_BUFFERS_dataType,
                            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd)), 0);
        const auto* buffers = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
        pw_stream_update_params(self.stream, &buffers, 1);
    }

    static void process(void* data) {
        auto& self = *static_cast<Stream*>(data);
        pw_buffer* buffer = pw_stream_dequeue_buffer(self.stream);
        if (!buffer) {
            return;
        }
        // Only the newest counts; older ones go back at once.
        while (pw_buffer* newer = pw_stream_dequeue_buffer(self.stream)) {
            pw_stream_queue_buffer(self.stream, buffer);
            buffer = newer;
        }
        const spa_data& plane = buffer->buffer->datas[0];
        Held picture{buffer,
                     nullptr,
                     static_cast<int>(self.format.size.width),
                     static_cast<int>(self.format.size.height),
                     0,
                     self.format.format};
        picture.stride = plane.chunk->stride != 0 ? plane.chunk->stride : picture.width * 4;
        const Plane bounds{plane.chunk->offset, plane.chunk->size, plane.maxsize,
                           (plane.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0};
        if (!plane.data || !holdsPicture(bounds, picture.width, picture.height, picture.stride)) {
            pw_stream_queue_buffer(self.stream, buffer);
            return;
        }
        picture.pixels = static_cast<const std::uint8_t*>(plane.data) + plane.chunk->offset;
        {
            const std::lock_guard lock(self.mutex);
            std::swap(self.newest, picture);
            self.lastPicture = Steady::now();
        }
        if (picture.buffer) {
            pw_stream_queue_buffer(self.stream, picture.buffer);
        }
        self.arrived.notify_all();
    }

    // A renegotiation takes the buffers away, the held one among them.
    static void removedBuffer(void* data, pw_buffer* buffer) {
        auto& self = *static_cast<Stream*>(data);
        const std::lock_guard lock(self.mutex);
        if (self.newest.buffer == buffer) {
            self.newest = Held{};
        }
    }
};

PipeWireVideoSource::PipeWireVideoSource(int remote, std::uint32_t node) : remote_(remote), node_(node) {}

PipeWireVideoSource::~PipeWireVideoSource() {
    stop();
    if (remote_ >= 0) {
        ::close(remote_);
    }
}

bool PipeWireVideoSource::start() {
    if (stream_ || remote_ < 0) {
        return stream_ != nullptr;
    }
    pw_init(nullptr, nullptr);
    auto stream = std::make_unique<Stream>();
    stream->loop = pw_thread_loop_new("vidora-screencast", nullptr);
    stream->context =
        stream->loop ? pw_context_new(pw_thread_loop_get_loop(stream->loop), nullptr, 0) : nullptr;
    if (!stream->context || pw_thread_loop_start(stream->loop) < 0) {
        return false;
    }
    static const pw_stream_events events = [] {
        pw_stream_events made{};
        made.version = PW_VERSION_STREAM_EVENTS;
        made.state_changed = &Stream::changedState;
        made.param_changed = &Stream::changedParameter;
        made.process = &Stream::process;
        made.remove_buffer = &Stream::removedBuffer;
        return made;
    }();
    static const pw_core_events coreEvents = [] {
        pw_core_events made{};
        made.version = PW_VERSION_CORE_EVENTS;
        made.error = &Stream::coreError;
        return made;
    }();
    pw_thread_loop_lock(stream->loop);
    // The remote belongs to the core from here on, whether or not it connects.
    stream->core = pw_context_connect_fd(stream->context, remote_, nullptr, 0);
    remote_ = -1;
    bool connected = false;
    if (stream->core) {
        pw_core_add_listener(stream->core, &stream->coreListener, &coreEvents, stream.get());
        stream->stream = pw_stream_new(stream->core, "Vidora",
                                       pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                         "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    }
    if (stream->stream) {
        pw_stream_add_listener(stream->stream, &stream->listener, &events, stream.get());
        std::uint8_t memory[1024];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, memory, sizeof memory);
        const spa_rectangle smallest{1, 1}, usual{1920, 1080}, largest{16384, 16384};
        const spa_fraction slowest{0, 1}, wanted{30, 1}, fastest{1000, 1};
        spa_pod_frame frame;
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
        spa_pod_builder_add(
            &builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                                   SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&usual, &smallest, &largest),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&wanted, &slowest, &fastest), 0);
        const auto* formats = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
        // A stream the desktop ends must end the recording, not wait to be linked to another node.
        connected = pw_stream_connect(
                        stream->stream, PW_DIRECTION_INPUT, node_,
                        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                     PW_STREAM_FLAG_DONT_RECONNECT),
                        &formats, 1) == 0;
    }
    pw_thread_loop_unlock(stream->loop);
    if (!connected) {
        return false;
    }
    stream_ = std::move(stream);
    return true;
}

void PipeWireVideoSource::stop() {
    stream_.reset();
}

bool PipeWireVideoSource::waitForPicture(std::chrono::milliseconds timeout) const {
    if (!stream_) {
        return false;
    }
    std::unique_lock lock(stream_->mutex);
    return stream_->arrived.wait_for(lock, timeout, [&] {
        return stream_->newest.buffer != nullptr || stream_->ended;
    }) && stream_->newest.buffer != nullptr;
}

std::optional<PictureSize> PipeWireVideoSource::size() const {
    if (!stream_) {
        return std::nullopt;
    }
    const std::lock_guard lock(stream_->mutex);
    if (!stream_->newest.buffer) {
        return std::nullopt;
    }
    return PictureSize{stream_->newest.width, stream_->newest.height};
}

bool PipeWireVideoSource::copyNewest(VideoFrame& frame) const {
    if (!stream_) {
        return false;
    }
    const std::lock_guard lock(stream_->mutex);
    const Held& newest = stream_->newest;
    if (!newest.buffer) {
        return false;
    }
    frame.width = newest.width;
    frame.height = newest.height;
    frame.stride = newest.width * 4;
    frame.pixels.resize(static_cast<std::size_t>(frame.stride) * static_cast<std::size_t>(frame.height));
    return convert(newest, frame.pixels.data(), frame.stride);
}

bool PipeWireVideoSource::hasEnded() const {
    if (!stream_) {
        return false;
    }
    const std::lock_guard lock(stream_->mutex);
    return stream_->ended || stream_->pausedTooLong();
}

void PipeWireVideoSource::end() {
    if (stream_) {
        stream_->end();
    }
}

std::string PipeWireVideoSource::endReason() const {
    if (!stream_) {
        return {};
    }
    const std::lock_guard lock(stream_->mutex);
    return stream_->reason.empty() && stream_->pausedTooLong() ? "paused without a picture for 2 s"
                                                               : stream_->reason;
}

}  // namespace vidora
