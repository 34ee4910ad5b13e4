// SPDX-License-Identifier: GPL-3.0-or-later
#include "writer/FfmpegMovieWriter.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string_view>
#include <thread>
#include <utility>

#include "capture/MovieFiles.h"
#include "writer/AudioEncoder.h"
#include "writer/BoundedQueue.h"
#include "writer/FramePacer.h"
#include "writer/MovieMuxer.h"
#include "writer/VideoEncoder.h"

namespace vidora {
namespace {

// Enough to ride out a key frame's longer encoding: each waiting frame holds a whole picture in
// memory, and stop() encodes every one of them before the movie is finished.
constexpr std::size_t videoQueueFrames = 4;
constexpr std::size_t audioQueueSeconds = 1;

std::size_t frameCost(const VideoFrame&) {
    return 1;
}
std::size_t sampleCost(const AudioBuffer& buffer) {
    return static_cast<std::size_t>(buffer.frameCount());
}

// The body of a track's thread: encodes until the queue is closed and drained, then flushes.
template <typename Item, typename TrackEncoder>
std::jthread startTrack(const char* name, BoundedQueue<Item>& queue, TrackEncoder& encoder) {
    std::jthread thread([&queue, &encoder] {
        while (auto item = queue.pop()) {
            encoder.encode(*item);
        }
        encoder.flush();
    });
    ::pthread_setname_np(thread.native_handle(), name);
    return thread;
}

// Below the game: libx265 makes its threads from the thread that opens it, and they inherit its
// scheduling policy and nice value. The capture and sound threads keep theirs. TAVRIN_ENCODER_PRIORITY
// (normal, batch, idle) chooses another, to compare them.
void giveWayToOtherPrograms() {
    const char* chosen = std::getenv("TAVRIN_ENCODER_PRIORITY");
    const std::string_view priority = chosen != nullptr ? chosen : "batch";
    if (priority == "normal") {
        return;
    }
    const sched_param none{};
    ::pthread_setschedparam(::pthread_self(), priority == "idle" ? SCHED_IDLE : SCHED_BATCH, &none);
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

}  // namespace

// Everything of one movie. Members are destroyed bottom up: the threads end before the encoders and the
// muxer they use.
struct FfmpegMovieWriter::Movie {
    Movie(int frameRate, int sampleRate)
        : pacer(frameRate),
          systemAudioQueue(audioQueueSeconds * static_cast<std::size_t>(sampleRate), sampleCost),
          microphoneQueue(audioQueueSeconds * static_cast<std::size_t>(sampleRate), sampleCost) {}
    ~Movie() { closeQueues(); }

    void closeQueues() {
        videoQueue.close();
        systemAudioQueue.close();
        microphoneQueue.close();
    }
    // Opens the video encoder on the video thread, which then encodes what the queue brings; false
    // when none opens.
    bool openVideo(const VideoSettings& settings) {
        std::promise<bool> opened;
        auto result = opened.get_future();
        videoThread = std::jthread([this, settings, opened = std::move(opened)]() mutable {
            ::pthread_setname_np(::pthread_self(), "vidora-video");
            giveWayToOtherPrograms();
            video = VideoEncoder::create(settings);
            opened.set_value(video != nullptr);
            if (!video) {
                return;
            }
            while (auto frame = videoQueue.pop()) {
                const auto begun = std::chrono::steady_clock::now();
                video->encode(*frame);
                pacer.encoded(std::chrono::steady_clock::now() - begun);
            }
            video->flush();
        });
        return result.get();
    }
    void startAudio() {
        systemAudioThread = startTrack("vidora-audio", systemAudioQueue, *systemAudio);
        microphoneThread = startTrack("vidora-mic", microphoneQueue, *microphone);
    }
    BoundedQueue<AudioBuffer>& audioQueue(Track track) {
        return track == Track::systemAudio ? systemAudioQueue : microphoneQueue;
    }
    bool encodersFailed() const {
        return video->encoder().failed() || systemAudio->encoder().failed() || microphone->encoder().failed();
    }

