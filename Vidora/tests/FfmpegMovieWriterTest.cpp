// SPDX-License-Identifier: GPL-3.0-or-later
// The movie writer with real FFmpeg; the movies are read back with the ffprobe and ffmpeg tools.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "MovieProbe.h"
#include "SyntheticCapture.h"
#include "TemporaryFolder.h"
#include "capture/MovieFiles.h"
#include "capture/MovieStorage.h"
#include "writer/FfmpegMovieWriter.h"
#include "writer/VideoEncoder.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using namespace vidora::testing;
using tavrin::testing::TemporaryFolder;

constexpr MediaTime start = testing::firstFrame;
constexpr int width = 640;
constexpr int height = 360;

void capture(MovieSink& sink, MediaTime from, MediaTime to) {
    testing::capture(sink, from, to, width, height);
}

// The nice values of this process's threads named `name`.
std::vector<int> niceValues(const std::string& name) {
    std::vector<int> values;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string comm;
        if (std::getline(std::ifstream(task.path() / "comm"), comm) && comm == name) {
            values.push_back(
                ::getpriority(PRIO_PROCESS, static_cast<id_t>(std::stoi(task.path().filename()))));
        }
    }
    return values;
}

int decodedVideoFrames(const std::string& path) {
    const std::string count = "ffprobe -v quiet -count_frames -select_streams v:0 -of csv=p=0 -show_entries ";
    return std::atoi(run(count + "stream=nb_read_frames '" + path + "'").c_str());
}

// On each encoder the machine has: every frame, and both tracks spanning the movie from its first frame
// with their tones in place.
class EncoderTest : public ::testing::TestWithParam<VideoEncoderKind> {};
}  // namespace

void PrintTo(VideoEncoderKind kind, std::ostream* out) {
    *out << encoderName(kind);
}

