// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/X11CaptureStream.h"

#include <algorithm>
#include <condition_variable>
#include <utility>

#include "linux/X11Connection.h"
#include "linux/X11FrameGrabber.h"

namespace vidora {
namespace {

constexpr int highestFrameRate = 60;

// Grabs and delivers frames until asked to stop or the display goes away.
void captureFrames(std::stop_token stop, std::unique_ptr<X11FrameGrabber> grabber,
                   std::chrono::nanoseconds period, StreamOutput& output) {
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    auto due = std::chrono::steady_clock::now();
    MediaTime last{};
    while (!stop.stop_requested()) {
        // A frame the writer would drop is not grabbed: neither the X server nor this thread copies it.
        if (output.wantsScreen(mediaNow())) {
            VideoFrame frame = grabber->grab();
            // The steady clock never goes back, but two grabs may read the same tick.
            frame.presentationTime = std::max(frame.presentationTime, last + MediaTime(1));
            last = frame.presentationTime;
            if (!grabber->isConnected()) {
                output.didStopWithError();
                return;
            }
            output.didOutputScreen(std::move(frame));
        }
        // A late grab skips the frames it missed rather than catching up in a burst.
        due += period;
        const auto now = std::chrono::steady_clock::now();
        if (due < now) {
            due = now;
        }
        std::unique_lock lock(mutex);
        wakeUp.wait_until(lock, stop, due, [] { return false; });
    }
}

}  // namespace

X11CaptureStream::X11CaptureStream(ContentFilter filter, StreamConfiguration configuration,
                                   StreamOutput& output, std::unique_ptr<PulseAudioSource> audio)
    : filter_(std::move(filter)), configuration_(configuration), output_(output), audio_(std::move(audio)) {}

X11CaptureStream::~X11CaptureStream() {
    stopCapture();
}

bool X11CaptureStream::startCapture() {
    if (capture_.joinable()) {
        return true;
    }
    auto connection = X11Connection::open();
    if (!connection) {
        return false;
    }
    const int rate = configuration_.frameRate > 0 ? std::min(configuration_.frameRate, highestFrameRate)
                                                  : highestFrameRate;
    const std::chrono::nanoseconds period = std::chrono::nanoseconds(std::chrono::seconds(1)) / rate;
    capture_ = std::jthread(
        captureFrames,
        std::make_unique<X11FrameGrabber>(std::move(connection), filter_, configuration_.showsCursor), period,
        std::ref(output_));
    if (audio_) {
        audio_->start([this](AudioBuffer buffer) { output_.didOutputAudio(std::move(buffer)); });
    }
    return true;
}

void X11CaptureStream::stopCapture() {
    // The picture ends first: the sound then waits for what played up to that moment.
    if (capture_.joinable()) {
        capture_.request_stop();
        capture_.join();
    }
    if (audio_) {
        audio_->stop();
    }
}

}  // namespace vidora
