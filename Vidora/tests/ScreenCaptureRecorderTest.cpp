// The recorder's engine with fakes for the content, the capture platform and the writer.
#include <gtest/gtest.h>

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
using tavrin::testing::TemporaryFolder;
using tavrin::testing::waitUntil;
using Calls = std::vector<std::string>;

const std::string game = "com.blizzard.worldofwarcraft";

class FakeContent final : public ContentProvider {
public:
    std::optional<ShareableContent> getShareableContent() const override {
        return ShareableContent{{{7, 1920, 1080, {0, 0, 1920, 1080}}},
                                {{1, true, ApplicationRecord{game, 42}, {100, 100, 800, 600}}},
                                {ApplicationRecord{game, 42}}};
    }
    std::optional<std::string> ownBundleIdentifier() const override { return "net.tavrinworks.Vidora"; }
};

// What reached the writers, in order. Each writer creates an empty file, so that renames can be seen.
struct WriterLog {
    std::mutex mutex;
    Calls calls;
    bool appendedAfterFinish = false;
    bool finished = false;
    std::atomic<bool> starts = true;
    std::atomic<bool> ready = true;
    std::atomic<bool> failed = false;

    void note(const std::string& call) {
        std::lock_guard lock(mutex);
        appendedAfterFinish |= finished;
        calls.push_back(call);
    }
    Calls taken() {
        std::lock_guard lock(mutex);
        return calls;
    }
};

class FakeSink final : public MovieSink {
public:
    explicit FakeSink(WriterLog& log) : log_(log) {}

    bool startWriting(const std::string& path, const VideoSettings& video, const AudioSettings&) override {
        if (!log_.starts) {
            return false;
        }
        std::ofstream{path};
        log_.finished = false;
        log_.note("start " + std::to_string(video.width) + "x" + std::to_string(video.height));
        return true;
    }
    void startSession(MediaTime time) override { log_.note("session " + std::to_string(time.count())); }
    bool isReadyForMoreMediaData(Track) const override { return log_.ready; }
    void append(VideoFrame frame) override {
        log_.note("video " + std::to_string(frame.presentationTime.count()));
    }
    void append(Track track, AudioBuffer buffer) override {
        log_.note((track == Track::microphone ? "microphone " : "audio ") +
                  std::to_string(buffer.presentationTime.count()) + " " +
                  std::to_string(buffer.samples.at(0)));
    }
    void finishWriting() override {
        std::lock_guard lock(log_.mutex);
        log_.finished = true;
    }
    bool hasFailed() const override { return log_.failed; }

private:
    WriterLog& log_;
};

class FakeStream final : public CaptureStream {
public:
    bool startCapture() override { return true; }
    void stopCapture() override {}
};

class FakePlatform final : public CapturePlatform {
public:
    std::unique_ptr<CaptureStream> makeStream(const ContentFilter& filter, const StreamConfiguration&,
                                              StreamOutput&) override {
        filters.push_back(filter);
        return std::make_unique<FakeStream>();
    }
    std::unique_ptr<MicrophoneSession> makeMicrophone(MicrophoneOutput&) override { return nullptr; }

    std::vector<ContentFilter> filters;
};

VideoFrame frame(std::int64_t time, bool complete = true) {
    VideoFrame picture;
    picture.presentationTime = MediaTime(time);
    picture.complete = complete;
    return picture;
}

AudioBuffer sound(std::int64_t time, std::int16_t level) {
    AudioBuffer buffer;
    buffer.samples.assign(480, level);
    buffer.presentationTime = MediaTime(time);
    return buffer;
}

class ScreenCaptureRecorderTest : public ::testing::Test {
protected:
    std::size_t posted() {
        std::lock_guard lock(mutex);
        return mainQueue.size();
    }