namespace {

TEST_P(EncoderTest, WritesEveryFrameAndBothTracksFromTheFirstFrame) {
    const VideoEncoderKind kind = GetParam();
    if (!VideoEncoder::open(kind, videoSettings(width, height))) {
        GTEST_SKIP() << encoderName(kind) << " does not open here: no graphics device or driver for it";
    }
    const char* const names[] = {"nvenc", "vaapi", "x265"};
    ::setenv("TAVRIN_ENCODER", names[static_cast<int>(kind)], 1);
    TemporaryFolder folder;
    const auto path = folder.file("match.mp0");
    FfmpegMovieWriter writer;
    ASSERT_TRUE(writer.startWriting(path, videoSettings(width, height), audioSettings()));
    ::unsetenv("TAVRIN_ENCODER");
    // The encoder's threads, libx265's own among them, give way to the game; the sound's keep their place.
    const auto encoding = niceValues("vidora-video");
    EXPECT_GE(encoding.size(), kind == VideoEncoderKind::x265 ? 3U : 1U);
    EXPECT_EQ(std::ranges::count(encoding, 19), std::ssize(encoding));
    EXPECT_EQ(niceValues("vidora-audio"), std::vector{0});
    writer.startSession(start);
    capture(writer, -100ms, 3s);
    writer.finishWriting();
    EXPECT_FALSE(writer.failed());

    // Frames the encoder could not keep up with (on a loaded machine) are dropped, and counted.
    EXPECT_GE(writer.framesWritten(), 60);
    EXPECT_EQ(decodedVideoFrames(path), writer.framesWritten());
    EXPECT_EQ(
        run("ffprobe -v error -select_streams v:0 -show_entries stream=codec_tag_string -of csv=p=0 " + path),
        "hvc1\n");
    for (const auto& [stream, frequency] : {std::pair(1, 440.0), std::pair(2, 880.0)}) {
        const auto track = decodedAudio(path, stream);
        EXPECT_NEAR(static_cast<double>(track.size()) / 48000, 3.0, 0.03) << "track " << stream;
        const auto heard = loudness(track, 0.05, 2.95, frequency);
        EXPECT_GT(heard.rootMeanSquare, 4000) << "track " << stream << ": " << heard;
        EXPECT_GT(heard.toneShare, 0.9) << "track " << stream << ": " << heard;
    }
}

INSTANTIATE_TEST_SUITE_P(Encoders, EncoderTest,
                         ::testing::Values(VideoEncoderKind::nvenc, VideoEncoderKind::vaapi,
                                           VideoEncoderKind::x265),
                         [](const auto& test) { return std::string(encoderName(test.param)); });

// `codec` at the movie's size, given `header` as its stream header. Stand-ins for the cards' encoders,
// which this machine lacks: libx265 without a header, and HEVC's decoder, which opens like a card's
// encoder and then fails on the first frame, as FFmpeg refuses any frame sent to a decoder.
std::unique_ptr<Encoder> standIn(const AVCodec* codec, const VideoSettings& settings,
                                 const AVCodecContext* header) {
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = settings.width;
    context->height = settings.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, 30};
    if (header != nullptr) {
        context->extradata = static_cast<std::uint8_t*>(
            av_mallocz(static_cast<std::size_t>(header->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE));
        std::copy_n(header->extradata, header->extradata_size, context->extradata);
        context->extradata_size = header->extradata_size;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "x265-params", "log-level=error", 0);
    auto encoder = Encoder::open(std::move(context), &options);
    av_dict_free(&options);
    return encoder;
}

// The cards' encoders first, the first that works wins: one that opens without the stream header the
// movie's header needs, or fails on its first frame, gives way to the next. A forced one has no
// fallback. A card's trial frame stays out of the movie, and a frame the encoder no longer takes is
// not counted as kept.
TEST(EncoderTest, TriesTheCardsFirstAndFallsBackToSoftware) {
    using enum VideoEncoderKind;
    const VideoSettings settings = videoSettings(320, 240);
    const auto software = VideoEncoder::open(x265, settings);
    ASSERT_TRUE(software);
    std::vector<VideoEncoderKind> tried;
    const auto open = [&](VideoEncoderKind kind, const VideoSettings&) {
        tried.push_back(kind);
        if (kind == x265) {
            return VideoEncoder::open(kind, settings);
        }
        return kind == nvenc
                   ? standIn(avcodec_find_encoder_by_name("libx265"), settings, nullptr)
                   : standIn(avcodec_find_decoder(AV_CODEC_ID_HEVC), settings, &software->context());
    };
    auto encoder = VideoEncoder::create(settings, videoEncoderOrder(nullptr), open);
    ASSERT_TRUE(encoder);
    EXPECT_EQ(encoder->kind(), x265);
    EXPECT_EQ(tried, (std::vector{nvenc, vaapi, x265}));

    tried.clear();
    EXPECT_FALSE(VideoEncoder::create(settings, videoEncoderOrder("vaapi"), open));
    EXPECT_EQ(tried, std::vector{vaapi});
    EXPECT_EQ(videoEncoderOrder("x265"), std::vector{x265});
    EXPECT_EQ(videoEncoderOrder("hevc"), (std::vector{nvenc, vaapi, x265}));

    encoder = VideoEncoder::create(settings, {vaapi}, [](VideoEncoderKind, const VideoSettings& card) {
        return VideoEncoder::open(x265, card);
    });
    ASSERT_TRUE(encoder);
    EXPECT_EQ(encoder->encoder().packetsMade(), 0) << "the trial frame would open the movie";
    const VideoFrame frame{PixelBytes(320 * 240 * 4), 320, 240, 320 * 4, MediaTime(0), true};
    encoder->encode(frame);
    encoder->encoder().fail(AVERROR(EIO));
    encoder->encode(frame);
    EXPECT_EQ(encoder->framesEncoded(), 1);
}

// A movie that cannot start leaves every file as it was.
TEST(FfmpegMovieWriterTest, RefusesToReplaceAFileAndLeavesNothingWhenItCannotStart) {
    TemporaryFolder folder;
    tavrin::testing::writeFile(folder.file("taken.mp0"), "keep");
    FfmpegMovieWriter writer;
    EXPECT_FALSE(
        writer.startWriting(folder.file("taken.mp0"), videoSettings(width, height), audioSettings()));
    EXPECT_EQ(tavrin::testing::readFile(folder.file("taken.mp0")), "keep");
    EXPECT_FALSE(writer.startWriting(folder.file("empty.mp0"), videoSettings(0, 0), audioSettings()));
    EXPECT_FALSE(std::filesystem::exists(folder.file("empty.mp0")));
}

enum class Ending { killed, diskFills, endCannotBeWritten };

// Records in a child process, whose wait status it returns. Killed: five seconds (key frames at 0, 2 and
// 4 s, each opening a fragment), then the child is killed mid-recording. The disk fills: until the writer
// reports that it can no longer write (exit 0), and then the movie is finished. The end cannot be written:
// just past the key frame at 2 s, and once the first fragment is on disk the file may grow by no more than
// 100 bytes, so the last fragment is torn and the trailer lost (exit 0 when the finished writer says so).
int recordInChild(const std::string& path, Ending ending) {
    const pid_t child = ::fork();
    if (child == 0) {
        const auto limitSize = [](rlim_t size) {
            const rlimit limit{size, size};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        };
        ::signal(SIGXFSZ, SIG_IGN);
        limitSize(ending == Ending::diskFills ? 200'000 : RLIM_INFINITY);
        FfmpegMovieWriter writer;
        if (!writer.startWriting(path, videoSettings(width, height), audioSettings())) {
            ::_exit(2);
        }
        writer.startSession(start);
        if (ending == Ending::endCannotBeWritten) {
            capture(writer, 0s, 2100ms);
            while (playableLength(path) == 0) {
                std::this_thread::sleep_for(10ms);
            }
            limitSize(std::filesystem::file_size(path) + 100);  // the next fragment's header torn
            writer.finishWriting();
            ::_exit(writer.hasFailed() && writer.failure() == RecordingProblem::cannotWrite ? 0 : 1);
        }
        for (MediaTime from = -100ms; !writer.hasFailed() && from < 60s; from += 100ms) {
            if (from == 5s && ending == Ending::killed) {
                ::raise(SIGKILL);
            }
            capture(writer, from, from + 100ms);
        }
        const bool failed = writer.hasFailed();
        writer.finishWriting();
        ::_exit(failed ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

// A killed recorder's movie decodes up to its last fragment, with all its tracks; a full disk is reported
// while writing, and at the end, and the movie so far is finished and plays.
TEST(FfmpegMovieWriterTest, MovieOfAKilledRecorderOrOnAFullDiskStaysPlayable) {
    TemporaryFolder folder;
    const int killed = recordInChild(folder.file("killed.mp0"), Ending::killed);
    EXPECT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGKILL) << killed;
    EXPECT_GE(decodedVideoFrames(folder.file("killed.mp0")), 60);
    EXPECT_EQ(
        run("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + folder.file("killed.mp0")),
        "video\naudio\naudio\n");
    const int full = recordInChild(folder.file("full.mp0"), Ending::diskFills);
    EXPECT_TRUE(WIFEXITED(full) && WEXITSTATUS(full) == 0) << full;
    EXPECT_GT(decodedVideoFrames(folder.file("full.mp0")), 0);
    const int endless = recordInChild(folder.file("endless.mp0"), Ending::endCannotBeWritten);
    EXPECT_TRUE(WIFEXITED(endless) && WEXITSTATUS(endless) == 0) << "a failed end went unnoticed";
    const int frames = decodedVideoFrames(folder.file("endless.mp0"));
    EXPECT_TRUE(frames > 0 && frames <= 60)
        << frames << " frames: the movie does not play to its last fragment";
}

// A movie cut short by a crash becomes mp4 and plays up to its last whole fragment (a "moof" and its "mdat"),
// however it ends: inside a fragment's pictures, after a fragment's header, or in the zeros a power loss
// leaves; beside a movie of its name it takes the next free one, which the storage limit counts. One cut
// within its first fragment holds no whole frame and goes. Nothing happens while a recording holds the
// folder.
TEST(MovieStorageTest, UnfinishedMoviesBecomePlayableOrGo) {
    TemporaryFolder folder;
    FfmpegMovieWriter writer;
    ASSERT_TRUE(writer.startWriting(folder.file("whole"), videoSettings(width, height), audioSettings()));
    writer.startSession(start);
    capture(writer, 0ms, 2200ms);  // a fragment at each key frame: 0 s and 2 s
    writer.finishWriting();
    const std::string movie = tavrin::testing::readFile(folder.file("whole"));
    std::vector<std::size_t> headers, pictures;  // where each fragment's "moof" and "mdat" end
    for (std::size_t end = 0; end + 8 <= movie.size();) {
        std::size_t size = 0;
        for (std::size_t i = end; i < end + 4; ++i) {
            size = size << 8 | static_cast<unsigned char>(movie[i]);
        }
        const std::string type = movie.substr(end + 4, 4);
        end += std::max<std::size_t>(size, 8);
        if (type == "moof" || type == "mdat") {
            (type == "moof" ? headers : pictures).push_back(end);
        }
    }
    ASSERT_GE(pictures.size(), 2U);
    // The unfinished movie, and what is left of it under which name.
    const std::tuple<std::string, std::string, std::size_t, std::string> cases[] = {
        {"2025-03-07 21.00.00", movie.substr(0, pictures[1] - 100), pictures[0],
         "2025-03-07 21.00.00 (2).mp4"},
        {"2025-03-07 21.01.00", movie.substr(0, headers[1]), pictures[0], "2025-03-07 21.01.00.mp4"},
        {"2025-03-07 21.02.00", movie.substr(0, pictures[1]) + std::string(4096, '\0'), pictures[1],
         "2025-03-07 21.02.00.mp4"},
        {"2025-03-07 21.03.00", movie.substr(0, pictures[0] - 100), 0, "2025-03-07 21.03.00.mp4"}};
    tavrin::testing::writeFile(folder.file("2025-03-07 21.00.00.mp4"), "an earlier movie");
    for (const auto& [name, unfinished, left, recovered] : cases) {
        tavrin::testing::writeFile(folder.file(name + ".mp0"), unfinished);
    }
    {
        const auto recording = FolderLock::take(folder.path(), FolderLock::Holder::recording);
        MovieStorage().recoverUnfinished(folder.path());
        EXPECT_TRUE(std::filesystem::exists(folder.file("2025-03-07 21.03.00.mp0")));
    }
    MovieStorage().recoverUnfinished(folder.path());
    for (const auto& [name, unfinished, left, recovered] : cases) {
        EXPECT_FALSE(std::filesystem::exists(folder.file(name + ".mp0"))) << name;
        EXPECT_EQ(std::filesystem::exists(folder.file(recovered)), left > 0) << name;
        if (left > 0) {
            EXPECT_EQ(std::filesystem::file_size(folder.file(recovered)), left) << name;
            EXPECT_GT(decodedVideoFrames(folder.file(recovered)), 0) << name;
        }
    }
    EXPECT_EQ(tavrin::testing::readFile(folder.file("2025-03-07 21.00.00.mp4")), "an earlier movie");
    EXPECT_EQ(MovieStorage().finishedMovies(folder.path()).size(), 4U);
}

}  // namespace
}  // namespace vidora