    FramePacer pacer;
    std::unique_ptr<MovieMuxer> muxer;
    std::unique_ptr<VideoEncoder> video;
    std::unique_ptr<AudioEncoder> systemAudio;
    std::unique_ptr<AudioEncoder> microphone;
    BoundedQueue<VideoFrame> videoQueue{videoQueueFrames, frameCost};
    BoundedQueue<AudioBuffer> systemAudioQueue;
    BoundedQueue<AudioBuffer> microphoneQueue;
    std::jthread videoThread;
    std::jthread systemAudioThread;
    std::jthread microphoneThread;
};

FfmpegMovieWriter::FfmpegMovieWriter() = default;

FfmpegMovieWriter::~FfmpegMovieWriter() {
    finishWriting();
}

bool FfmpegMovieWriter::startWriting(const std::string& path, const VideoSettings& video,
                                     const AudioSettings& audio) {
    if (movie_) {
        return false;
    }
    // Encoders first: a missing one must not leave an empty file behind.
    auto movie = std::make_unique<Movie>(movieFrameRate(video), audio.sampleRate);
    movie->systemAudio = AudioEncoder::create(audio);
    movie->microphone = AudioEncoder::create(audio);
    if (!movie->systemAudio || !movie->microphone || !movie->openVideo(video)) {
        problem_ = RecordingProblem::encoderFailed;
        return false;
    }
    errno = 0;
    movie->muxer = MovieMuxer::create(path);
    MovieMuxer* const muxer = movie->muxer.get();
    if (!muxer) {
        problem_ = errno == ENOSPC ? RecordingProblem::diskFull : RecordingProblem::cannotWrite;
        return false;
    }
    problem_ = RecordingProblem::cannotWrite;
    Encoder& videoEncoder = movie->video->encoder();
    AudioEncoder& systemAudioEncoder = *movie->systemAudio;
    AudioEncoder& microphoneEncoder = *movie->microphone;
    const int videoStream = muxer->addStream(videoEncoder.context(), MKTAG('h', 'v', 'c', '1'));
    const int systemAudioStream = muxer->addStream(systemAudioEncoder.encoder().context());
    const int microphoneStream = muxer->addStream(microphoneEncoder.encoder().context());
    if (videoStream < 0 || systemAudioStream < 0 || microphoneStream < 0 || !muxer->writeHeader()) {
        muxer->discard();
        return false;
    }
    // A video packet lasts a frame; the muxer needs that for the last one of each fragment. The video
    // thread waits for its first frame, which the queue hands over after this.
    videoEncoder.attach(*muxer, videoStream, 0, 1);
    systemAudioEncoder.encoder().attach(*muxer, systemAudioStream, systemAudioEncoder.delay(), 0);
    microphoneEncoder.encoder().attach(*muxer, microphoneStream, microphoneEncoder.delay(), 0);
    movie->startAudio();
    movie_ = std::move(movie);
    path_ = path;
    sessionStart_.reset();
    problem_.reset();
    return true;
}

void FfmpegMovieWriter::startSession(MediaTime sourceTime) {
    if (movie_ && !sessionStart_) {
        sessionStart_ = sourceTime;
    }
}

bool FfmpegMovieWriter::isReadyForMoreMediaData(Track track) const {
    if (!movie_) {
        return false;
    }
    return track == Track::video ? movie_->videoQueue.hasRoom() : movie_->audioQueue(track).hasRoom();
}

bool FfmpegMovieWriter::wantsVideoFrame(MediaTime sourceTime) const {
    return movie_ && movie_->pacer.wants(sourceTime);
}

void FfmpegMovieWriter::append(VideoFrame frame) {
    // The pacer counts in capture time, which the capture thread can ask it about too.
    if (!movie_ || !sessionStart_ || !frame.complete || frame.presentationTime < *sessionStart_ ||
        !movie_->pacer.keep(frame.presentationTime)) {
        return;
    }
    frame.presentationTime -= *sessionStart_;
    movie_->videoQueue.tryPush(std::move(frame));
}

void FfmpegMovieWriter::append(Track track, AudioBuffer buffer) {
    if (!movie_ || !sessionStart_ || track == Track::video || !buffer.valid || buffer.channels <= 0 ||
        buffer.sampleRate <= 0) {
        return;
    }
    buffer.presentationTime -= *sessionStart_;
    if (buffer.presentationTime < MediaTime::zero()) {
        // Keep only the samples from the start on.
        const double early = static_cast<double>(-buffer.presentationTime.count()) * buffer.sampleRate / 1e9;
        const auto cut = static_cast<std::int64_t>(std::ceil(early));
        if (cut >= buffer.frameCount()) {
            return;
        }
        buffer.samples.erase(buffer.samples.begin(), buffer.samples.begin() + cut * buffer.channels);
        buffer.presentationTime +=
            MediaTime(std::llround(static_cast<double>(cut) * 1e9 / buffer.sampleRate));
    }
    movie_->audioQueue(track).tryPush(std::move(buffer));
}

bool FfmpegMovieWriter::hasFailed() const {
    return movie_ ? movie_->muxer->hasFailed() || movie_->encodersFailed() : failed();
}

RecordingProblem FfmpegMovieWriter::failure() const {
    if (!movie_) {
        return problem_.value_or(RecordingProblem::cannotWrite);
    }
    if (movie_->encodersFailed()) {
        return RecordingProblem::encoderFailed;
    }
    return movie_->muxer->diskFull() ? RecordingProblem::diskFull : RecordingProblem::cannotWrite;
}

void FfmpegMovieWriter::finishWriting() {
    if (!movie_) {
        return;
    }
    movie_->closeQueues();
    movie_->videoThread.join();
    movie_->systemAudioThread.join();
    movie_->microphoneThread.join();
    const bool written = movie_->muxer->finish();
    if (!written || movie_->encodersFailed()) {
        problem_ = failure();
    }
    framesWritten_ = movie_->video->framesEncoded();
    movie_.reset();
    sessionStart_.reset();
    if (!written) {
        // The fragment the end could not write is torn, and a torn fragment keeps players from opening
        // the movie: it goes back to its last whole one, or holds no picture at all.
        const std::uint64_t playable = playableLength(path_);
        std::error_code error;
        if (playable < std::filesystem::file_size(path_, error) && !error) {
            std::filesystem::resize_file(path_, playable, error);
        }
        if (playable == 0) {
            framesWritten_ = 0;
        }
    }
}

}  // namespace vidora
