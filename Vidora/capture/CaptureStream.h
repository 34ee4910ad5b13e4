// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>

#include "capture/ContentFilter.h"
#include "capture/Recorder.h"
#include "capture/Samples.h"

namespace vidora {

struct StreamConfiguration {
    int width = 0;
    int height = 0;
    int frameRate = 30;  // at most this many frames a second
    bool showsCursor = true;
    bool capturesAudio = true;
    int sampleRate = 48000;
    int channelCount = 1;
};

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

// Receives a stream's samples. Called on the stream's own capture threads (one for the picture, one
// for the sound), so implementations hand the samples on quickly and never block for long.
class StreamOutput {
public:
    virtual ~StreamOutput() = default;
    virtual void didOutputScreen(VideoFrame frame) = 0;
    // Whether a frame grabbed now would be used; a stream may skip a grab that would only be dropped.
    virtual bool wantsScreen(MediaTime /*time*/) { return true; }
    virtual void didOutputAudio(AudioBuffer buffer) = 0;
    // The stream ended on its own (the display went away, the sound server died for good).
    virtual void didStopWithError() = 0;
};

// One recording's capture of a content filter: the picture at the configured rate with the cursor,
// and the system audio. Created stopped; samples flow between startCapture and stopCapture.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // False when capture cannot begin; nothing is delivered then.
    virtual bool startCapture() = 0;
    // Why startCapture gave false; nothing when interrupt() ended it and nothing else went wrong.
    virtual std::optional<RecordingProblem> startFailure() const { return RecordingProblem::noPicture; }
    // Ends delivery; no sample is delivered after it returns.
    virtual void stopCapture() = 0;
    // Makes a startCapture that waits on another thread (for a person's answer, a first picture) give
    // up at once, and one not yet begun fail. Any thread.
    virtual void interrupt() {}
    // The size of the pictures the source settled on, once startCapture succeeded; nothing where the
    // configured size holds.
    virtual std::optional<PictureSize> pictureSize() const { return std::nullopt; }
};

// Receives microphone buffers, on the microphone's own capture thread.
class MicrophoneOutput {
public:
    virtual ~MicrophoneOutput() = default;
    virtual void didOutputMicrophone(AudioBuffer buffer) = 0;
};

// The default microphone at 48 kHz mono. Without a device or a sound server it delivers nothing.
class MicrophoneSession {
public:
    virtual ~MicrophoneSession() = default;
    virtual void startRunning() = 0;
    // No buffer is delivered after it returns.
    virtual void stopRunning() = 0;
};

// Makes the platform's capture objects.
class CapturePlatform {
public:
    virtual ~CapturePlatform() = default;
    virtual std::unique_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                                      const StreamConfiguration& configuration,
                                                      StreamOutput& output) = 0;
    // Nothing when there is no microphone (no sound server, no source).
    virtual std::unique_ptr<MicrophoneSession> makeMicrophone(MicrophoneOutput& output) = 0;
};

}  // namespace vidora
