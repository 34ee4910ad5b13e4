// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder end to end: the X11 and PulseAudio sources and the FFmpeg writer record the whole display
// of an Xvfb desktop with openbox, the stand-in game on it, with sound from a PulseAudio daemon, all
// started by the test. The movie is read back with the ffprobe and ffmpeg tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>

#include "MovieProbe.h"
#include "TestDesktop.h"
#include "capture/ScreenCaptureFilter.h"
#include "capture/ScreenCaptureRecorder.h"
#include "common/Workspace.h"
#include "linux/LinuxCapturePlatform.h"
#include "linux/X11ContentProvider.h"
#include "writer/FfmpegMovieWriter.h"

namespace vidora {
namespace {

using namespace vidora::testing;
using Colour = std::array<int, 3>;  // red, green, blue
using Seconds = std::chrono::duration<double>;

// The share of points on a 16-pixel grid over `area` of a decoded 1920 x 1080 rgb24 picture whose colour
// is within compression's reach of `expected`.
double shareOf(const std::string& rgb, const Rect& area, Colour expected) {
    int hits = 0;
    int points = 0;
    for (int y = area.y; y < area.y + area.height; y += 16) {
        for (int x = area.x; x < area.x + area.width; x += 16, ++points) {
            const auto* pixel = reinterpret_cast<const std::uint8_t*>(rgb.data()) + (y * 1920 + x) * 3;
            hits += std::ranges::all_of(std::array{0, 1, 2},
                                        [&](int c) { return std::abs(pixel[c] - expected[c]) <= 24; });
        }
    }
    return points == 0 ? 0.0 : static_cast<double>(hits) / points;
}

// The test program is built as "Vidora" (see CMakeLists.txt), so the provider knows its windows as the
// recorder's own.
TEST(RecorderIntegrationTest, RecordsTheDisplayWithoutItsOwnWindowWithSoundAndAMutedStretch) {
    TestDisplay display;
    TestSoundServer sound;
    ASSERT_TRUE(display.ready() && sound.ready()) << "no Xvfb with openbox, or no PulseAudio daemon";
    // The cursor is drawn into movies: keep it in the screen's corner, out of the sampled grid.
    xcb_warp_pointer(display.connection(), XCB_WINDOW_NONE, display.root(), 0, 0, 0, 0, 1919, 1079);
    xcb_flush(display.connection());
    TemporaryFolder folder;
    const X11ContentProvider content{display.name()};
    ChildProcess game({"/bin/bash", RUN_FAKEGAME, folder.file("prefix"), "--match", "--matches", "0"},
                      {{"DISPLAY", display.name()}, {"FAKEGAME", ""}});
    std::optional<ContentFilter> gameOnly;
    ASSERT_TRUE(waitUntil(
        [&] {
            return (gameOnly = ScreenCaptureFilter(content).get(tavrin::gameBundleIdentifier)).has_value();
        },
        20s));
    const Rect gamePlace = gameOnly->includedWindows.front().frame;
    // Our own window over the game: magenta.
    TestWindow own(display.connection(), 500, 300, 0xFF00FF);
    const Rect covered = own.configure(gamePlace.x + 300, gamePlace.y + 200, 500, 300);
    const Rect under{covered.x + 8, covered.y + 8, covered.width - 16, covered.height - 16};
    ASSERT_EQ(shareOf(run("ffmpeg -v error -f x11grab -video_size 1920x1080 -i " + display.name() +
                          " -frames:v 1 -f rawvideo -pix_fmt rgb24 -"),
                      under, {255, 0, 255}),
              1.0)
        << "our window does not show";

    // A null sink renders up to two seconds ahead until a reader asks for less, and the remap source
    // passes a new reader's wish on late: a low-latency reader kept on the microphone makes it deliver
    // like a capture device.
    ASSERT_TRUE(sound.addMicrophone());
    ChildProcess reader({"/usr/bin/parec", "--device=tavrin_remap", "--latency-msec=20", "/dev/null"},
                        sound.environment());
    const auto gameTone = sound.playTone("tavrin_sink", 440.0, 10.0);
    const auto voice = sound.playTone("mic_feed", 880.0, 10.0);
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto latency = sound.run(
                "pactl list sinks | awk '/Name: mic_feed/ { on = 1 } "
                "on && /Latency:/ { print $2; exit }'");
            return !latency.empty() && std::stol(latency) < 50'000;
        },
        20s));

    LinuxCapturePlatform platform;
    tavrin::SystemClock clock;
    bool postedToMain = false;  // only a stream that ends on its own posts
    ScreenCaptureRecorder recorder(
        content, platform, [] { return std::make_unique<FfmpegMovieWriter>(); }, clock,
        [&](std::function<void()>) { postedToMain = true; });
    ASSERT_TRUE(recorder.setup(ScreenCaptureFilter(content).getDisplays().value().front().id));
    recorder.start(folder.file("x.mp0"), true);
    std::this_thread::sleep_for(1000ms);
    recorder.micState = false;
    const auto mutedAt = clock.now();
    std::this_thread::sleep_for(1200ms);
    recorder.micState = true;
    const auto unmutedAt = clock.now();
    std::this_thread::sleep_for(1000ms);
    const auto startTime = recorder.startTime();
    recorder.stop();
    ASSERT_TRUE(startTime) << "no frame reached the movie";
    EXPECT_FALSE(postedToMain);

    const std::string movie = folder.file("x.mp4");
    const double duration =
        std::stod(run("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + movie + "'"));
    EXPECT_NEAR(duration, 3.2, 1.0);

    // Our window left out: what lies under it shows, never a hole (black) or our window itself.
    const std::string middle =
        run("ffmpeg -v error -ss 1 -i '" + movie + "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(middle.size(), 1920U * 1080 * 3);
    EXPECT_EQ(shareOf(middle, {0, 0, 1920, 1080}, {255, 0, 255}), 0.0);
    EXPECT_GE(shareOf(middle, under, {16, 24, 40}), 0.6);  // the game's background

    // Track 2 carries the game's tone throughout; track 3 the voice before and after the mute, and zeros
    // within it once Opus has faded out.
    const auto system = decodedAudio(movie, 1);
    const auto microphone = decodedAudio(movie, 2);
    const double muteStart = Seconds(mutedAt - *startTime).count();
    const double muteEnd = Seconds(unmutedAt - *startTime).count();
    const struct {
        const char* what;
        const std::vector<std::int16_t>& track;
        double from, to, frequency;
    } toned[] = {{"game", system, 0.3, duration - 0.2, 440},
                 {"voice before", microphone, 0.3, muteStart - 0.2, 880},
                 {"voice after", microphone, muteEnd + 0.3, duration - 0.2, 880}};
    for (const auto& row : toned) {
        const auto heard = loudness(row.track, row.from, row.to, row.frequency);
        EXPECT_GT(heard.rootMeanSquare, 2000) << row.what << ": " << heard;
        EXPECT_GT(heard.toneShare, 0.9) << row.what << ": " << heard;
    }
    const auto during = loudness(microphone, muteStart + 0.4, muteEnd - 0.15, 880);
    EXPECT_EQ(during.rootMeanSquare, 0.0) << during;
}

}  // namespace
}  // namespace vidora
