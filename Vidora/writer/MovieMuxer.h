// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "writer/FfmpegHandles.h"

namespace vidora {

// The movie file: MP4, written in fragments that start at each video key frame, so that everything up
// to the last complete fragment survives a crash. Streams are added and the header written by the
// thread that starts the movie; write() is called by the encoder threads and serialised here;
// finish() or discard() runs once the encoders are done.
class MovieMuxer {
public:
    // Creates the file at `path` (MP4 whatever its extension), never replacing an existing one;
    // nothing when it cannot be created.
    static std::unique_ptr<MovieMuxer> create(const std::string& path);
    ~MovieMuxer();
    MovieMuxer(const MovieMuxer&) = delete;
    MovieMuxer& operator=(const MovieMuxer&) = delete;

    // A stream for an opened encoder, tracks in the order added; its index, or -1.
    int addStream(const AVCodecContext& encoder, unsigned codecTag = 0);
    bool writeHeader();
    // Encoder threads: one packet of `stream`, timestamps in `timeBase`, increasing per stream.
    void write(int stream, AVPacket& packet, AVRational timeBase);
    // Writes the rest and closes the file; false when any write failed, this last one included.
    bool finish();
    // A packet could not be written; any thread.
    bool hasFailed() const { return writeFailed_; }
    // A write failed for want of room on the disk; any thread.
    bool diskFull() const { return diskFull_; }
    // Closes and removes the file: a movie that could not start.
    void discard();

private:
    MovieMuxer(std::string path, int descriptor, ffmpeg::FormatContextPtr format);
    void close();
    // Takes an FFmpeg result: a failure is logged (the first one) and remembered. Holding mutex_.
    void note(int result);

    std::string path_;
    int descriptor_;
    std::mutex mutex_;  // guards format_ and failed_ once encoder threads write
    ffmpeg::FormatContextPtr format_;
    bool failed_ = false;
    std::atomic<bool> writeFailed_{false};
    std::atomic<bool> diskFull_{false};
};

}  // namespace vidora
