// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/PulseAudioSource.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <map>
#include <set>
#include <span>
#include <string_view>
#include <utility>

#include "common/Text.h"
#include "linux/AudioMixer.h"
#include "linux/AudioTimeline.h"

namespace vidora {
namespace {

constexpr pa_usec_t retryDelay = 1'000'000;
// A stream's monitor that failed is tried again after this, twice as long after each further failure, a
// second at most.
constexpr pa_usec_t firstStreamRetry = 50'000;
constexpr pa_usec_t fragmentDuration = 20'000;
constexpr pa_usec_t mixPeriod = 20'000;
// How far behind the clock the mix is taken: as far as the stream that has got least far (PulseAudio
// holds a monitor's sound back by as much as its sink could rewind, up to two seconds), within these
// bounds, so that a paused stream holds nothing back for long.
constexpr MediaTime shortestMixDelay = std::chrono::milliseconds(100);
constexpr MediaTime longestMixDelay = std::chrono::seconds(3);
// How long stopping waits for the monitors to deliver what played before the stop.
constexpr pa_usec_t lastSoundWait = 500'000;
// The key of a device's capture; no sink input has it.
constexpr std::uint32_t deviceKey = PA_INVALID_INDEX;
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

// One recording: a context and its streams on a threaded main loop. Every member is touched only with
// the loop's lock held (its callbacks run with it held).
struct PulseAudioSource::Loop final : DeviceQuery {
    // One stream of the server, stamped on a timeline of its own: a device, or the monitor of one
    // playback stream.
    struct Capture {
        Loop* loop = nullptr;
        std::uint32_t key = deviceKey;  // the monitored sink input
        std::uint32_t sink = PA_INVALID_INDEX;
        pa_stream* stream = nullptr;
        bool started = false;
        bool corked = false;  // its sink input was paused when last seen
        AudioTimeline timeline;
        MediaTime reached{};  // the end of the last chunk, or when it was opened
    };

    // A sink input whose monitor failed before it delivered anything, waiting to be tried again.
    struct StreamRetry {
        Loop* loop = nullptr;
        std::uint32_t input = PA_INVALID_INDEX;
        int failures = 0;
        pa_time_event* event = nullptr;
    };

    Loop(Device device, std::optional<Application> heard, const pa_sample_spec& sampleFormat,
         Receiver deliver)
        : DeviceQuery(device),
          format(sampleFormat),
          receiver(std::move(deliver)),
          application(std::move(heard)) {
        if (application) {
            mixer.emplace(static_cast<int>(format.rate), format.channels, mediaNow() - shortestMixDelay);
        }
    }

    pa_sample_spec format;
    Receiver receiver;
    std::optional<Application> application;  // none: the device alone
    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;
    pa_time_event* retry = nullptr;
    pa_time_event* mixTime = nullptr;
    pa_time_event* byNameTime = nullptr;
    bool stopping = false;
    bool waitOver = false;     // stopping has waited long enough for the last sound
    bool wholeSystem = false;  // single streams were refused: the device through the mixer
    bool toldWholeSystem = false;
    bool foundByProcess = false;  // a stream of the application's processes was seen
    bool byName = false;          // streams are taken by their names too
    std::map<std::uint32_t, Capture> captures;
    std::map<std::uint32_t, StreamRetry> retries;
    std::set<std::uint32_t> others;  // sink inputs of processes that are not ours
    std::optional<AudioMixer> mixer;

    void connect() {
        context = pa_context_new(pa_threaded_mainloop_get_api(mainloop), clientName);
        if (context == nullptr) {
            return;
        }
        pa_context_set_state_callback(context, &Loop::onContextState, this);
        if (mixer) {
            mixTime = pa_context_rttime_new(context, pa_rtclock_now() + mixPeriod, &Loop::onMixTime, this);
        }
        // Never starts a server of its own: no server means no sound, not a new daemon.
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            scheduleRetry();
        }
    }

