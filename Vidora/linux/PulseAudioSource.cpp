// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/PulseAudioSource.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <cstring>
#include <utility>

#include "linux/AudioTimeline.h"

namespace vidora {
namespace {

constexpr pa_usec_t retryDelay = 1'000'000;
constexpr pa_usec_t fragmentDuration = 20'000;
constexpr const char* clientName = "Vidora";

bool named(const char* name) {
    return name != nullptr && name[0] != '\0';
}

// Asks a connected server for the device's name and answers once, on the main loop's thread. The
// default sink's monitor is looked up by name: "@DEFAULT_MONITOR@" records the microphone on some
// PipeWire versions. A monitor is never taken for a microphone: it would record the system audio twice.
class DeviceQuery {
public:
    explicit DeviceQuery(PulseAudioSource::Device device) : device_(device) {}
    PulseAudioSource::Device device() const { return device_; }

    void resolve(pa_context* context) {
        answered_ = false;
        settle(pa_context_get_server_info(context, &DeviceQuery::onServerInfo, this));
    }

protected:
    ~DeviceQuery() = default;
    virtual void answer(std::optional<std::string> name) = 0;

private:
    void settle(pa_operation* operation) {
        if (operation != nullptr) {
            pa_operation_unref(operation);
        } else {
            reply(std::nullopt);
        }
    }
    void reply(std::optional<std::string> name) {
        if (!answered_) {
            answered_ = true;
            answer(std::move(name));
        }
    }

    static void onServerInfo(pa_context* context, const pa_server_info* info, void* data) {
        auto& query = *static_cast<DeviceQuery*>(data);
        const bool system = query.device_ == PulseAudioSource::Device::systemAudio;
        const char* name = info == nullptr ? nullptr
                           : system        ? info->default_sink_name
                                           : info->default_source_name;
        if (!named(name)) {
            query.reply(std::nullopt);
        } else if (system) {
            query.settle(pa_context_get_sink_info_by_name(context, name, &DeviceQuery::onSinkInfo, data));
        } else {
            query.settle(pa_context_get_source_info_by_name(context, name, &DeviceQuery::onSourceInfo, data));
        }
    }
    static void onSinkInfo(pa_context*, const pa_sink_info* info, int, void* data) {
        auto& query = *static_cast<DeviceQuery*>(data);
        query.reply(info != nullptr && named(info->monitor_source_name)
                        ? std::optional<std::string>(info->monitor_source_name)
                        : std::nullopt);
    }
    static void onSourceInfo(pa_context*, const pa_source_info* info, int, void* data) {
        auto& query = *static_cast<DeviceQuery*>(data);
        query.reply(info != nullptr && named(info->name) && info->monitor_of_sink == PA_INVALID_INDEX
                        ? std::optional<std::string>(info->name)
                        : std::nullopt);
    }

    PulseAudioSource::Device device_;
    bool answered_ = false;
};

// Answers findDevice on a main loop of its own, run by the asking thread.
class Probe final : public DeviceQuery {
public:
    Probe(PulseAudioSource::Device device, pa_mainloop* loop) : DeviceQuery(device), loop_(loop) {}
    std::optional<std::string> result;

    static void onState(pa_context* context, void* data) {
        auto& probe = *static_cast<Probe*>(data);
        switch (pa_context_get_state(context)) {
            case PA_CONTEXT_READY:
                probe.resolve(context);
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                pa_mainloop_quit(probe.loop_, 1);
                break;
            default:
                break;
        }
    }
    static void onTimeout(pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
        pa_mainloop_quit(static_cast<Probe*>(data)->loop_, 1);
    }

private:
    void answer(std::optional<std::string> name) override {
        result = std::move(name);
        pa_mainloop_quit(loop_, 0);
    }

    pa_mainloop* loop_;
};

}  // namespace

// One recording: a context and a stream on a threaded main loop. Every member is touched only with the
// loop's lock held (its callbacks run with it held).
struct PulseAudioSource::Loop final : DeviceQuery {
    Loop(Device device, const pa_sample_spec& sampleFormat, Receiver deliver)
        : DeviceQuery(device), format(sampleFormat), receiver(std::move(deliver)) {}

    pa_sample_spec format;
    Receiver receiver;
    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* retry = nullptr;
    bool stopping = false;
    AudioTimeline timeline;

    void connect() {
        context = pa_context_new(pa_threaded_mainloop_get_api(mainloop), clientName);
        if (context == nullptr) {
            return;
        }
        pa_context_set_state_callback(context, &Loop::onContextState, this);
        // Never starts a server of its own: no server means no sound, not a new daemon.
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            scheduleRetry();
        }
    }

    // Releases the stream and the context; never called from inside their own callbacks.
    void release() {
        if (stream != nullptr) {
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
        }
        if (context != nullptr) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        timeline.reset();
    }

    // Starts over a second from now, from the timer: a context must not be freed inside its callbacks.
    void scheduleRetry() {
        if (stopping || retry != nullptr || context == nullptr) {
            return;
        }
        retry = pa_context_rttime_new(context, pa_rtclock_now() + retryDelay, &Loop::onRetry, this);
    }
    void cancelRetry() {
        if (retry != nullptr) {
            pa_threaded_mainloop_get_api(mainloop)->time_free(retry);
            retry = nullptr;
        }
    }

