// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "capture/Recorder.h"
#include "capture/Samples.h"

namespace vidora {

// The tracks of a movie, in the order they are added.
enum class Track { video, systemAudio, microphone };

struct VideoSettings {
    int width = 0;
    int height = 0;
    std::int64_t averageBitRate = 0;  // bits per second
    int expectedFrameRate = 30;
    bool operator==(const VideoSettings&) const = default;
};

struct AudioSettings {
    int bitRate = 192000;
    int sampleRate = 48000;
    int channels = 1;
    bool operator==(const AudioSettings&) const = default;
};

// width x height x (frameRate x 0.125) bits per second, the fraction dropped.
VideoSettings videoSettings(double width, double height, int frameRate = 30);
// The settings of a movie of a picture captured at `width` x `height`, scaled to `pictureHeight` lines
// (0, or more than captured: as captured) with its aspect kept, both sides even as YUV 4:2:0 needs.
VideoSettings scaledVideoSettings(int width, int height, int pictureHeight, int frameRate);
AudioSettings audioSettings();
// The rate a movie is written at: the expected one, 30 when none is given.
int movieFrameRate(const VideoSettings& settings);

// Writes one movie: a video track and two audio tracks. Appends come from the recorder's sample queue
// (one thread); encoding happens elsewhere, off that thread. A track whose queue is full is not ready,
// and a buffer offered to it is dropped by the caller.
class MovieSink {
public:
    virtual ~MovieSink() = default;
    // Opens the file and starts the encoders; false when writing cannot begin.
    virtual bool startWriting(const std::string& path, const VideoSettings& video,
                              const AudioSettings& audio) = 0;
    // Samples before `sourceTime` are not part of the movie; the timeline starts there.
    virtual void startSession(MediaTime sourceTime) = 0;
    virtual bool isReadyForMoreMediaData(Track track) const = 0;
    // Whether a video frame captured at `sourceTime` would be encoded rather than dropped, so that its
    // grab may be skipped; between startWriting and finishWriting, from the capture thread too.
    virtual bool wantsVideoFrame(MediaTime /*sourceTime*/) const { return true; }
    virtual void append(VideoFrame frame) = 0;
    virtual void append(Track track, AudioBuffer buffer) = 0;
    // Finishes every track and the file; returns when the file is complete.
    virtual void finishWriting() = 0;
    // The movie can no longer be written (the disk is full, the folder went away, an encoder failed);
    // any thread. After finishWriting: whether the finished movie failed, its end included.
    virtual bool hasFailed() const { return false; }
    // Why writing failed, or could not begin.
    virtual RecordingProblem failure() const { return RecordingProblem::cannotWrite; }
    // The video frames of the last finished movie.
    virtual std::int64_t framesWritten() const { return 0; }
};

}  // namespace vidora
