// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <mutex>
#include <thread>

#include "capture/CaptureStream.h"
#include "linux/PulseAudioSource.h"

namespace vidora {

// A capture stream on an X11 display: a capture thread grabs the content filter's picture at the
// configured rate (at most 60 frames a second, paced on the steady clock; a frame the output does not
// want is not grabbed) and hands each frame to StreamOutput::didOutputScreen on that thread; the audio
// source, when there is one, hands its buffers to didOutputAudio on its own thread. A frame the grab
// could not make arrives incomplete and without pixels. Frames have the display's size; the
// configuration's width and height do not scale them. When the display goes away the capture thread
// calls didStopWithError and ends.
//
// Threads: construct, startCapture, stopCapture and destroy from one thread at a time, never from
// inside the output's callbacks.
class X11CaptureStream final : public CaptureStream {
public:
    // `audio` may be null: a stream without sound.
    X11CaptureStream(ContentFilter filter, StreamConfiguration configuration, StreamOutput& output,
                     std::unique_ptr<PulseAudioSource> audio);
    ~X11CaptureStream() override;

    // False when there is no display to connect to.
    bool startCapture() override;
    // Joins the capture thread and stops the sound; nothing is delivered after it returns.
    void stopCapture() override;

private:
    ContentFilter filter_;
    StreamConfiguration configuration_;
    StreamOutput& output_;
    std::unique_ptr<PulseAudioSource> audio_;
    std::jthread capture_;
};

}  // namespace vidora
