// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder's engine with fakes for the content, the capture platform and the writer.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "ChildProcess.h"
#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "capture/ScreenCaptureRecorder.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using tavrin::testing::waitUntil;
using Calls = std::vector<std::string>;

const std::string game = "com.blizzard.worldofwarcraft";

// What reached the writers, in order. Each writer creates an empty file, so that renames can be seen.
struct WriterLog {
    std::mutex mutex;
    Calls calls;
    std::atomic<bool> starts = true;
    std::atomic<bool> failed = false;
    std::atomic<bool> finishFails = false;  // the end of the movie cannot be written

    void note(const std::string& call) {
        std::lock_guard lock(mutex);
        calls.push_back(call);
    }
    Calls taken() {
        std::lock_guard lock(mutex);
        return calls;
    }
};

struct FakeSink final : MovieSink {
    explicit FakeSink(WriterLog& log) : log_(log) {}

    bool startWriting(const std::string& path, const VideoSettings& video, const AudioSettings&) override {
        frames_ = 0;
        if (log_.starts) {
            std::ofstream{path};
            log_.note("start " + std::to_string(video.width) + "x" + std::to_string(video.height) + " " +
                      std::to_string(video.expectedFrameRate));
        }
        return log_.starts;
    }
    void startSession(MediaTime time) override { log_.note("session " + std::to_string(time.count())); }
    bool isReadyForMoreMediaData(Track) const override { return true; }
    void append(VideoFrame v) override {
        ++frames_;
        log_.note("video " + std::to_string(v.presentationTime.count()));
    }
    void append(Track track, AudioBuffer buffer) override {
        log_.note((track == Track::microphone ? "microphone " : "audio ") +
                  std::to_string(buffer.presentationTime.count()) + " " +
                  std::to_string(buffer.samples.at(0)));
    }
    void finishWriting() override {
        log_.note("finish");
        log_.failed = log_.failed || log_.finishFails;
    }
    bool hasFailed() const override { return log_.failed; }
    std::int64_t framesWritten() const override { return frames_; }

    WriterLog& log_;
    std::int64_t frames_ = 0;
};

VideoFrame frame(std::int64_t time, bool complete = true) {
    return {{}, 0, 0, 0, MediaTime(time), complete};
}

AudioBuffer sound(std::int64_t time, std::int16_t level, bool valid = true) {
    return {std::vector<std::int16_t>(480, level), 48000, 1, MediaTime(time), valid};
}

// The fixture is the content (one game window on one display) and the capture platform.
class ScreenCaptureRecorderTest : public ::testing::Test, ContentProvider, CapturePlatform {
protected:
    struct Stream final : CaptureStream {
        bool startCapture() override { return true; }
        void stopCapture() override {}
    };
    struct Microphone final : MicrophoneSession {
        explicit Microphone(WriterLog& log) : log_(log) {}
        void startRunning() override { log_.note("microphone on"); }
        void stopRunning() override { log_.note("microphone off"); }
        WriterLog& log_;
    };
    std::optional<ShareableContent> getShareableContent() const override {
        return ShareableContent{{{7, 1920, 1080, {0, 0, 1920, 1080}}},
                                {{1, true, ApplicationRecord{game, 42}, {100, 100, 800, 600}}},
                                {ApplicationRecord{game, 42}}};
    }
    std::optional<std::string> ownBundleIdentifier() const override { return std::nullopt; }
    std::unique_ptr<CaptureStream> makeStream(const ContentFilter&, const StreamConfiguration&,
                                              StreamOutput&) override {
        return std::make_unique<Stream>();
    }
    std::unique_ptr<MicrophoneSession> makeMicrophone(MicrophoneOutput&) override {
        return withMicrophone ? std::make_unique<Microphone>(log) : nullptr;
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(movies.file(name)); }
    std::size_t posted() {
        const std::lock_guard lock(mainMutex);
        return mainQueue.size();
    }
    void runPosted() {
        std::vector<std::function<void()>> work;
        {
            const std::lock_guard lock(mainMutex);
            work.swap(mainQueue);
        }
        for (auto& piece : work) {
            piece();
        }
    }

