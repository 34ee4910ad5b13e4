#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "ChildProcess.h"
#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "capture/MovieLocations.h"
#include "capture/ScreenCaptureRecorder.h"

namespace vidora {
namespace {

using tavrin::testing::ManualClock;
using tavrin::testing::TemporaryFolder;

const std::string game = "com.blizzard.worldofwarcraft";

class FakeContent final : public ContentProvider {
public:
    std::optional<ShareableContent> getShareableContent() const override { return content; }
    std::optional<std::string> ownBundleIdentifier() const override { return "net.tavrinworks.Vidora"; }

    ShareableContent content{{{7, 1920, 1080, {0, 0, 1920, 1080}}},
                             {{1, true, ApplicationRecord{game, 42}, {100, 100, 800, 600}}},
                             {ApplicationRecord{game, 42}}};
};

// Records what reaches the movie; the file it "writes" is an empty placeholder so renames can be seen.
class FakeSink final : public MovieSink {
public:
    struct Log {
        std::mutex mutex;
        std::vector<std::string> calls;
        std::vector<AudioBuffer> microphone;
        std::optional<MediaTime> sessionStart;
        bool appendedAfterFinish = false;
        bool finished = false;
    };
    FakeSink(std::shared_ptr<Log> log, bool starts, std::shared_ptr<std::atomic<bool>> ready)
        : log_(std::move(log)), starts_(starts), ready_(std::move(ready)) {}

    bool startWriting(const std::string& path, const VideoSettings& video, const AudioSettings&) override {
        if (!starts_) {
            return false;
        }
        std::ofstream(path) << "";
        note("start " + std::to_string(video.width) + "x" + std::to_string(video.height));
        return true;
    }
    void startSession(MediaTime sourceTime) override {
        std::lock_guard lock(log_->mutex);
        log_->sessionStart = sourceTime;
    }
    bool isReadyForMoreMediaData(Track) const override { return *ready_; }
    void append(VideoFrame frame) override {
        note("video " + std::to_string(frame.presentationTime.count()));
    }
    void append(Track track, AudioBuffer buffer) override {
        if (track == Track::microphone) {
            std::lock_guard lock(log_->mutex);
            log_->microphone.push_back(buffer);
        }
        note(track == Track::microphone ? "microphone" : "audio");
    }
    void finishWriting() override {
        std::lock_guard lock(log_->mutex);
        log_->finished = true;
    }

private:
    void note(const std::string& call) {
        std::lock_guard lock(log_->mutex);
        log_->appendedAfterFinish |= log_->finished;
        log_->calls.push_back(call);
    }
    std::shared_ptr<Log> log_;
    bool starts_;
    std::shared_ptr<std::atomic<bool>> ready_;
};

class FakeStream final : public CaptureStream {
public:
    explicit FakeStream(std::atomic<int>& started) : started_(started) {}
    bool startCapture() override {
        ++started_;
        return true;
    }
    void stopCapture() override {}

private:
    std::atomic<int>& started_;
};

class FakePlatform final : public CapturePlatform {
public:
    std::unique_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                              const StreamConfiguration& configuration,
                                              StreamOutput&) override {
        filters.push_back(filter);
        configurations.push_back(configuration);
        return std::make_unique<FakeStream>(started);
    }
    std::unique_ptr<MicrophoneSession> makeMicrophone(MicrophoneOutput&) override { return nullptr; }

