#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "MovieProbe.h"
#include "TemporaryFolder.h"
#include "capture/SilentSound.h"
#include "writer/FfmpegMovieWriter.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using namespace vidora::testing;
using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::writeFile;

constexpr MediaTime start = 1000s;  // the first frame's capture time
constexpr int width = 1280;
constexpr int height = 720;
constexpr MediaTime tick = 10ms;  // one audio buffer
constexpr int samplesPerTick = 480;

// A capture in time order: a colour bar moving across the picture at 30 fps, a 440 Hz tone as system
// audio from 100 ms before the first frame, and an 880 Hz microphone tone 5 ms behind it that is muted
// (through muteAudio) from 1.0 s to 2.2 s. It waits for room in the writer, which a live source never does.
class SyntheticCapture {
public:
    explicit SyntheticCapture(MovieSink& sink) : sink_(sink) {}

    void runUntil(MediaTime end) {
        for (; tick_ * tick < end; ++tick_) {
            while (frames_ * 1'000'000'000LL / 30 <= (tick_ * tick).count()) {
                appendFrame();
            }
            append(Track::systemAudio, tone(440.0, start + tick_ * tick));
            auto microphone = tone(880.0, start + tick_ * tick - 5ms);
            const bool muted = tick_ * tick >= 1s && tick_ * tick < 2200ms;
            append(Track::microphone, muted ? *muteAudio(microphone) : microphone);
        }
    }

private:
    void waitForRoom(Track track) {
        while (!sink_.isReadyForMoreMediaData(track)) {
            std::this_thread::sleep_for(1ms);
        }
    }
    void appendFrame() {
        VideoFrame frame;
        frame.width = width;
        frame.height = height;
        frame.stride = width * 4 + 64;
        frame.pixels.assign(static_cast<std::size_t>(frame.stride) * height, 40);
        const int left = frames_ * 16 % (width - 64);
        for (int row = 0; row < height; ++row) {
            for (int column = left; column < left + 64; ++column) {
                std::uint8_t* pixel =
                    &frame.pixels[static_cast<std::size_t>(row * frame.stride + column * 4)];
                pixel[0] = static_cast<std::uint8_t>(frames_ * 8);
                pixel[1] = static_cast<std::uint8_t>(row / 3);
                pixel[2] = 220;
            }
        }
        frame.presentationTime = start + MediaTime(frames_ * 1'000'000'000LL / 30);
        frame.complete = true;
        waitForRoom(Track::video);
        sink_.append(std::move(frame));
        ++frames_;
    }
    void append(Track track, AudioBuffer buffer) {
        waitForRoom(track);
        sink_.append(track, std::move(buffer));
    }
    static AudioBuffer tone(double frequency, MediaTime time) {
        AudioBuffer buffer;
        buffer.presentationTime = time;
        const auto first = (time - start).count() * 48 / 1'000'000;
        for (std::int64_t index = first; index < first + samplesPerTick; ++index) {
            const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(index) / 48000;
            buffer.samples.push_back(static_cast<std::int16_t>(8000 * std::sin(phase)));
        }
        return buffer;
    }

    MovieSink& sink_;
    std::int64_t tick_ = -10;
    std::int64_t frames_ = 0;
};

int decodedVideoFrames(const std::string& path) {
    const auto count =
        run("ffprobe -v quiet -count_frames -select_streams v:0 -show_entries "
            "stream=nb_read_frames -of default=nw=1:nk=1 '" +
            path + "'");
    return count.empty() ? 0 : std::stoi(count);
}

struct Loudness {
    int peak = 0;
    double crossingsPerSecond = 0;  // twice the frequency of a tone
};

Loudness loudness(const std::vector<std::int16_t>& samples, MediaTime from, MediaTime to) {
    Loudness result;
    const auto first = static_cast<std::size_t>(from.count() * 48 / 1'000'000);
    const auto last = std::min(samples.size(), static_cast<std::size_t>(to.count() * 48 / 1'000'000));
    int crossings = 0;
    for (std::size_t index = first; index < last; ++index) {
        result.peak = std::max(result.peak, std::abs(static_cast<int>(samples[index])));
        crossings += index > first && (samples[index - 1] < 0) != (samples[index] < 0);
    }
    result.crossingsPerSecond = crossings * 48000.0 / static_cast<double>(last - first);
    return result;
}

TEST(FfmpegMovieWriterTest, VideoBitRateFollowsThePictureSize) {
    EXPECT_EQ(videoSettings(1920, 1080).averageBitRate, 7776000);
    EXPECT_EQ(videoSettings(1512, 982).averageBitRate, 5567940);
    EXPECT_EQ(videoSettings(1280, 720).averageBitRate, 3456000);
}

TEST(FfmpegMovieWriterTest, WritesHevcAndTwoMonoOpusTracksWithTheMutedStretchSilent) {
    TemporaryFolder folder;
    const auto path = folder.file("match.mp0");
    FfmpegMovieWriter writer;
    ASSERT_TRUE(writer.startWriting(path, videoSettings(width, height), audioSettings()));
    EXPECT_FALSE(
        writer.startWriting(folder.file("second.mp0"), videoSettings(width, height), audioSettings()));
    SyntheticCapture capture(writer);
    writer.startSession(start);
    capture.runUntil(3s);
    writer.finishWriting();
    EXPECT_FALSE(writer.failed());
    EXPECT_FALSE(writer.isReadyForMoreMediaData(Track::video));

    const auto sections = probe(path);
    ASSERT_EQ(sections.size(), 4u);
    EXPECT_EQ(sections[0].at("codec_name"), "hevc");
    EXPECT_EQ(sections[0].at("codec_tag_string"), "hvc1");
    EXPECT_EQ(sections[0].at("width") + "x" + sections[0].at("height"), "1280x720");
    for (int stream : {1, 2}) {
        EXPECT_EQ(sections[stream].at("codec_name"), "opus");
        EXPECT_EQ(sections[stream].at("sample_rate"), "48000");
        EXPECT_EQ(sections[stream].at("channels"), "1");
    }
    EXPECT_NEAR(std::stod(sections[3].at("duration")), 3.0, 0.05);
    EXPECT_EQ(decodedVideoFrames(path), 90);

    // Audio from before the first frame is gone: both tracks span the movie, tones in place.
    const auto system = decodedAudio(path, 1);
    const auto microphone = decodedAudio(path, 2);
    EXPECT_NEAR(static_cast<double>(system.size()) / 48000, 3.0, 0.03);
    EXPECT_NEAR(static_cast<double>(microphone.size()) / 48000, 3.0, 0.03);
    EXPECT_NEAR(loudness(system, 0ms, 3s).crossingsPerSecond, 880, 10);
    EXPECT_NEAR(loudness(microphone, 50ms, 950ms).crossingsPerSecond, 1760, 10);
    EXPECT_NEAR(loudness(microphone, 2250ms, 2950ms).crossingsPerSecond, 1760, 10);
    EXPECT_GT(loudness(microphone, 50ms, 950ms).peak, 6000);
    EXPECT_GT(loudness(microphone, 2250ms, 2950ms).peak, 6000);
    // Opus lets the tone fade out over a few hundred milliseconds; after that the muted stretch is zeros.
    EXPECT_EQ(loudness(microphone, 1400ms, 2180ms).peak, 0);
}

TEST(FfmpegMovieWriterTest, RefusesToReplaceAFileOrWriteWhereNoFileCanBe) {
    TemporaryFolder folder;
    const auto existing = folder.file("taken.mp0");
    writeFile(existing, "keep");
    FfmpegMovieWriter writer;
    EXPECT_FALSE(writer.startWriting(existing, videoSettings(width, height), audioSettings()));
    EXPECT_FALSE(
        writer.startWriting(folder.file("missing/movie.mp0"), videoSettings(width, height), audioSettings()));
    EXPECT_FALSE(writer.startWriting(folder.file("empty.mp0"), videoSettings(0, 0), audioSettings()));
    writer.finishWriting();
    EXPECT_EQ(readFile(existing), "keep");
    EXPECT_FALSE(std::filesystem::exists(folder.file("empty.mp0")));

    // After those failures a movie still starts; finished at once, it has all three tracks.
    const auto path = folder.file("empty.mp4");
    ASSERT_TRUE(writer.startWriting(path, videoSettings(width, height), audioSettings()));
    writer.finishWriting();
    EXPECT_EQ(probe(path).size(), 4u);
}

TEST(FfmpegMovieWriterTest, MovieOfAKilledRecorderDecodesUpToItsLastFragment) {
    TemporaryFolder folder;
    const auto path = folder.file("killed.mp0");
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        FfmpegMovieWriter writer;
        char state = 'F';
        if (writer.startWriting(path, videoSettings(width, height), audioSettings())) {
            writer.startSession(start);
            SyntheticCapture capture(writer);
            capture.runUntil(5s);  // key frames at 0, 2 and 4 s, each opening a fragment
            state = 'R';
            [[maybe_unused]] const auto written = ::write(report[1], &state, 1);
            capture.runUntil(1h);  // still recording when killed
        }
        [[maybe_unused]] const auto written = ::write(report[1], &state, 1);
        ::_exit(1);
    }
    ::close(report[1]);
    char state = 0;
    [[maybe_unused]] const auto got = ::read(report[0], &state, 1);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(report[0]);
    ASSERT_EQ(state, 'R');
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_GE(decodedVideoFrames(path), 60);
    EXPECT_EQ(probe(path).size(), 4u);
}

}  // namespace
}  // namespace vidora
