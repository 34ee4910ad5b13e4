// The movie writer with real FFmpeg; the movies are read back with the ffprobe and ffmpeg tools.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

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
    return std::atoi(count.c_str());
}

TEST(FfmpegMovieWriterTest, WritesHevcAndTwoMonoOpusTracksWithTheMutedStretchSilent) {
    TemporaryFolder folder;
    const auto path = folder.file("match.mp0");
    FfmpegMovieWriter writer;
    EXPECT_EQ(videoSettings(1512, 982).averageBitRate, 5'567'940);  // 3.75 bits a pixel a second
    ASSERT_TRUE(writer.startWriting(path, videoSettings(width, height), audioSettings()));
    EXPECT_FALSE(
        writer.startWriting(folder.file("second.mp0"), videoSettings(width, height), audioSettings()));
    SyntheticCapture capture(writer);
    writer.startSession(start);
    capture.runUntil(3s);
    writer.finishWriting();
    EXPECT_FALSE(writer.failed());

    const auto sections = probe(path);
    ASSERT_EQ(sections.size(), 4u);
    EXPECT_EQ(sections[0].at("codec_name") + " " + sections[0].at("codec_tag_string"), "hevc hvc1");
    EXPECT_EQ(sections[0].at("width") + "x" + sections[0].at("height"), "1280x720");
    for (int stream : {1, 2}) {
        EXPECT_EQ(sections[stream].at("codec_name") + " " + sections[stream].at("sample_rate") + " " +
                      sections[stream].at("channels"),
                  "opus 48000 1");
    }
    EXPECT_NEAR(std::stod(sections[3].at("duration")), 3.0, 0.05);
    EXPECT_EQ(decodedVideoFrames(path), 90);

    // Audio from before the first frame is gone: both tracks span the movie, tones in place.
    const auto system = decodedAudio(path, 1);
    const auto microphone = decodedAudio(path, 2);
    EXPECT_NEAR(static_cast<double>(system.size()) / 48000, 3.0, 0.03);
    EXPECT_NEAR(static_cast<double>(microphone.size()) / 48000, 3.0, 0.03);
    const struct {
        const std::vector<std::int16_t>& track;
        double from, to, frequency;
    } toned[] = {{system, 0, 3, 440}, {microphone, 0.05, 0.95, 880}, {microphone, 2.25, 2.95, 880}};
    for (const auto& row : toned) {
        const auto heard = loudness(row.track, row.from, row.to, row.frequency);
        EXPECT_GT(heard.rootMeanSquare, 4000) << heard << " at " << row.frequency << " Hz from " << row.from;
        EXPECT_GT(heard.toneShare, 0.9) << heard << " at " << row.frequency << " Hz from " << row.from;
    }
    // Opus lets the tone fade out over a few hundred milliseconds; after that the muted stretch is zeros.
    EXPECT_EQ(loudness(microphone, 1.4, 2.18, 880).rootMeanSquare, 0.0);
}

TEST(FfmpegMovieWriterTest, RefusesToReplaceAFileOrWriteWhereNoFileCanBe) {
    TemporaryFolder folder;
    writeFile(folder.file("taken.mp0"), "keep");
    FfmpegMovieWriter writer;
    for (const auto& [name, video] : {std::pair("taken.mp0", videoSettings(width, height)),
                                      std::pair("missing/movie.mp0", videoSettings(width, height)),
                                      std::pair("empty.mp0", videoSettings(0, 0))}) {
        EXPECT_FALSE(writer.startWriting(folder.file(name), video, audioSettings())) << name;
    }
    writer.finishWriting();
    EXPECT_EQ(readFile(folder.file("taken.mp0")), "keep");
    EXPECT_FALSE(std::filesystem::exists(folder.file("empty.mp0")));

    // After those failures a movie still starts; finished at once, it has all three tracks.
    ASSERT_TRUE(writer.startWriting(folder.file("empty.mp4"), videoSettings(width, height), audioSettings()));
    writer.finishWriting();
    EXPECT_EQ(probe(folder.file("empty.mp4")).size(), 4u);
}

// Records in a child process until five seconds are written (key frames at 0, 2 and 4 s, each opening
// a fragment) and says so with 'R', then goes on until it is killed. With a file size limit, says 'F'
// as soon as the writer can no longer write, and finishes the movie.
char recordInChild(const std::string& path, rlim_t fileSizeLimit, pid_t& child) {
    int report[2];
    if (::pipe(report) != 0 || (child = ::fork()) < 0) {
        return 0;
    }
    if (child == 0) {
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        FfmpegMovieWriter writer;
        char state = 'N';
        if (writer.startWriting(path, videoSettings(width, height), audioSettings())) {
            writer.startSession(start);
            SyntheticCapture capture(writer);
            const MediaTime longest = fileSizeLimit == RLIM_INFINITY ? 5s : 60s;
            for (MediaTime end = 100ms; state == 'N' && end <= longest; end += 100ms) {
                capture.runUntil(end);
                state = writer.hasFailed() ? 'F' : end == 5s && fileSizeLimit == RLIM_INFINITY ? 'R' : 'N';
            }
            [[maybe_unused]] const auto written = ::write(report[1], &state, 1);
            if (state == 'R') {
                capture.runUntil(1h);  // still recording when killed
            }
            writer.finishWriting();
            ::_exit(0);
        }
        ::_exit(1);
    }
    ::close(report[1]);
    char state = 0;
    [[maybe_unused]] const auto got = ::read(report[0], &state, 1);
    ::close(report[0]);
    return state;
}

TEST(FfmpegMovieWriterTest, MovieOfAKilledRecorderDecodesUpToItsLastFragment) {
    TemporaryFolder folder;
    const auto path = folder.file("killed.mp0");
    pid_t child = 0;
    ASSERT_EQ(recordInChild(path, RLIM_INFINITY, child), 'R');
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_GE(decodedVideoFrames(path), 60);
    EXPECT_EQ(probe(path).size(), 4u);
}

TEST(FfmpegMovieWriterTest, FullDiskIsReportedWhileWriting) {
    TemporaryFolder folder;
    const auto path = folder.file("full.mp0");
    pid_t child = 0;
    EXPECT_EQ(recordInChild(path, 200'000, child), 'F');
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GT(decodedVideoFrames(path), 0);
}

}  // namespace
}  // namespace vidora
