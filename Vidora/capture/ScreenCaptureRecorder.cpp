// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/ScreenCaptureRecorder.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <utility>

#include "capture/MovieFiles.h"
#include "capture/ScreenCaptureFilter.h"
#include "capture/SilentSound.h"

namespace vidora {

ScreenCaptureRecorder::ScreenCaptureRecorder(const ContentProvider& content, CapturePlatform& platform,
                                             WriterFactory makeWriter, tavrin::Clock& clock,
                                             MainQueue mainQueue)
    : content_(content),
      platform_(platform),
      makeWriter_(std::move(makeWriter)),
      clock_(clock),
      mainQueue_(std::move(mainQueue)) {}

ScreenCaptureRecorder::~ScreenCaptureRecorder() {
    stop();
}

bool ScreenCaptureRecorder::setup(std::int64_t displayId) {
    filter_ = ScreenCaptureFilter(content_).get(displayId);
    return filter_.has_value();
}

bool ScreenCaptureRecorder::setup(std::string_view bundleIdentifier) {
    filter_ = ScreenCaptureFilter(content_).get(bundleIdentifier);
    return filter_.has_value();
}

StreamConfiguration ScreenCaptureRecorder::config(double width, double height, int frameRate) {
    StreamConfiguration configuration;
    configuration.width = static_cast<int>(width);
    configuration.height = static_cast<int>(height);
    configuration.frameRate = frameRate;
    configuration.showsCursor = true;
    configuration.capturesAudio = true;
    configuration.sampleRate = 48000;
    configuration.channelCount = 1;
    return configuration;
}

void ScreenCaptureRecorder::start(const std::string& path, bool microphone) {
    const std::lock_guard lock(control_);
    if (recording_ || !filter_) {
        return;
    }
    const Rect rect = filter_->contentRect();
    const MovieFormat format = format_;
    auto stream = platform_.makeStream(*filter_, config(rect.width, rect.height, format.frameRate), *this);
    auto writer = makeWriter_ ? makeWriter_() : nullptr;
    if (!stream || !writer) {
        keepResult({.movie = path,
                    .fileKept = false,
                    .seconds = 0,
                    .problem = stream ? RecordingProblem::cannotWrite : RecordingProblem::noPicture,
                    .target = {}});
        return;
    }
    if (!session_) {
        session_ = platform_.makeMicrophone(*this);  // no device: the recording goes on without
    }
    micState = microphone;
    setStartTime(std::nullopt);
    queue_.sync([&] {
        stream_ = std::move(stream);
        writer_ = std::move(writer);
        writerFailed_ = false;
        startProblem_.reset();
        framesCaptured_ = 0;
        framesSkipped_ = 0;
    });
    ++recordingNumber_;
    problem_.reset();
    recording_ = true;
    fileUrl_ = path;
    // Capture begins on the queue, after anything queued before; a stop that came first leaves no
    // stream to start. The movie is begun once the capture runs, at the size its source settled on,
    // so a capture that cannot start leaves no file behind; the microphone starts then too, so that
    // nothing piles up on the queue while the start waits (for the desktop's dialog).
    queue_.async([this, path, rect, format] {
        if (!stream_ || !stream_->startCapture()) {
            startProblem_ = stream_ ? stream_->startFailure() : std::nullopt;
            stopLater(startProblem_.value_or(RecordingProblem::noPicture));
            return;
        }
        const PictureSize size = stream_->pictureSize().value_or(PictureSize{rect.width, rect.height});
        // Held until the movie has its final name, so a recorder launching meanwhile leaves it alone.
        const auto folder = std::filesystem::path(path).parent_path();
        folderLock_ = FolderLock::take(folder.empty() ? "." : folder.string(), FolderLock::Holder::recording);
        if (!writer_->startWriting(
                path, scaledVideoSettings(size.width, size.height, format.pictureHeight, format.frameRate),
                audioSettings())) {
            std::cerr << "Vidora: cannot write the movie " << path << std::endl;
            startProblem_ = writer_->failure();
            stopLater(*startProblem_);
            return;
        }
        writing_ = true;
        if (session_) {
            session_->startRunning();
        }
    });
}

// A stop the recorder decides itself: on the main thread, like the controller's, and only for the
// recording it was meant for, never one started since.
void ScreenCaptureRecorder::stopLater(RecordingProblem problem) {
    mainQueue_([this, number = recordingNumber_.load(), problem] {
        const std::lock_guard lock(control_);
        if (number == recordingNumber_) {
            problem_ = problem;
            stopRecording();
        }
    });
}

void ScreenCaptureRecorder::setMovieFormat(MovieFormat format) {
    const std::lock_guard lock(control_);
    format_ = format;
}

void ScreenCaptureRecorder::stop() {
    const std::lock_guard lock(control_);
    stopRecording();
}

void ScreenCaptureRecorder::stopRecording() {
    if (!recording_ || !fileUrl_) {
        return;
    }
    // A start still waiting on the queue (for the desktop's dialog) gives up first. stream_ changes
    // only under control_, which is held here.
    if (stream_) {
        stream_->interrupt();
    }
    // Capture ends first, so what is still queued is the last of it; the writer is finished on the
    // queue after those samples, and nothing reaches it afterwards. The microphone, which the start
    // may have begun until the stream was taken, stops with it.
    std::unique_ptr<CaptureStream> stream;
    queue_.sync([&] { stream = std::move(stream_); });
    if (session_) {
        session_->stopRunning();
    }
    if (stream) {
        stream->stopCapture();
    }
    bool written = false;
    bool endLost = false;
    std::optional<RecordingProblem> writeProblem;
    std::int64_t kept = 0;
    std::int64_t captured = 0;
    queue_.sync([&] {
        if (writing_) {
            writing_ = false;
            const bool failedBefore = writer_->hasFailed();
            writer_->finishWriting();
            written = true;
            endLost = !failedBefore && writer_->hasFailed();
            if (writer_->hasFailed()) {
                writeProblem = writer_->failure();
            }
            kept = writer_->framesWritten();
        }
        captured = framesCaptured_ + framesSkipped_;
    });
    const auto folderLock = std::move(folderLock_);
    recording_ = false;
    const auto first = startTime();
    // Why it ended: what stopped it, else what kept the capture or the movie from starting (a stop may
    // come before the start's own), else what the end of the movie met.
    const auto problem = problem_ ? problem_ : startProblem_ ? startProblem_ : writeProblem;
    RecordingResult result{.movie = *fileUrl_,
                           .fileKept = false,
                           .seconds = first ? tavrin::secondsBetween(*first, clock_.now()) : 0.0,
                           .problem = problem,
                           .target = {}};
    setStartTime(std::nullopt);
    if (!written) {
        keepResult(std::move(result));
        return;
    }
    if (kept == 0) {
        // A movie without a picture plays nowhere: nothing is left of it.
        std::error_code error;
        std::filesystem::remove(*fileUrl_, error);
        std::cerr << "Vidora: nothing was recorded into " << *fileUrl_ << ": "
                  << (writeProblem ? "none of its pictures could be written"
                                   : "no picture came before the recording ended")
                  << "; the file is removed" << std::endl;
        result.problem = problem.value_or(RecordingProblem::noPicture);
        keepResult(std::move(result));
        return;
    }
    const bool renamed = changeExtension(*fileUrl_, "mp4");
    std::clog << "Finished " << *fileUrl_
              << (renamed ? ", now with the extension mp4"
                          : ", which keeps its name: it could not be renamed to .mp4")
              << " (" << kept << " frames kept, " << std::max<std::int64_t>(captured - kept, 0) << " dropped"
              << (endLost ? "; its end could not be written, it plays up to its last whole fragment" : "")
              << ")" << std::endl;
    if (renamed) {
        result.movie = std::filesystem::path(*fileUrl_).replace_extension("mp4").string();
    }
    result.fileKept = true;
    result.endLost = endLost;
    keepResult(std::move(result));
}

void ScreenCaptureRecorder::keepResult(RecordingResult result) {
    const std::lock_guard lock(resultMutex_);
    result_ = std::move(result);
}

std::optional<RecordingResult> ScreenCaptureRecorder::takeResult() {
    const std::lock_guard lock(resultMutex_);
    return std::exchange(result_, std::nullopt);
}

std::optional<tavrin::Date> ScreenCaptureRecorder::startTime() const {
    const auto value = startTime_.load();
    if (value == noStartTime) {
        return std::nullopt;
    }
    return tavrin::Date(tavrin::Date::duration(value));
}

bool ScreenCaptureRecorder::isRecording() const {
    return recording_;
}

void ScreenCaptureRecorder::setStartTime(std::optional<tavrin::Date> date) {
    startTime_ = date ? date->time_since_epoch().count() : noStartTime;
}

void ScreenCaptureRecorder::didOutputScreen(VideoFrame frame) {
    queue_.async([this, frame = std::move(frame)]() mutable { screen(std::move(frame)); });
}

// The writer is set before its stream starts and kept until after the stream has stopped; until the
// movie is begun every frame is wanted, as the first one opens it.
bool ScreenCaptureRecorder::wantsScreen(MediaTime time) {
    if (writing_ && !writer_->wantsVideoFrame(time)) {
        ++framesSkipped_;
        return false;
    }
    return true;
}

void ScreenCaptureRecorder::didOutputAudio(AudioBuffer buffer) {
    queue_.async([this, buffer = std::move(buffer)]() mutable { systemAudio(std::move(buffer)); });
}

void ScreenCaptureRecorder::didOutputMicrophone(AudioBuffer buffer) {
    queue_.async([this, buffer = std::move(buffer)]() mutable { microphone(std::move(buffer)); });
}

void ScreenCaptureRecorder::didStopWithError() {
    stopLater(RecordingProblem::sourceEnded);
}

void ScreenCaptureRecorder::screen(VideoFrame frame) {
    if (!writing_ || !isValid(frame)) {
        return;
    }
    if (!startTime()) {
        writer_->startSession(frame.presentationTime);
        const auto now = clock_.now();
        setStartTime(now);
        // For the user's log and for measuring how soon a match is on film.
        std::clog << "Recording " << fileUrl_.value_or("") << ", first frame at " << std::fixed
                  << std::setprecision(6) << std::chrono::duration<double>(now.time_since_epoch()).count()
                  << " s after the epoch" << std::endl;
    }
    ++framesCaptured_;
    if (writer_->isReadyForMoreMediaData(Track::video)) {
        writer_->append(std::move(frame));
    }
    // A movie that can no longer be written (a full disk, a failed encoder) ends as a stop would end it.
    if (!writerFailed_ && writer_->hasFailed()) {
        writerFailed_ = true;
        std::clog << "Stopping the recording: " << fileUrl_.value_or("") << " can no longer be written"
                  << std::endl;
        stopLater(writer_->failure());
    }
}

void ScreenCaptureRecorder::systemAudio(AudioBuffer buffer) {
    // Taken whether or not the timeline has begun: the writer keeps nothing from before its first frame.
    if (writing_ && writer_->isReadyForMoreMediaData(Track::systemAudio)) {
        writer_->append(Track::systemAudio, std::move(buffer));
    }
}

void ScreenCaptureRecorder::microphone(AudioBuffer buffer) {
    if (!writing_ || !startTime() || !buffer.valid) {
        return;
    }
    if (!writer_->isReadyForMoreMediaData(Track::microphone)) {
        return;
    }
    if (micState) {
        writer_->append(Track::microphone, std::move(buffer));
    } else if (auto silent = muteAudio(buffer)) {
        writer_->append(Track::microphone, std::move(*silent));
    } else if (const auto& fallback = SilentSound::buffer()) {
        writer_->append(Track::microphone, *fallback);
    }
}

}  // namespace vidora
