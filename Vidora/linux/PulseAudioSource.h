// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/Samples.h"

namespace vidora {

// Records one PulseAudio device as signed 16-bit PCM: the system audio (the monitor of the default
// sink, looked up through the server) or the microphone (the default source, when it is not a monitor).
// Each chunk of about 20 ms is stamped on the one media clock at the moment its first sample was
// captured. Without a server or a device it delivers nothing; when the server goes away it goes quiet
// and tries again every second.
//
// Or records the sound of one application only: it follows the server's playback streams (sink inputs)
// as they come, change and go, records each one of the application through a monitor of that stream
// alone (again when it moves to another sink), and mixes them on the media clock. The mix is delivered
// every 20 ms, from 100 ms to 3 s behind the clock (until every stream's chunks are in), silent where
// nothing played. A stream's monitor that fails before it delivered anything is tried again, later each
// time (a sink may have been moving); only where the server refuses single-stream monitors as such does it
// record the system audio instead, through the same mix. Both are said on stderr.
//
// Stopping waits, half a second at most, for the sound that played before the stop to come through the
// monitors, and delivers it.
//
// Threads: start and stop from one thread at a time. The receiver runs on the source's own thread
// (PulseAudio's threaded main loop) with that loop's lock held: it hands the buffer on quickly and must
// never wait for the thread that calls stop.
class PulseAudioSource {
public:
    enum class Device { systemAudio, microphone };
    using Receiver = std::function<void(AudioBuffer)>;
    // Called on the source's thread with the pid a playback stream names as its own.
    using ProcessFilter = std::function<bool(pid_t)>;
    // The application whose sound is recorded: the streams of the processes `owns` accepts, and, once no
    // stream of theirs was found for `byNameAfter`, the streams whose `application.process.binary` or
    // `application.name` is one of `names` (in any letter case): a sandboxed program names a pid of its
    // own namespace, which means nothing here.
    struct Application {
        ProcessFilter owns;
        std::vector<std::string> names;
        std::chrono::milliseconds byNameAfter{std::chrono::seconds(10)};
    };
    // What becomes of a stream whose monitor failed with the server's `error` (a PA_ERR_ code), before
    // it delivered anything or after (`started`): it is looked up again (it moved, or is gone), tried
    // again later, or single-stream monitors are refused and the system audio is recorded instead.
    enum class MonitorFailure { lookAgain, retryLater, wholeSystem };
    static MonitorFailure afterMonitorFailure(int error, bool started);

    explicit PulseAudioSource(Device device, int sampleRate = 48000, int channels = 1);
    PulseAudioSource(Application application, int sampleRate, int channels);
    ~PulseAudioSource();
    PulseAudioSource(const PulseAudioSource&) = delete;
    PulseAudioSource& operator=(const PulseAudioSource&) = delete;

    // Begins connecting; never fails visibly. Does nothing while running.
    void start(Receiver receiver);
    // Ends the recording and its thread; no buffer is delivered after it returns.
    void stop();

    // The device's name as the server says now, or nothing (no server, no such device). Waits at most
    // `timeout` for the answer; any thread.
    static std::optional<std::string> findDevice(Device device, std::chrono::milliseconds timeout);

private:
    struct Loop;

    Device device_;
    std::optional<Application> application_;
    int sampleRate_;
    int channels_;
    std::unique_ptr<Loop> loop_;
};

}  // namespace vidora