    bool withMicrophone = false;
    tavrin::testing::TemporaryFolder movies;
    tavrin::testing::ManualClock clock{tavrin::Date(std::chrono::seconds(1'700'000'000))};
    std::mutex mainMutex;
    std::vector<std::function<void()>> mainQueue;
    WriterLog log;
    ScreenCaptureRecorder recorder{*this, *this, [this] { return std::make_unique<FakeSink>(log); }, clock,
                                   [this](std::function<void()> work) {
                                       const std::lock_guard lock(mainMutex);
                                       mainQueue.push_back(std::move(work));
                                   }};
};

// One movie at a time, at the size of the display the game is on. A writer that cannot start ends its
// recording, so that a later start succeeds; a recording without a single frame leaves no file.
TEST_F(ScreenCaptureRecorderTest, StartsOneMovieAtATimeAndKeepsOnlyMoviesWithAPicture) {
    EXPECT_FALSE(recorder.setup("org.example.NotRunning"));
    recorder.start(movies.file("none.mp0"), true);  // no target: nothing
    ASSERT_TRUE(recorder.setup(game));
    log.starts = false;
    recorder.start(movies.file("refused.mp0"), true);
    ASSERT_TRUE(waitUntil([&] { return posted() == 1; }, 10s));
    runPosted();
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(recorder.takeResult()->problem, RecordingProblem::cannotWrite);
    log.starts = true;
    recorder.start(movies.file("a.mp0"), true);
    recorder.start(movies.file("b.mp0"), true);  // already recording: nothing
    recorder.didOutputScreen(frame(10));
    // The folder is held while the movie is written: a recorder launching then leaves the movie alone.
    const auto recoveryCanRun = [&] { return FolderLock::take(movies.path(), FolderLock::Holder::recovery); };
    EXPECT_TRUE(waitUntil([&] { return !recoveryCanRun(); }, 10s));
    // A stream that ends on its own ends the recording on the main queue.
    recorder.didStopWithError();
    ASSERT_EQ(posted(), 1U);
    EXPECT_TRUE(recorder.isRecording());
    runPosted();
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_TRUE(recoveryCanRun());
    EXPECT_TRUE(exists("a.mp4"));
    const auto ended = recorder.takeResult();
    EXPECT_TRUE(ended && ended->fileKept && ended->movie == movies.file("a.mp4") &&
                ended->problem == RecordingProblem::sourceEnded);
    EXPECT_FALSE(exists("b.mp0") || exists("none.mp0") || exists("refused.mp0"));
    recorder.start(movies.file("c.mp0"), true);  // no new setup: the same target
    // A stop the recorder posted for one recording never ends the next one.
    recorder.didStopWithError();
    recorder.stop();
    EXPECT_FALSE(exists("c.mp0") || exists("c.mp4")) << "a movie without a picture was kept";
    EXPECT_EQ(recorder.takeResult()->problem, RecordingProblem::noPicture);
    EXPECT_FALSE(recorder.takeResult()) << "told once";
    recorder.setMovieFormat({.pictureHeight = 720, .frameRate = 60});
    recorder.start(movies.file("d.mp0"), true);
    runPosted();
    EXPECT_TRUE(recorder.isRecording());
    ASSERT_TRUE(waitUntil([&] { return log.taken().size() == 7; }, 10s));
    EXPECT_EQ(log.taken(), (Calls{"start 1920x1080 30", "session 10", "video 10", "finish",
                                  "start 1920x1080 30", "finish", "start 1280x720 60"}));
}

// A picture size is chosen as a height: the width follows the captured picture's aspect, both even, and
// a picture is never made larger than captured. The bit rate follows the movie's size and frame rate.
TEST(MovieSizeTest, ScalesToTheChosenHeightKeepingTheAspect) {
    const std::array<std::array<int, 5>, 7> sizes = {{{1920, 1080, 720, 1280, 720},
                                                      {2560, 1600, 720, 1152, 720},
                                                      {3440, 1440, 1080, 2580, 1080},
                                                      {1366, 768, 720, 1280, 720},
                                                      {1280, 720, 1080, 1280, 720},
                                                      {1921, 1081, 0, 1921, 1081},
                                                      {1000, 1001, 719, 718, 718}}};
    for (const auto& [width, height, lines, movieWidth, movieHeight] : sizes) {
        const VideoSettings movie = scaledVideoSettings(width, height, lines, 30);
        EXPECT_EQ(std::pair(movie.width, movie.height), std::pair(movieWidth, movieHeight))
            << width << "x" << height;
    }
    EXPECT_EQ(scaledVideoSettings(1920, 1080, 720, 60).averageBitRate, 1280 * 720 * 60 / 8);
}

TEST_F(ScreenCaptureRecorderTest, FirstCompleteFrameStartsTheTimelineAndMicStateCountsPerBuffer) {
    ASSERT_TRUE(recorder.setup(game));
    recorder.start(movies.file("a.mp0"), false);
    recorder.didOutputMicrophone(sound(5, 100));  // before any frame: never in the movie
    recorder.didOutputScreen(frame(10, false));   // blank: dropped
    const auto firstFrameAt = clock.now();
    recorder.didOutputScreen(frame(20));
    recorder.didOutputMicrophone(sound(25, 100));  // muted: zeros with the captured timing
    ASSERT_TRUE(waitUntil([&] { return log.taken().size() == 4; }, 10s));
    EXPECT_EQ(recorder.startTime(), firstFrameAt);
    recorder.micState = true;
    recorder.didOutputMicrophone(sound(35, 100));
    recorder.didOutputMicrophone(sound(40, 100, false));  // broken: dropped
    // A writer that can no longer write (a full disk) ends the recording on the main queue, once.
    log.failed = true;
    recorder.didOutputScreen(frame(50));
    recorder.didOutputScreen(frame(60));
    recorder.didOutputMicrophone(sound(65, 100));  // handled after both frames
    ASSERT_TRUE(waitUntil([&] { return log.taken().size() == 8; }, 10s));
    ASSERT_EQ(posted(), 1U);
    runPosted();
    EXPECT_FALSE(recorder.isRecording() || recorder.startTime());
    EXPECT_TRUE(exists("a.mp4"));
    EXPECT_EQ(log.taken(),
              (Calls{"start 1920x1080 30", "session 20", "video 20", "microphone 25 0", "microphone 35 100",
                     "video 50", "video 60", "microphone 65 100", "finish"}));
}

// The microphone starts once capture runs, not while a start waits (for the desktop's dialog), so
// nothing piles up meanwhile. A movie whose end cannot be written is kept and told as the failure it is.
TEST_F(ScreenCaptureRecorderTest, MicrophoneStartsWithTheCaptureAndAMovieWhoseEndIsLostIsSaidSo) {
    withMicrophone = true;
    ASSERT_TRUE(recorder.setup(game));
    recorder.start(movies.file("a.mp0"), true);
    recorder.didOutputScreen(frame(10));
    ASSERT_TRUE(waitUntil([&] { return log.taken().size() == 4; }, 10s));
    log.finishFails = true;
    recorder.stop();
    EXPECT_EQ(log.taken(), (Calls{"start 1920x1080 30", "microphone on", "session 10", "video 10",
                                  "microphone off", "finish"}));
    const auto result = recorder.takeResult();
    EXPECT_TRUE(result && result->fileKept && result->endLost &&
                result->problem == RecordingProblem::cannotWrite && exists("a.mp4"));
}

TEST_F(ScreenCaptureRecorderTest, StopWhileSamplesArriveAppendsNothingAfterTheEnd) {
    ASSERT_TRUE(recorder.setup(game));
    recorder.start(movies.file("a.mp0"), true);
    std::atomic<bool> running = true;
    std::jthread producer([&] {
        for (std::int64_t time = 1; running; ++time) {
            recorder.didOutputScreen(frame(time));
            recorder.didOutputAudio(sound(time, 3));
            recorder.didOutputMicrophone(sound(time, 4));
        }
    });
    std::this_thread::sleep_for(50ms);
    recorder.stop();
    std::this_thread::sleep_for(50ms);
    running = false;
    producer.join();
    EXPECT_EQ(log.taken().back(), "finish");
}

}  // namespace
}  // namespace vidora