    TemporaryFolder movies;
    FakeContent content;
    FakePlatform platform;
    tavrin::testing::ManualClock clock{tavrin::Date(std::chrono::seconds(1'700'000'000))};
    std::mutex mutex;
    std::vector<std::function<void()>> mainQueue;
    int writersMade = 0;
    WriterLog log;
    ScreenCaptureRecorder recorder{content, platform,
                                   [this] {
                                       ++writersMade;
                                       return std::make_unique<FakeSink>(log);
                                   },
                                   clock,
                                   [this](std::function<void()> work) {
                                       std::lock_guard lock(mutex);
                                       mainQueue.push_back(std::move(work));
                                   }};
};

TEST_F(ScreenCaptureRecorderTest, RecordsOneMovieAtATimeAtTheTargetsSize) {
    EXPECT_FALSE(recorder.setup("org.example.NotRunning"));
    EXPECT_FALSE(recorder.setup(std::int64_t{8}));  // no such display
    recorder.start(movies.file("none.mp0"), true);  // no target: nothing
    EXPECT_EQ(writersMade, 0);
    ASSERT_TRUE(recorder.setup(game));
    recorder.start(movies.file("a.mp0"), true);
    recorder.start(movies.file("b.mp0"), true);  // already recording: nothing
    EXPECT_EQ(writersMade, 1);
    recorder.stop();
    EXPECT_TRUE(std::filesystem::exists(movies.file("a.mp4")));
    EXPECT_FALSE(std::filesystem::exists(movies.file("a.mp0")) ||
                 std::filesystem::exists(movies.file("b.mp0")));

    recorder.start(movies.file("c.mp0"), true);  // no new setup: the same target
    recorder.stop();
    recorder.stop();  // nothing to stop
    ASSERT_EQ(platform.filters.size(), 2U);
    EXPECT_EQ(platform.filters[0], platform.filters[1]);
    EXPECT_TRUE(std::filesystem::exists(movies.file("c.mp4")));
    EXPECT_EQ(log.taken(), Calls(2, "start 1920x1080"));
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
    AudioBuffer broken = sound(40, 100);
    broken.valid = false;
    recorder.didOutputMicrophone(broken);
    recorder.didOutputScreen(frame(50));
    recorder.stop();
    EXPECT_FALSE(recorder.startTime());
    EXPECT_EQ(log.taken(), (Calls{"start 1920x1080", "session 20", "video 20", "microphone 25 0",
                                  "microphone 35 100", "video 50"}));
}

TEST_F(ScreenCaptureRecorderTest, FullQueuesDropWhatArrives) {
    log.ready = false;
    ASSERT_TRUE(recorder.setup(game));
    recorder.start(movies.file("a.mp0"), true);
    recorder.didOutputScreen(frame(20));
    recorder.didOutputAudio(sound(21, 5));
    recorder.didOutputMicrophone(sound(22, 5));
    recorder.stop();
    EXPECT_EQ(log.taken(), (Calls{"start 1920x1080", "session 20"}));
}

TEST_F(ScreenCaptureRecorderTest, WriterThatCannotStartLeavesTheRecorderFree) {
    ASSERT_TRUE(recorder.setup(game));
    log.starts = false;
    recorder.start(movies.file("a.mp0"), true);
    EXPECT_FALSE(recorder.isRecording());
    log.starts = true;
    recorder.start(movies.file("b.mp0"), true);
    EXPECT_TRUE(recorder.isRecording());
    recorder.stop();
    EXPECT_TRUE(std::filesystem::exists(movies.file("b.mp4")));
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
    recorder.start(movies.file("b.mp0"), true);  // the queue still works
    recorder.stop();
    std::lock_guard lock(log.mutex);
    EXPECT_FALSE(log.appendedAfterFinish);
}

// A stream that ends on its own and a writer that can no longer write (a full disk) both end the
// recording on the main queue, once, with the movie so far finished and renamed.
TEST_F(ScreenCaptureRecorderTest, RecordingThatCannotGoOnStopsOnTheMainQueue) {
    ASSERT_TRUE(recorder.setup(game));
    for (const bool writerFails : {false, true}) {
        SCOPED_TRACE(writerFails ? "writer failed" : "stream ended");
        mainQueue.clear();
        log.calls.clear();
        const std::string path = movies.file(std::to_string(writerFails) + ".mp0");
        recorder.start(path, true);
        log.failed = writerFails;
        if (writerFails) {
            recorder.didOutputScreen(frame(20));
            recorder.didOutputScreen(frame(30));
            recorder.didOutputMicrophone(sound(35, 1));  // handled after both frames
            ASSERT_TRUE(waitUntil([&] { return log.taken().size() == 5; }, 10s));
        } else {
            recorder.didStopWithError();
        }
        ASSERT_EQ(posted(), 1U);
        EXPECT_TRUE(recorder.isRecording());
        mainQueue.front()();
        EXPECT_FALSE(recorder.isRecording());
        EXPECT_TRUE(log.finished);
        EXPECT_TRUE(std::filesystem::exists(movies.file(std::to_string(writerFails) + ".mp4")));
    }
}

}  // namespace
}  // namespace vidora