    // Releases the streams and the context; never called from inside the context's callbacks.
    void release() {
        while (!captures.empty()) {
            close(captures.begin()->first);
        }
        others.clear();
        wholeSystem = false;
        while (!retries.empty()) {
            forgetRetry(retries.begin()->first);
        }
        for (pa_time_event** event : {&mixTime, &byNameTime}) {
            if (*event != nullptr) {
                pa_threaded_mainloop_get_api(mainloop)->time_free(*event);
                *event = nullptr;
            }
        }
        if (context != nullptr) {
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
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

    // Records `device` (key deviceKey), or the monitor of sink input `key` playing on `sink`.
    bool open(std::uint32_t key, const char* device, std::uint32_t sink) {
        const char* name = key != deviceKey                        ? "Application sound"
                           : this->device() == Device::systemAudio ? "System audio"
                                                                   : "Microphone";
        pa_stream* stream = pa_stream_new(context, name, &format, nullptr);
        if (stream == nullptr) {
            return false;
        }
        auto& capture = captures[key];
        capture = Capture{this, key, sink, stream, false, false, {}, mediaNow()};
        pa_stream_set_state_callback(stream, &Loop::onStreamState, &capture);
        pa_stream_set_read_callback(stream, &Loop::onReadable, &capture);
        const auto fragment = static_cast<std::uint32_t>(pa_usec_to_bytes(fragmentDuration, &format));
        const pa_buffer_attr buffering{static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1),
                                       static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1),
                                       fragment};
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
        // A monitor of one sink input needs no device: the server takes the monitor of its sink.
        if ((key != deviceKey && pa_stream_set_monitor_stream(stream, key) < 0) ||
            pa_stream_connect_record(stream, device, &buffering, flags) < 0) {
            close(key);
            return false;
        }
        return true;
    }
    // Ends a capture; the sound it delivered stays in the mix.
    void close(std::uint32_t key) {
        const auto found = captures.find(key);
        if (found == captures.end()) {
            return;
        }
        pa_stream* stream = found->second.stream;
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        captures.erase(found);
        if (mixer) {
            mixer->remove(key);
        }
    }

    void answer(std::optional<std::string> name) override {
        if (!name || !open(deviceKey, name->c_str(), PA_INVALID_INDEX)) {
            scheduleRetry();
        }
    }

