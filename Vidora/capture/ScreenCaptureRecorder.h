// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "capture/CaptureStream.h"
#include "capture/ContentFilter.h"
#include "capture/MovieFiles.h"
#include "capture/Recorder.h"
#include "capture/ShareableContent.h"
#include "common/Clock.h"
#include "common/SerialQueue.h"
#include "writer/MovieSink.h"

namespace vidora {

// The recorder's engine: turns a chosen target into a movie. setup, start and stop come from the
// controller's thread (the main thread); every sample of the stream and the microphone is handled on
// one serial queue, "Tavrinworks.Recorder", so appends to the writer never overlap.
class ScreenCaptureRecorder final : public Recorder, public StreamOutput, public MicrophoneOutput {
public:
    using WriterFactory = std::function<std::unique_ptr<MovieSink>()>;
    // Runs work on the main thread later (the stream ending on its own stops the recording there).
    using MainQueue = std::function<void(std::function<void()>)>;

    // The movie's picture: its height in lines (0: as captured) and frames a second.
    struct MovieFormat {
        int pictureHeight = 0;
        int frameRate = 30;
        bool operator==(const MovieFormat&) const = default;
    };

    ScreenCaptureRecorder(const ContentProvider& content, CapturePlatform& platform, WriterFactory makeWriter,
                          tavrin::Clock& clock, MainQueue mainQueue);
    ~ScreenCaptureRecorder() override;

    // Chooses the target for the next start: a display, or an application's windows. False, and no
    // target, when it cannot be recorded now. Blocks until the answer is known.
    bool setup(std::int64_t displayId) override;
    bool setup(std::string_view bundleIdentifier) override;

    // Begins a recording into `path` (the in-progress "mp0" path); does nothing while recording or
    // without a target. Capture begins on the sample queue, and the movie once capture runs; either
    // failing ends the recording on the main queue.
    void start(const std::string& path, bool microphone) override;
    // The format of the recordings started from now on.
    void setMovieFormat(MovieFormat format);
    // Ends the recording: the movie is finished and renamed to "mp4" when this returns, or removed
    // when it holds no picture.
    void stop() override;

    // True: microphone samples are written as captured; false: silence in their place.
    std::atomic<bool> micState{true};
    // Wall-clock time of the movie's first frame; nothing until it has arrived.
    std::optional<tavrin::Date> startTime() const override;
    void setMicState(bool on) override { micState = on; }
    bool isRecording() const override;
    std::optional<RecordingResult> takeResult() override;
    const std::optional<ContentFilter>& filter() const { return filter_; }
    const std::optional<std::string>& fileUrl() const { return fileUrl_; }

    static StreamConfiguration config(double width, double height, int frameRate = 30);
    static bool isValid(const VideoFrame& frame) { return frame.complete; }

    // From the stream's and the microphone's capture threads.
    void didOutputScreen(VideoFrame frame) override;
    bool wantsScreen(MediaTime time) override;
    void didOutputAudio(AudioBuffer buffer) override;
    void didStopWithError() override;
    void didOutputMicrophone(AudioBuffer buffer) override;

private:
    // On the sample queue.
    void screen(VideoFrame frame);
    void systemAudio(AudioBuffer buffer);
    void microphone(AudioBuffer buffer);
    void setStartTime(std::optional<tavrin::Date> date);
    // A stop the recorder decides itself, for `problem`.
    void stopLater(RecordingProblem problem);
    void stopRecording();  // holding control_
    void keepResult(RecordingResult result);

    const ContentProvider& content_;
    CapturePlatform& platform_;
    WriterFactory makeWriter_;
    tavrin::Clock& clock_;
    MainQueue mainQueue_;

    std::optional<std::string> fileUrl_;
    std::optional<ContentFilter> filter_;
    // Set and cleared on the main thread inside the queue (sync), read on the queue.
    std::unique_ptr<CaptureStream> stream_;
    std::unique_ptr<MovieSink> writer_;
    std::unique_ptr<MicrophoneSession> session_;
    // Taken on the queue as the movie begins, given up when it is finished.
    std::optional<FolderLock> folderLock_;
    std::atomic<bool> recording_{false};
    // The movie is begun: set and cleared on the queue, read by the capture threads too.
    std::atomic<bool> writing_{false};
    // Start and stop, from the controller's task or the main thread, one at a time; each start counts.
    std::mutex control_;
    std::atomic<std::uint64_t> recordingNumber_{0};
    std::optional<RecordingProblem> problem_;  // under control_
    MovieFormat format_;                       // under control_
    std::mutex resultMutex_;
    std::optional<RecordingResult> result_;         // under resultMutex_
    bool writerFailed_ = false;                     // on the queue
    std::optional<RecordingProblem> startProblem_;  // the queue's; why the start failed
    std::int64_t framesCaptured_ = 0;               // the sample queue's
    std::atomic<std::int64_t> framesSkipped_{0};    // grabs the writer had no time for
    static constexpr tavrin::Date::rep noStartTime = INT64_MIN;
    std::atomic<tavrin::Date::rep> startTime_{noStartTime};
    tavrin::SerialQueue queue_{"Tavrinworks.Recorder"};
};

}  // namespace vidora