    std::vector<ContentFilter> filters;
    std::vector<StreamConfiguration> configurations;
    std::atomic<int> started = 0;
};

VideoFrame frame(std::int64_t time, bool complete) {
    VideoFrame picture;
    picture.width = 4;
    picture.height = 2;
    picture.stride = 16;
    picture.pixels.assign(32, 0x80);
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
    ScreenCaptureRecorderTest()
        : recorder(
              content, platform, [this] { return makeWriter(); }, clock,
              [this](std::function<void()> work) { mainQueue.push_back(std::move(work)); }) {}

    std::unique_ptr<MovieSink> makeWriter() {
        ++writersMade;
        log = std::make_shared<FakeSink::Log>();
        return std::make_unique<FakeSink>(log, writersStart, ready);
    }
    std::vector<std::string> calls() {
        std::lock_guard lock(log->mutex);
        return log->calls;
    }

    TemporaryFolder movies;
    FakeContent content;
    FakePlatform platform;
    ManualClock clock{tavrin::Date(std::chrono::seconds(1'700'000'000))};
    std::vector<std::function<void()>> mainQueue;
    int writersMade = 0;
    bool writersStart = true;
    std::shared_ptr<std::atomic<bool>> ready = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<FakeSink::Log> log;
    ScreenCaptureRecorder recorder;
};

TEST_F(ScreenCaptureRecorderTest, SetupChoosesTheTargetAndItsSize) {
    EXPECT_FALSE(recorder.setup("org.example.NotRunning"));
    EXPECT_FALSE(recorder.filter());
    EXPECT_FALSE(recorder.setup(std::int64_t{8}));  // no such display
    ASSERT_TRUE(recorder.setup(game));
    recorder.start(movies.file("a.mp0"), true);
    ASSERT_EQ(platform.configurations.size(), 1U);
    EXPECT_EQ(platform.configurations[0].width, 1920);
    EXPECT_EQ(platform.configurations[0].height, 1080);
    EXPECT_EQ(platform.configurations[0].frameRate, 30);
    EXPECT_EQ(platform.configurations[0].sampleRate, 48000);
    EXPECT_EQ(platform.configurations[0].channelCount, 1);
    recorder.stop();
    EXPECT_EQ(calls().front(), "start 1920x1080");
}

TEST_F(ScreenCaptureRecorderTest, FirstCompleteFrameStartsTheTimeline) {
    ASSERT_TRUE(recorder.setup(game));
    recorder.start(movies.file("a.mp0"), true);
    recorder.didOutputMicrophone(sound(5, 100));  // before any frame: never in the movie
    recorder.didOutputScreen(frame(10, false));   // blank: dropped
    recorder.didOutputScreen(frame(20, true));
    recorder.didOutputMicrophone(sound(25, 100));
    recorder.didOutputScreen(frame(30, true));
    recorder.stop();
    EXPECT_EQ(log->sessionStart, MediaTime(20));
    EXPECT_EQ(calls(), (std::vector<std::string>{"start 1920x1080", "video 20", "microphone", "video 30"}));
    EXPECT_EQ(platform.started, 1);
    EXPECT_TRUE(log->finished);
}

TEST_F(ScreenCaptureRecorderTest, StartTimeIsTheWallClockOfTheFirstFrame) {
    ASSERT_TRUE(recorder.setup(game));
    recorder.start(movies.file("a.mp0"), true);
    EXPECT_FALSE(recorder.startTime());
    const auto now = clock.now();
    recorder.didOutputScreen(frame(20, true));
    recorder.didOutputScreen(frame(30, true));
    EXPECT_TRUE(tavrin::testing::waitUntil([&] { return recorder.startTime().has_value(); },
                                           std::chrono::seconds(10)));
    EXPECT_EQ(recorder.startTime(), now);
    recorder.stop();
    EXPECT_FALSE(recorder.startTime());
}

TEST_F(ScreenCaptureRecorderTest, MutedMicrophoneWritesSilenceWithTheCapturedTiming) {
    ASSERT_TRUE(recorder.setup(game));
    recorder.start(movies.file("a.mp0"), false);
    recorder.didOutputScreen(frame(20, true));
    recorder.didOutputMicrophone(sound(30, 1000));
    ASSERT_TRUE(tavrin::testing::waitUntil(
        [&] {
            std::lock_guard lock(log->mutex);
            return log->microphone.size() == 1;
        },
        std::chrono::seconds(10)));
    recorder.micState = true;  // read per buffer, as it is handled
    recorder.didOutputMicrophone(sound(40, 1000));
    AudioBuffer broken = sound(50, 1000);
    broken.valid = false;
    recorder.didOutputMicrophone(broken);
    recorder.stop();
    ASSERT_EQ(log->microphone.size(), 2U);
    EXPECT_EQ(log->microphone[0].presentationTime, MediaTime(30));
    EXPECT_EQ(log->microphone[0].samples, std::vector<std::int16_t>(480, 0));
    EXPECT_EQ(log->microphone[1].samples, std::vector<std::int16_t>(480, 1000));
}

TEST_F(ScreenCaptureRecorderTest, FullQueuesDropWhatArrives) {
    ASSERT_TRUE(recorder.setup(game));
    recorder.start(movies.file("a.mp0"), true);
    recorder.didOutputScreen(frame(20, true));
    recorder.didOutputAudio(sound(21, 5));
    recorder.stop();
    ready->store(false);
    recorder.start(movies.file("b.mp0"), true);
    recorder.didOutputScreen(frame(20, true));
    recorder.didOutputAudio(sound(21, 5));
    recorder.stop();
    EXPECT_EQ(calls(), std::vector<std::string>{"start 1920x1080"});
}

TEST_F(ScreenCaptureRecorderTest, OneMovieAtATimeAndTheTargetIsKept) {
    ASSERT_TRUE(recorder.setup(game));
    recorder.start(movies.file("a.mp0"), true);
    recorder.start(movies.file("b.mp0"), true);  // already recording: nothing
    EXPECT_EQ(writersMade, 1);
    recorder.stop();
    EXPECT_TRUE(std::filesystem::exists(movies.file("a.mp4")));
    EXPECT_FALSE(std::filesystem::exists(movies.file("a.mp0")));
    EXPECT_FALSE(std::filesystem::exists(movies.file("b.mp0")));

    recorder.start(movies.file("c.mp0"), true);  // no new setup: the same target
    recorder.stop();
    ASSERT_EQ(platform.filters.size(), 2U);
    EXPECT_EQ(platform.filters[0], platform.filters[1]);
    EXPECT_TRUE(std::filesystem::exists(movies.file("c.mp4")));
    recorder.stop();  // nothing to stop
}

TEST_F(ScreenCaptureRecorderTest, WriterThatCannotStartLeavesTheRecorderFree) {
    ASSERT_TRUE(recorder.setup(game));
    writersStart = false;
    recorder.start(movies.file("a.mp0"), true);
    EXPECT_FALSE(recorder.isRecording());
    recorder.stop();  // leaves the failed start alone
    writersStart = true;
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
            recorder.didOutputScreen(frame(time, true));
            recorder.didOutputAudio(sound(time, 3));
            recorder.didOutputMicrophone(sound(time, 4));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    recorder.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    running = false;
    producer.join();
    recorder.start(movies.file("b.mp0"), true);  // the queue still works
    recorder.stop();
    std::lock_guard lock(log->mutex);
    EXPECT_FALSE(log->appendedAfterFinish);
}

TEST_F(ScreenCaptureRecorderTest, StreamEndingOnItsOwnStopsOnTheMainQueue) {
    ASSERT_TRUE(recorder.setup(game));
    recorder.start(movies.file("a.mp0"), true);
    recorder.didStopWithError();
    ASSERT_EQ(mainQueue.size(), 1U);
    EXPECT_TRUE(recorder.isRecording());
    mainQueue.front()();
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_TRUE(std::filesystem::exists(movies.file("a.mp4")));
}

TEST(MovieLocations, MoviesLieInTavrinMoviesUnderTheirNames) {
    TemporaryFolder home;
    const MovieLocations locations([&home](std::string_view name) -> std::optional<std::string> {
        return name == "HOME" ? std::optional(home.path()) : std::nullopt;
    });
    EXPECT_EQ(locations.moviesURL(), home.path() + "/Videos/TavrinMovies");
    EXPECT_EQ(locations.logsURL(), home.path() + "/Videos/TavrinMovies/.logs");
    EXPECT_EQ(locations.movieURL("a.b"), home.path() + "/Videos/TavrinMovies/a.b.mp0");
    EXPECT_EQ(locations.downloadPath(), home.path() + "/Downloads");
    const MovieLocations homeless([](std::string_view) { return std::optional<std::string>(); });
    EXPECT_FALSE(homeless.movieURL("x"));

    const std::string archive = home.file("TavrinRecorder.zip");
    std::ofstream(archive) << "new";
    std::ofstream(home.file("copy.zip")) << "old and longer";
    EXPECT_TRUE(copyItem(archive, home.file("copy.zip")));
    EXPECT_EQ(tavrin::testing::readFile(home.file("copy.zip")), "new");
    EXPECT_FALSE(copyItem(home.file("missing.zip"), home.file("other.zip")));
}

}  // namespace
}  // namespace vidora