    // Follows the sink inputs: each new one, and each one that changed (it may have moved).
    void follow() {
        pa_context_set_subscribe_callback(context, &Loop::onEvent, this);
        letRun(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr));
        letRun(pa_context_get_sink_input_info_list(context, &Loop::onSinkInput, this));
        if (!foundByProcess && !byName && !application->names.empty() && byNameTime == nullptr) {
            const auto wait = static_cast<pa_usec_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(application->byNameAfter).count());
            byNameTime = pa_context_rttime_new(context, pa_rtclock_now() + wait, &Loop::onByNameTime, this);
        }
    }
    void lookUp(std::uint32_t input) {
        letRun(pa_context_get_sink_input_info(context, input, &Loop::onSinkInput, this));
    }
    static void letRun(pa_operation* operation) {
        if (operation != nullptr) {
            pa_operation_unref(operation);
        }
    }
    bool ours(const pa_sink_input_info& info) {
        const char* process = pa_proplist_gets(info.proplist, PA_PROP_APPLICATION_PROCESS_ID);
        pid_t pid = 0;
        const std::string_view text = process != nullptr ? process : "";
        if (std::from_chars(text.data(), text.data() + text.size(), pid).ptr == text.data() + text.size() &&
            pid > 0 && application->owns(pid)) {
            foundByProcess = true;
            return true;
        }
        if (byName) {
            for (const char* key : {PA_PROP_APPLICATION_PROCESS_BINARY, PA_PROP_APPLICATION_NAME}) {
                const char* value = pa_proplist_gets(info.proplist, key);
                if (value != nullptr && std::ranges::any_of(application->names, [&](const std::string& name) {
                        return tavrin::equalIgnoringCase(value, name);
                    })) {
                    return true;
                }
            }
        }
        return false;
    }
    // A stream of the application is recorded from when it first plays. The monitor of a paused (corked)
    // one is kept, for the sound PulseAudio may still hold back; when it plays again the monitor is opened
    // anew: PipeWire's server goes on counting time for the monitor of a paused stream, so that the sound
    // afterwards would be measured as older than it is.
    void consider(const pa_sink_input_info& info) {
        const auto captured = captures.find(info.index);
        const auto retrying = retries.find(info.index);
        if (wholeSystem || info.sink == PA_INVALID_INDEX ||
            (retrying != retries.end() && retrying->second.event != nullptr)) {
            return;
        }
        if (captured != captures.end() && captured->second.sink == info.sink &&
            (!captured->second.corked || info.corked != 0)) {
            captured->second.corked = info.corked != 0;
            return;
        }
        if (captured == captures.end() && !ours(info)) {
            others.insert(info.index);
            return;
        }
        close(info.index);
        if (info.corked == 0 && !open(info.index, nullptr, info.sink)) {
            failed(info.index, pa_context_errno(context), false);
        }
    }
    void failed(std::uint32_t input, int error, bool started) {
        close(input);
        switch (afterMonitorFailure(error, started)) {
            case MonitorFailure::lookAgain:
                lookUp(input);
                break;
            case MonitorFailure::retryLater:
                retryLater(input, error);
                break;
            case MonitorFailure::wholeSystem:
                recordWholeSystem(error);
                break;
        }
    }
    void retryLater(std::uint32_t input, int error) {
        auto& pending = retries[input];
        if (pending.failures == 0) {
            std::cerr << "Vidora: the sound of one of the application's streams could not be recorded ("
                      << pa_strerror(error) << "); trying again" << std::endl;
        }
        pending.loop = this;
        pending.input = input;
        const pa_usec_t delay = std::min(firstStreamRetry << std::min(pending.failures, 8), retryDelay);
        ++pending.failures;
        if (pending.event == nullptr) {
            pending.event =
                pa_context_rttime_new(context, pa_rtclock_now() + delay, &Loop::onStreamRetry, &pending);
        }
    }
    void forgetRetry(std::uint32_t input) {
        const auto found = retries.find(input);
        if (found == retries.end()) {
            return;
        }
        if (found->second.event != nullptr) {
            pa_threaded_mainloop_get_api(mainloop)->time_free(found->second.event);
        }
        retries.erase(found);
    }
    // Single streams are refused: the device from now on, through the mixer all the same.
    void recordWholeSystem(int error) {
        if (!toldWholeSystem) {
            std::cerr << "Vidora: the sound server cannot record single programs (" << pa_strerror(error)
                      << "); recording all of the system's sound" << std::endl;
            toldWholeSystem = true;
        }
        wholeSystem = true;
        while (!captures.empty()) {
            close(captures.begin()->first);
        }
        resolve(context);
    }

    // How long ago the first unread sample was captured, from the server's last timing report: the time
    // since the report, the source's latency then, and the sound the server had written beyond what has
    // been read, less what a monitor's sink had still to play. libpulse's own interpolated latency goes
    // through a smoother that takes seconds to settle on a new stream.
    std::optional<MediaTime> unreadAge(pa_stream* stream) const {
        const pa_timing_info* timing = pa_stream_get_timing_info(stream);
        if (timing == nullptr || timing->write_index_corrupt != 0 || timing->read_index_corrupt != 0) {
            return std::nullopt;
        }
        const auto written = static_cast<double>(timing->write_index - timing->read_index) * 1e6 /
                             static_cast<double>(pa_bytes_per_second(&format));
        const double age = static_cast<double>(pa_timeval_age(&timing->timestamp) + timing->source_usec +
                                               timing->transport_usec) +
                           written - static_cast<double>(timing->sink_usec);
        return std::chrono::microseconds(std::llround(age));
    }

    void read(Capture& capture) {
        const std::size_t frameBytes = pa_frame_size(&format);
        pa_stream* stream = capture.stream;
        // The first chunks wait in the buffer until the server has told the stream's timing: a guess
        // would set the timeline off, and it follows the measurements only slowly.
        if (!unreadAge(stream)) {
            return;
        }
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
                return;
            }
            const std::size_t frames = bytes / frameBytes;
            const MediaTime duration(static_cast<std::int64_t>(frames) * 1'000'000'000 / format.rate);
            const MediaTime age = unreadAge(stream).value_or(duration);
            const auto stamp = capture.timeline.stamp(mediaNow() - age, duration);
            const MediaTime start = stamp.start;
            // Sound for time already stamped is dropped, a frame more rather than less.
            const auto dropped = std::min<std::size_t>(
                frames, static_cast<std::size_t>((stamp.dropped.count() * format.rate + 999'999'999) /
                                                 1'000'000'000));
            // A hole (no data) only moves the timeline on.
            const std::span samples = std::span(static_cast<const std::int16_t*>(data),
                                                data != nullptr ? frames * format.channels : 0)
                                          .subspan(data != nullptr ? dropped * format.channels : 0);
            capture.reached = start + duration - stamp.dropped;
            if (mixer) {
                mixer->add(capture.key, start, samples);
            } else if (!samples.empty() && receiver) {
                AudioBuffer buffer;
                buffer.samples.assign(samples.begin(), samples.end());
                buffer.sampleRate = static_cast<int>(format.rate);
                buffer.channels = format.channels;
                buffer.presentationTime = start;
                receiver(std::move(buffer));
            }
            pa_stream_drop(stream);
        }
        if (stopping) {
            pa_threaded_mainloop_signal(mainloop, 0);
        }
    }

    static void onContextState(pa_context* changed, void* data) {
        auto& loop = *static_cast<Loop*>(data);
        switch (pa_context_get_state(changed)) {
            case PA_CONTEXT_READY:
                if (loop.application) {
                    loop.follow();
                } else {
                    loop.resolve(changed);
                }
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                loop.scheduleRetry();
                break;
            default:
                break;
        }
    }
    static void onEvent(pa_context*, pa_subscription_event_type_t event, std::uint32_t input, void* data) {
        auto& loop = *static_cast<Loop*>(data);
        if ((event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
            loop.close(input);
            loop.others.erase(input);
            loop.forgetRetry(input);
        } else if (!loop.wholeSystem && !loop.others.contains(input)) {
            loop.lookUp(input);
        }
    }
    static void onSinkInput(pa_context*, const pa_sink_input_info* info, int, void* data) {
        if (info != nullptr) {
            static_cast<Loop*>(data)->consider(*info);
        }
    }
    static void onStreamState(pa_stream* changed, void* data) {
        auto& capture = *static_cast<Capture*>(data);
        auto& loop = *capture.loop;
        const pa_stream_state_t state = pa_stream_get_state(changed);
        if (state == PA_STREAM_READY) {
            capture.started = true;
            loop.forgetRetry(capture.key);
        }
        if (state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED) {
            return;
        }
        if (capture.key == deviceKey) {
            loop.scheduleRetry();
            return;
        }
        // Without the server, the context starts everything over. The stream outlives its callback.
        if (pa_context_get_state(loop.context) != PA_CONTEXT_READY) {
            loop.close(capture.key);
        } else {
            loop.failed(capture.key, pa_context_errno(loop.context), capture.started);
        }
    }
    static void onStreamRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
        auto& retry = *static_cast<StreamRetry*>(data);
        api->time_free(event);
        retry.event = nullptr;
        retry.loop->lookUp(retry.input);
    }
    static void onByNameTime(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
        auto& loop = *static_cast<Loop*>(data);
        api->time_free(event);
        loop.byNameTime = nullptr;
        if (loop.foundByProcess) {
            return;
        }
        std::string names;
        for (const auto& name : loop.application->names) {
            names += (names.empty() ? "\"" : ", \"") + name + "\"";
        }
        std::cerr << "Vidora: no sound stream of the recorded application's processes was found in "
                  << std::chrono::duration<double>(loop.application->byNameAfter).count()
                  << " s; recording the streams named " << names << std::endl;
        loop.byName = true;
        loop.others.clear();
        letRun(pa_context_get_sink_input_info_list(loop.context, &Loop::onSinkInput, &loop));
    }
    static void onWaitOver(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
        auto& loop = *static_cast<Loop*>(data);
        api->time_free(event);
        loop.waitOver = true;
        pa_threaded_mainloop_signal(loop.mainloop, 0);
    }
    // Waits until every capture that delivers (started, not paused) has delivered the sound up to `end`,
    // lastSoundWait at most. Called with the lock held, from the thread that stops.
    void awaitSound(MediaTime end) {
        const auto behind = [&] {
            return std::ranges::any_of(captures, [&](const auto& entry) {
                return entry.second.started && !entry.second.corked && entry.second.reached < end;
            });
        };
        if (context == nullptr || !behind()) {
            return;
        }
        waitOver = false;
        pa_time_event* deadline =
            pa_context_rttime_new(context, pa_rtclock_now() + lastSoundWait, &Loop::onWaitOver, this);
        while (!waitOver && behind()) {
            pa_threaded_mainloop_wait(mainloop);
        }
        if (!waitOver && deadline != nullptr) {
            pa_threaded_mainloop_get_api(mainloop)->time_free(deadline);
        }
    }
    static void onReadable(pa_stream*, std::size_t, void* data) {
        auto& capture = *static_cast<Capture*>(data);
        capture.loop->read(capture);
    }
    static void onMixTime(pa_mainloop_api*, pa_time_event* event, const timeval*, void* data) {
        auto& loop = *static_cast<Loop*>(data);
        pa_context_rttime_restart(loop.context, event, pa_rtclock_now() + mixPeriod);
        const MediaTime now = mediaNow();
        MediaTime end = now - shortestMixDelay;
        for (const auto& [key, capture] : loop.captures) {
            end = std::min(end, capture.reached);
        }
        loop.mix(std::max(end, now - longestMixDelay));
    }
    void mix(MediaTime end) {
        if (auto mixed = mixer ? mixer->take(end) : std::nullopt; mixed && receiver) {
            receiver(std::move(*mixed));
        }
    }
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

PulseAudioSource::PulseAudioSource(Application application, int sampleRate, int channels)
    : device_(Device::systemAudio),
      application_(std::move(application)),
      sampleRate_(sampleRate),
      channels_(channels) {}

PulseAudioSource::MonitorFailure PulseAudioSource::afterMonitorFailure(int error, bool started) {
    if (started || error == PA_ERR_NOENTITY) {
        return MonitorFailure::lookAgain;
    }
    if (error == PA_ERR_NOTSUPPORTED || error == PA_ERR_NOTIMPLEMENTED) {
        return MonitorFailure::wholeSystem;
    }
    return MonitorFailure::retryLater;
}

PulseAudioSource::~PulseAudioSource() {
    stop();
}

void PulseAudioSource::start(Receiver receiver) {
    if (loop_ || sampleRate_ <= 0 || channels_ <= 0 || channels_ > static_cast<int>(PA_CHANNELS_MAX)) {
        return;
    }
    const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(sampleRate_),
                                static_cast<std::uint8_t>(channels_)};
    auto loop = std::make_unique<Loop>(device_, application_, format, std::move(receiver));
    loop->mainloop = pa_threaded_mainloop_new();
    if (loop->mainloop == nullptr) {
        return;
    }
    // Named, so that a profile or scripts/bench-recorder tells its cost apart.
    pa_threaded_mainloop_set_name(loop->mainloop,
                                  device_ == Device::microphone ? "microphone" : "system-sound");
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
    const MediaTime end = mediaNow();
    loop_->awaitSound(end);
    loop_->mix(end);
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
