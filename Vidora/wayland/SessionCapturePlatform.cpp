// SPDX-License-Identifier: GPL-3.0-or-later
#include "wayland/SessionCapturePlatform.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string_view>
#include <thread>

#include "linux/PulseAudioSource.h"
#include "linux/X11ContentProvider.h"
#include "wayland/PipeWireVideoSource.h"
#include "wayland/ScreenCastPortal.h"

namespace vidora {
namespace {

constexpr int highestFrameRate = 60;
// Frames on their way to the encoder at once, whose memory is kept for the next ones.
constexpr std::size_t keptFrames = 4;

// A display through the portal. The compositor sends a picture only when the screen changes; a thread
// of our own hands the newest one on at the configured rate, as an X11 grab would, so the movie's
// frame rate does not depend on what happens on screen.
class PortalCaptureStream final : public CaptureStream {
public:
    PortalCaptureStream(SessionCapturePlatform::PortalOptions options, const Rect& monitor,
                        StreamConfiguration configuration, StreamOutput& output,
                        std::unique_ptr<PulseAudioSource> audio)
        : options_(std::move(options)),
          monitor_(monitor),
          configuration_(configuration),
          output_(output),
          audio_(std::move(audio)) {
        portal_.onClosed([this] {
            // A portal that refuses a start closes its session too; the refusal says enough then.
            if (end(closed_)) {
                std::cerr << "Vidora: the desktop ended the screen cast" << std::endl;
            }
        });
    }
    ~PortalCaptureStream() override { stopCapture(); }

    bool startCapture() override {
        if (pacer_.joinable()) {
            return true;
        }
        std::string why;
        std::vector<Rect> monitors;
        for (const auto& display : X11ContentProvider().displays()) {
            monitors.push_back(display.frame);
        }
        if (monitors.empty()) {
            monitors.push_back(monitor_);
        }
        if (!portal_.open(monitor_, monitors, options_.tokenFolder, why)) {
            if (portal_.wasUnanswered()) {
                failure_ = RecordingProblem::shareUnanswered;
                std::cerr << "Vidora: the recording was stopped while the screen-share dialog waited"
                          << std::endl;
            } else if (!isInterrupted()) {
                failure_ = RecordingProblem::shareRefused;
                std::cerr << "Vidora: the screen-cast portal gave no display: " << why << std::endl;
            } else {
                failure_.reset();
            }
            return false;
        }
        auto video = std::make_unique<PipeWireVideoSource>(portal_.takeRemote(), portal_.node());
        const bool started = video->start();
        {
            const std::lock_guard lock(mutex_);
            video_ = std::move(video);
            if (interrupted_ || closed_) {
                video_->end();
            }
        }
        if (!started || !video_->waitForPicture(options_.firstPictureTime)) {
            if (!isInterrupted()) {
                std::cerr << "Vidora: the screen-cast stream delivered no picture" << std::endl;
            } else {
                failure_.reset();
            }
            stopCapture();
            return false;
        }
        size_ = video_->size();
        const int rate = std::clamp(configuration_.frameRate, 1, highestFrameRate);
        pacer_ = std::jthread([this, rate](std::stop_token stop) { deliver(stop, rate); });
        if (audio_) {
            audio_->start([this](AudioBuffer buffer) { output_.didOutputAudio(std::move(buffer)); });
        }
        return true;
    }

    void interrupt() override {
        // Marked first, so that the start it ends knows a stop, not a refusal, ended it.
        end(interrupted_);
        portal_.cancel();
    }

    std::optional<PictureSize> pictureSize() const override { return size_; }
    std::optional<RecordingProblem> startFailure() const override { return failure_; }

