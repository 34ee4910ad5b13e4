// SPDX-License-Identifier: GPL-3.0-or-later
// The sound of an application's recording end to end, on PulseAudio and on PipeWire's PulseAudio server:
// the stand-in game plays 440 Hz, pauses it for a while (its stream corked, as Wine does) and, mid-recording,
// starts a helper that plays 660 Hz; a program outside the game plays 1000 Hz all along. The movie is read
// back with the ffmpeg tool.
#include <gtest/gtest.h>

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
using Seconds = std::chrono::duration<double>;

class ApplicationSoundTest : public ::testing::TestWithParam<TestSoundServer::Kind> {};

TEST_P(ApplicationSoundTest, HoldsTheGameAndItsHelperFromItsFirstSoundButNoOtherProgram) {
    TestDisplay display(false);
    TestSoundServer sound(GetParam());
    ASSERT_TRUE(display.ready() && sound.ready()) << "no Xvfb, or no sound server";
    ASSERT_EQ(sound.pactl({"load-module", "module-null-sink", "sink_name=tavrin_other"}), 0);
    // A null sink renders seconds ahead until a reader asks for less.
    const auto reader = [&](const std::string& sink) {
        return ChildProcess({"/usr/bin/parec", "--device=" + sink, "--latency-msec=20", "/dev/null"},
                            sound.environment());
    };
    const ChildProcess readers[] = {reader("tavrin_sink.monitor"), reader("tavrin_other.monitor")};
    TemporaryFolder folder;
    auto environment = sound.environment();
    environment["DISPLAY"] = display.name();
    // The helper notes when the server says it started its stream: PulseAudio's null sink starts one up to
    // 0.7 s after it connected on a busy machine, so the signal alone does not tell when it played.
    const std::string started = folder.file("helper-started");
    ChildProcess game(
        {"/bin/bash", RUN_FAKEGAME, folder.file("prefix"), "--match", "--matches", "0", "--tone", "--helper",
         "exec bash -c \"pacat -v --raw --format=s16le --rate=48000 --channels=1 --latency-msec=50 " +
             sound.tone(660, 0.6, 1.2) +
             " 2>&1 | while IFS= read -r -d . line; do [[ \\$line != *'Stream started'* ]] || date +%s.%N >" +
             started + "; done\""},
        environment);
    const X11ContentProvider content{display.name()};
    ASSERT_TRUE(waitUntil(
        [&] { return ScreenCaptureFilter(content).get(tavrin::gameBundleIdentifier).has_value(); }, 20s));

    LinuxCapturePlatform platform;
    tavrin::SystemClock clock;
    ScreenCaptureRecorder recorder(
        content, platform, [] { return std::make_unique<FfmpegMovieWriter>(); }, clock, [](auto) {});
    ASSERT_TRUE(recorder.setup(tavrin::gameBundleIdentifier));
    recorder.start(folder.file("x.mp0"), false);
    ASSERT_TRUE(waitUntil([&] { return recorder.startTime().has_value(); }, 5s));
    const auto begin = *recorder.startTime();
    const auto since = [&] { return Seconds(clock.now() - begin).count(); };
    // Another program starts too; on PulseAudio that also sets free what a null sink held back of the
    // game's sound since its monitor began.
    const auto other = sound.playTone("tavrin_sink", 1000.0, 10.0);
    std::this_thread::sleep_for(400ms);
    game.signal(SIGUSR2);
    const double paused = since();
    std::this_thread::sleep_for(1000ms);
    game.signal(SIGUSR2);
    game.signal(SIGUSR1);
    const double signalled = since();
    std::this_thread::sleep_for(1300ms);
    // Headphones plugged in: the streams move to another sink. The helper played 0.6 s of 660 Hz, then
    // silence.
    sound.run(
        "sh -c 'for s in $(pactl list short sink-inputs | cut -f 1); do pactl move-sink-input $s "
        "tavrin_other; done'");
    std::this_thread::sleep_for(1100ms);
    recorder.stop();

    const auto track = decodedAudio(folder.file("x.mp4"), 1);
    const double end = track.size() / 48000.0;
    // Never the other program; the game's pause where it paused (a busy server pauses it a while after it
    // was asked); the game after it (with the helper), and after the move. PulseAudio loses what it held
    // back of a stream's sound when it begins and when it moves (up to the sink's rewind).
    EXPECT_LT(loudness(track, 0.3, end - 0.1, 1000).toneShare, 0.05) << "the other program is heard";
    EXPECT_LT(loudness(track, paused + 0.5, signalled - 0.05, 440).rootMeanSquare, 2000)
        << "heard while paused";
    for (const auto& [from, share] : {std::pair{signalled + 0.8, 0.3}, std::pair{end - 0.5, 0.9}}) {
        const auto tone = loudness(track, from, from + 0.4, 440);
        EXPECT_GT(tone.rootMeanSquare, 2000) << from << " s on: " << tone;
        EXPECT_GT(tone.toneShare, share) << from << " s on: " << tone;
    }
    double begun = -1, ended = -1;  // the first and the last 10 ms that are mostly the helper's 660 Hz
    for (double at = 0.3; at + 0.01 < end; at += 0.01) {
        if (loudness(track, at, at + 0.01, 660, 480).toneShare > 0.15) {
            begun = begun < 0 ? at : begun;
            ended = at + 0.01;
        }
    }
    // Its tone lasts 0.6 s: where it ends tells where it began, even if its first moments were missed.
    const double played = ended - 0.6;
    const double serverStarted =
        std::stod(testing::run("cat " + started)) - Seconds(begin.time_since_epoch()).count();
    std::cout << "the helper's stream was started " << (serverStarted - signalled) * 1000
              << " ms after the helper, is heard from " << (played - serverStarted) * 1000
              << " ms after that, and is in the movie from " << (begun - played) * 1000
              << " ms after it began" << std::endl;
    EXPECT_GT(played, signalled - 0.02) << "the helper is heard before it played: out of step";
    EXPECT_LT(played, serverStarted + 0.2) << "the helper is heard too late: out of step";
    EXPECT_LT(begun - played, 0.2) << "the helper is not heard from its start";
}

INSTANTIATE_TEST_SUITE_P(Servers, ApplicationSoundTest,
                         ::testing::Values(TestSoundServer::Kind::pulseAudio,
                                           TestSoundServer::Kind::pipeWire),
                         [](const auto& server) { return server.index == 0 ? "PulseAudio" : "PipeWire"; });

}  // namespace
}  // namespace vidora