    void answer(std::optional<std::string> name) override {
        if (!name) {
            scheduleRetry();
            return;
        }
        stream = pa_stream_new(context, device() == Device::systemAudio ? "System audio" : "Microphone",
                               &format, nullptr);
        if (stream == nullptr) {
            scheduleRetry();
            return;
        }
        pa_stream_set_state_callback(stream, &Loop::onStreamState, this);
        pa_stream_set_read_callback(stream, &Loop::onReadable, this);
        const auto fragment = static_cast<std::uint32_t>(pa_usec_to_bytes(fragmentDuration, &format));
        const pa_buffer_attr buffering{static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1),
                                       static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1),
                                       fragment};
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING);
        if (pa_stream_connect_record(stream, name->c_str(), &buffering, flags) < 0) {
            scheduleRetry();
        }
    }

    void read() {
        const std::size_t frameBytes = pa_frame_size(&format);
        while (stream != nullptr && pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
                return;
            }
            const std::size_t frames = bytes / frameBytes;
            const MediaTime duration(static_cast<std::int64_t>(frames) * 1'000'000'000 / format.rate);
            // The latency covers the unread data, this chunk included: its first sample is that old.
            pa_usec_t latency = 0;
            int negative = 0;
            const MediaTime age = pa_stream_get_latency(stream, &latency, &negative) == 0 && negative == 0
                                      ? std::chrono::microseconds(latency)
                                      : duration;
            const MediaTime start = timeline.stamp(mediaNow() - age, duration);
            AudioBuffer buffer;
            if (data != nullptr) {
                buffer.samples.resize(frames * format.channels);
                std::memcpy(buffer.samples.data(), data, buffer.samples.size() * sizeof(std::int16_t));
                buffer.sampleRate = static_cast<int>(format.rate);
                buffer.channels = format.channels;
                buffer.presentationTime = start;
            }
            pa_stream_drop(stream);
            // A hole (no data) only moves the timeline on.
            if (data != nullptr && frames > 0 && receiver) {
                receiver(std::move(buffer));
            }
        }
    }

    static void onContextState(pa_context* changed, void* data) {
        auto& loop = *static_cast<Loop*>(data);
        switch (pa_context_get_state(changed)) {
            case PA_CONTEXT_READY:
                loop.resolve(changed);
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                loop.scheduleRetry();
                break;
            default:
                break;
        }
    }
    static void onStreamState(pa_stream* changed, void* data) {
        const pa_stream_state_t state = pa_stream_get_state(changed);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            static_cast<Loop*>(data)->scheduleRetry();
        }
    }
    static void onReadable(pa_stream*, std::size_t, void* data) { static_cast<Loop*>(data)->read(); }
    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
        auto& loop = *static_cast<Loop*>(data);
        api->time_free(event);
        loop.retry = nullptr;
        loop.release();
        if (!loop.stopping) {
            loop.connect();
        }
    }
};

PulseAudioSource::PulseAudioSource(Device device, int sampleRate, int channels)
    : device_(device), sampleRate_(sampleRate), channels_(channels) {}

PulseAudioSource::~PulseAudioSource() {
    stop();
}

void PulseAudioSource::start(Receiver receiver) {
    if (loop_ || sampleRate_ <= 0 || channels_ <= 0 || channels_ > static_cast<int>(PA_CHANNELS_MAX)) {
        return;
    }
    const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(sampleRate_),
                                static_cast<std::uint8_t>(channels_)};
    auto loop = std::make_unique<Loop>(device_, format, std::move(receiver));
    loop->mainloop = pa_threaded_mainloop_new();
    if (loop->mainloop == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(loop->mainloop);
    loop->connect();
    pa_threaded_mainloop_unlock(loop->mainloop);
    if (pa_threaded_mainloop_start(loop->mainloop) < 0) {
        loop->release();
        pa_threaded_mainloop_free(loop->mainloop);
        return;
    }
    loop_ = std::move(loop);
}

void PulseAudioSource::stop() {
    if (!loop_) {
        return;
    }
    pa_threaded_mainloop* mainloop = loop_->mainloop;
    pa_threaded_mainloop_lock(mainloop);
    loop_->stopping = true;
    loop_->cancelRetry();
    loop_->release();
    pa_threaded_mainloop_unlock(mainloop);
    pa_threaded_mainloop_stop(mainloop);
    pa_threaded_mainloop_free(mainloop);
    loop_.reset();
}

std::optional<std::string> PulseAudioSource::findDevice(Device device, std::chrono::milliseconds timeout) {
    pa_mainloop* mainloop = pa_mainloop_new();
    if (mainloop == nullptr) {
        return std::nullopt;
    }
    Probe probe(device, mainloop);
    pa_context* context = pa_context_new(pa_mainloop_get_api(mainloop), clientName);
    pa_time_event* deadline = nullptr;
    if (context != nullptr) {
        pa_context_set_state_callback(context, &Probe::onState, &probe);
        deadline =
            pa_context_rttime_new(context, pa_rtclock_now() + static_cast<pa_usec_t>(timeout.count()) * 1000,
                                  &Probe::onTimeout, &probe);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
            pa_mainloop_run(mainloop, nullptr);
        }
        if (deadline != nullptr) {
            pa_mainloop_get_api(mainloop)->time_free(deadline);
        }
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(mainloop);
    return probe.result;
}

}  // namespace vidora