    void stopCapture() override {
        // The picture ends first: the sound then waits for what played up to that moment.
        if (pacer_.joinable()) {
            pacer_.request_stop();
            pacer_.join();
        }
        if (audio_) {
            audio_->stop();
        }
        // The session goes first, so the portal ends its stream before it sees the reader leave.
        portal_.close();
        const std::lock_guard lock(mutex_);
        video_.reset();
    }

private:
    // Marks why the stream ends and ends the picture's wait; from the portal's thread or a stop.
    // Whether a stream was running.
    bool end(bool& reason) {
        const std::lock_guard lock(mutex_);
        reason = true;
        if (video_) {
            video_->end();
        }
        return video_ != nullptr;
    }
    bool isInterrupted() {
        const std::lock_guard lock(mutex_);
        return interrupted_;
    }

    void deliver(std::stop_token stop, int rate) {
        const auto period = std::chrono::nanoseconds(std::chrono::seconds(1)) / rate;
        std::mutex mutex;
        std::condition_variable_any wakeUp;
        auto due = std::chrono::steady_clock::now();
        MediaTime last{};
        while (!stop.stop_requested()) {
            if (video_->hasEnded()) {
                if (isInterrupted()) {
                    return;  // a stop: nothing went wrong
                }
                const std::string reason = video_->endReason();
                std::cerr << "Vidora: the screen-cast stream ended" << (reason.empty() ? "" : ": ") << reason
                          << std::endl;
                output_.didStopWithError();
                return;
            }
            // A frame the encoder has no time for is not copied at all, so frames are dropped evenly
            // here rather than piling up behind the encoder.
            const MediaTime time = std::max(mediaNow(), last + MediaTime(1));
            last = time;
            if (output_.wantsScreen(time)) {
                VideoFrame frame{PixelBytes(PixelAllocator<std::uint8_t>(pixels_))};
                frame.complete = video_->copyNewest(frame);
                frame.presentationTime = time;
                output_.didOutputScreen(std::move(frame));
            }
            // A late frame skips the ones it missed rather than catching up in a burst.
            due = std::max(due + period, std::chrono::steady_clock::now());
            std::unique_lock lock(mutex);
            wakeUp.wait_until(lock, stop, due, [] { return false; });
        }
    }

    SessionCapturePlatform::PortalOptions options_;
    Rect monitor_;
    StreamConfiguration configuration_;
    StreamOutput& output_;
    std::unique_ptr<PulseAudioSource> audio_;
    ScreenCastPortal portal_;
    std::optional<PictureSize> size_;
    std::optional<RecordingProblem> failure_ = RecordingProblem::noPicture;  // the sample queue's
    std::shared_ptr<PixelPool> pixels_ = std::make_shared<PixelPool>(keptFrames);
    std::mutex mutex_;
    bool interrupted_ = false;  // guarded by mutex_
    bool closed_ = false;       // guarded by mutex_
    // Set on the sample queue; guarded by mutex_ where a stop or the portal's thread may reach it.
    std::unique_ptr<PipeWireVideoSource> video_;
    std::jthread pacer_;
};

}  // namespace

SessionCapturePlatform::SessionCapturePlatform() {
    portal_.tokenFolder = ScreenCastPortal::tokenFolder();
}

bool SessionCapturePlatform::isWaylandSession() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (display && display[0] != '\0') || (type && std::string_view(type) == "wayland");
}

std::unique_ptr<CaptureStream> SessionCapturePlatform::makeStream(const ContentFilter& filter,
                                                                  const StreamConfiguration& configuration,
                                                                  StreamOutput& output) {
    if (filter.kind != ContentFilter::Kind::excludingApplications || !isWaylandSession()) {
        return linux_.makeStream(filter, configuration, output);
    }
    return std::make_unique<PortalCaptureStream>(portal_, filter.display.frame, configuration, output,
                                                 LinuxCapturePlatform::systemAudio(filter, configuration));
}

std::unique_ptr<MicrophoneSession> SessionCapturePlatform::makeMicrophone(MicrophoneOutput& output) {
    return linux_.makeMicrophone(output);
}

}  // namespace vidora
