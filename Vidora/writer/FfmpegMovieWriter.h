// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "writer/MovieSink.h"

namespace vidora {

// The movie writer on FFmpeg. One MP4 file (whatever the path's extension) with HEVC video (libx265, tag
// hvc1) and two mono Opus tracks (system audio, microphone; both present even when one stays empty),
// written in fragments from each key frame (at least every 2 s) so that a recording cut off by a crash
// plays up to its last fragment.
//
// Threads: startWriting, startSession, isReadyForMoreMediaData and both appends come from the recorder's
// sample queue, one call at a time; finishWriting from the thread that stops the recording, once the
// last append has returned. Each track is encoded on a thread of its own, owned by the writer and fed
// by a bounded queue (video: 4 frames, audio: 1 s); a track is ready while its queue has room, and an
// append that meets a full queue is dropped. The video thread opens its encoder itself, below the
// game's priority, which libx265's own threads take from it. Frames the video encoder cannot keep up
// with are dropped evenly before they reach its queue. Packets of the three threads are muxed in turn.
class FfmpegMovieWriter final : public MovieSink {
public:
    FfmpegMovieWriter();
    // Finishes a movie still being written.
    ~FfmpegMovieWriter() override;
    FfmpegMovieWriter(const FfmpegMovieWriter&) = delete;
    FfmpegMovieWriter& operator=(const FfmpegMovieWriter&) = delete;

    // False, leaving nothing behind, when an encoder is missing or refuses the settings, when the file
    // cannot be created (a file already at `path` is never replaced), or while a movie is being written.
    bool startWriting(const std::string& path, const VideoSettings& video,
                      const AudioSettings& audio) override;
    // The first call fixes the movie's start; samples are timed from there and earlier ones dropped
    // (audio buffers straddling it are cut). Samples appended before this call are dropped too.
    void startSession(MediaTime sourceTime) override;
    bool isReadyForMoreMediaData(Track track) const override;
    bool wantsVideoFrame(MediaTime sourceTime) const override;
    // Incomplete frames are dropped.
    void append(VideoFrame frame) override;
    // Buffers marked invalid, without a format or given for the video track are dropped.
    void append(Track track, AudioBuffer buffer) override;
    // Encodes what is queued, finishes the tracks and closes the file; does nothing without a movie. When
    // the end cannot be written, the file is cut back to its last whole fragment.
    void finishWriting() override;

    // Whether the last finished movie met an encoding or write error, its end included (the file is then
    // cut short).
    bool failed() const { return !movie_ && problem_.has_value(); }
    bool hasFailed() const override;
    RecordingProblem failure() const override;
    std::int64_t framesWritten() const override { return framesWritten_; }

private:
    struct Movie;
    std::unique_ptr<Movie> movie_;
    std::optional<MediaTime> sessionStart_;
    std::string path_;
    // Why the last movie could not start, or failed up to its end; nothing while all went well.
    std::optional<RecordingProblem> problem_;
    std::int64_t framesWritten_ = 0;
};

}  // namespace vidora
