// SPDX-License-Identifier: GPL-3.0-or-later
// The capture sources against real servers: frames from an Xvfb display with openbox, sound from a
// PulseAudio daemon, each started by the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "MovieProbe.h"
#include "TestDesktop.h"
#include "linux/LinuxCapturePlatform.h"
#include "linux/PulseAudioSource.h"
#include "linux/X11CaptureStream.h"

namespace vidora {
namespace {

using namespace vidora::testing;
using Colour = std::array<int, 3>;  // red, green, blue

constexpr Colour black{0, 0, 0};
constexpr Colour green{0x20, 0xC0, 0x40};
constexpr Colour orange{0xF0, 0x90, 0x10};

Colour colourAt(const VideoFrame& frame, int x, int y) {
    const std::uint8_t* pixel = frame.pixels.data() + static_cast<std::ptrdiff_t>(y) * frame.stride + x * 4;
    return {pixel[2], pixel[1], pixel[0]};
}

// Whether every point on a grid over `area` shows `colour`.
bool allOf(const VideoFrame& frame, const Rect& area, Colour colour) {
    for (int y = area.y + 2; y < area.y + area.height - 2; y += 7) {
        for (int x = area.x + 2; x < area.x + area.width - 2; x += 7) {
            if (colourAt(frame, x, y) != colour) {
                return false;
            }
        }
    }
    return true;
}

// What a stream delivered: every frame (pixels of the newest complete one only), every sound buffer.
class Collector final : public StreamOutput, public MicrophoneOutput {
public:
    void didOutputScreen(VideoFrame frame) override {
        std::lock_guard lock(mutex_);
        if (frame.complete) {
            latest_ = frame;
        }
        frame.pixels = PixelBytes();  // frees them; clear() would keep them
        frames_.push_back(std::move(frame));
        changed_.notify_all();
    }
    void didOutputAudio(AudioBuffer buffer) override {
        std::lock_guard lock(mutex_);
        audio_.push_back(std::move(buffer));
    }
    void didOutputMicrophone(AudioBuffer) override {}
    void didStopWithError() override { stoppedWithError = true; }

    std::vector<VideoFrame> frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    std::vector<AudioBuffer> audio() const {
        std::lock_guard lock(mutex_);
        return audio_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        frames_.clear();
        latest_.reset();
    }
    // Waits for a complete frame that passes `test`.
    bool awaitFrame(auto test) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return latest_ && test(*latest_); });
    }

    std::atomic<bool> stoppedWithError = false;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<VideoFrame> frames_;
    std::optional<VideoFrame> latest_;
    std::vector<AudioBuffer> audio_;
};

X11CaptureStream streamOf(std::vector<Window> included, bool showsCursor, Collector& collector) {
    ContentFilter filter{
        included.empty() ? ContentFilter::Kind::excludingApplications : ContentFilter::Kind::includingWindows,
        Display{1, 1920, 1080, {0, 0, 1920, 1080}},
        std::move(included),
        {ApplicationRecord{"net.tavrinworks.Vidora", ::getpid()}}};
    StreamConfiguration configuration{1920, 1080};
    configuration.showsCursor = showsCursor;
    configuration.capturesAudio = false;
    return X11CaptureStream(filter, configuration, collector, nullptr);
}

TEST(X11CaptureStreamTest, PaintsTheIncludedWindowsOnBlackFollowingThemAndTheCursorWhenAsked) {
    TestDisplay display;
    ASSERT_TRUE(display.ready()) << "no Xvfb with openbox came up";
    TestWindow lower(display.connection(), 300, 300, 0x20C040);
    TestWindow upper(display.connection(), 300, 300, 0xF09010);
    Rect lowerPlace = lower.configure(100, 100, 300, 300);
    const Rect upperPlace = upper.configure(250, 250, 300, 300);
    ASSERT_TRUE(lowerPlace.intersects(upperPlace));
    xcb_warp_pointer(display.connection(), XCB_WINDOW_NONE, display.root(), 0, 0, 0, 0, 1500, 800);
    xcb_flush(display.connection());
    const Rect aroundPointer{1470, 770, 60, 60};

    // Listed top first: they are painted in their stacking order all the same.
    Collector collector;
    auto stream = streamOf({upper.asShareable(), lower.asShareable()}, false, collector);
    ASSERT_TRUE(stream.startCapture());
    const Rect overlap{upperPlace.x, upperPlace.y, lowerPlace.x + lowerPlace.width - upperPlace.x,
                       lowerPlace.y + lowerPlace.height - upperPlace.y};
    EXPECT_TRUE(collector.awaitFrame([&](const VideoFrame& frame) {
        // Everything but the windows is black: the window manager's frames, the root, the pointer.
        return allOf(frame, overlap, orange) &&
               allOf(frame, {lowerPlace.x, lowerPlace.y, upperPlace.x - lowerPlace.x - 8, 300}, green) &&
               allOf(frame, {0, 0, 1920, lowerPlace.y - 40}, black) && allOf(frame, aroundPointer, black) &&
               allOf(frame, {upperPlace.x + 300, 0, 1920 - upperPlace.x - 300, 1080}, black);
    })) << "the windows are not painted in their places on black";

    // A window resized while recording shows at its new size: its pixmap is named again.
    lowerPlace = lower.configure(100, 100, 700, 120);
    EXPECT_TRUE(collector.awaitFrame([&](const VideoFrame& frame) {
        return colourAt(frame, lowerPlace.x + 690, lowerPlace.y + 60) == green &&
               colourAt(frame, lowerPlace.x + 10, lowerPlace.y + 130) == black;
    })) << "the resized window is not shown at its new size";

    // Covering the display with nothing above it, as a game in full screen: read from the screen, whole.
    upper.destroy();
    lower.configure(-40, -60, 2000, 1200);
    EXPECT_TRUE(collector.awaitFrame([&](const VideoFrame& frame) {
        return allOf(frame, {0, 0, 1920, 1080}, green);
    })) << "the window covering the display is not shown whole";

    // Both gone: nothing to paint, so frames keep coming, in time order, but incomplete.
    lower.destroy();
    upper.destroy();
    std::this_thread::sleep_for(300ms);
    collector.clear();
    std::this_thread::sleep_for(300ms);
    stream.stopCapture();
    const auto frames = collector.frames();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(collector.frames().size(), frames.size()) << "a frame after stopCapture returned";
    ASSERT_GE(frames.size(), 2U);
    EXPECT_TRUE(std::ranges::none_of(frames, &VideoFrame::complete));
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_GT(frames[i].presentationTime, frames[i - 1].presentationTime) << "frame " << i;
    }

    // The whole display with the cursor drawn; the display going away ends the stream with an error.
    auto whole = streamOf({}, true, collector);
    ASSERT_TRUE(whole.startCapture());
    EXPECT_TRUE(collector.awaitFrame([&](const VideoFrame& frame) {
        return !allOf(frame, aroundPointer, black);
    })) << "no cursor";
    EXPECT_FALSE(collector.stoppedWithError.load());
    display.kill();
    EXPECT_TRUE(waitUntil([&] { return collector.stoppedWithError.load(); }, 5s));
    whole.stopCapture();
    EXPECT_FALSE(streamOf({}, false, collector).startCapture());
}

TEST(PulseAudioSourceTest, MicrophoneIsNeverAMonitorAndSystemAudioOutlivesTheServer) {
    TestSoundServer sound;
    ASSERT_TRUE(sound.ready()) << "no PulseAudio daemon came up";
    Collector collector;
    // The default source is the microphone, unless it is a sink's monitor.
    LinuxCapturePlatform platform;
    ASSERT_TRUE(sound.addMicrophone());
    EXPECT_EQ(PulseAudioSource::findDevice(PulseAudioSource::Device::microphone, 2s), "tavrin_remap");
    EXPECT_NE(platform.makeMicrophone(collector), nullptr);
    ASSERT_EQ(sound.pactl({"set-default-source", "tavrin_sink.monitor"}), 0);
    EXPECT_EQ(PulseAudioSource::findDevice(PulseAudioSource::Device::microphone, 2s), std::nullopt);
    EXPECT_EQ(platform.makeMicrophone(collector), nullptr);

    // System audio, stamped on the media clock, goes quiet when the server dies and hears its successor.
    PulseAudioSource source(PulseAudioSource::Device::systemAudio);
    source.start([&](AudioBuffer buffer) { collector.didOutputAudio(std::move(buffer)); });
    ASSERT_TRUE(waitUntil([&] { return collector.audio().size() >= 5; }, 10s)) << "no sound arrived";
    EXPECT_LT(std::chrono::abs(mediaNow() - collector.audio().back().presentationTime), 2s);
    sound.kill();
    std::this_thread::sleep_for(300ms);
    const std::size_t beforeDeath = collector.audio().size();
    // Without a server: no microphone, and a source that never connected stops at once.
    EXPECT_EQ(platform.makeMicrophone(collector), nullptr);
    PulseAudioSource(PulseAudioSource::Device::microphone).start([&](AudioBuffer) { ADD_FAILURE(); });
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(collector.audio().size(), beforeDeath);

    sound.start();
    ASSERT_TRUE(sound.ready());
    const auto tone = sound.playTone("tavrin_sink", 440.0, 4.0);
    // Meanwhile an application whose streams name a pid of another namespace (a sandbox): none of its
    // processes' streams is found, so after the wait its streams are taken by their name, and no other.
    Collector named;
    PulseAudioSource application({[](pid_t) { return false; }, {"Tavrin-Named"}, 300ms}, 48000, 1);
    application.start([&](AudioBuffer buffer) { named.didOutputAudio(std::move(buffer)); });
    const auto sandboxed = sound.playTone("tavrin_sink", 660.0, 4.0, "tavrin-named");
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto all = collector.audio();
            std::vector<std::int16_t> recent;
            for (auto i = std::max(beforeDeath, all.size() - std::min<std::size_t>(all.size(), 10));
                 i < all.size(); ++i) {
                recent.insert(recent.end(), all[i].samples.begin(), all[i].samples.end());
            }
            return loudness(recent, 0, 1, 440).toneShare > 0.4;
        },
        10s))
        << "no sound from the new server";
    source.stop();
    const auto stopped = collector.audio().size();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(collector.audio().size(), stopped) << "a buffer after stop returned";

    std::vector<std::int16_t> heard;
    EXPECT_TRUE(waitUntil(
        [&] {
            heard.clear();
            for (const auto& buffer : named.audio()) {
                heard.insert(heard.end(), buffer.samples.begin(), buffer.samples.end());
            }
            return loudness(heard, heard.size() / 48000.0 - 0.3, heard.size() / 48000.0, 660).toneShare > 0.9;
        },
        10s))
        << "the application's stream is not heard by its name";
    EXPECT_LT(loudness(heard, 0, heard.size() / 48000.0, 440).toneShare, 0.05) << "another program is heard";

    // Stopping waits for the sound up to the stop, which a source delivers some time later.
    ASSERT_EQ(sound.pactl({"set-default-source", "tavrin_mic"}), 0);
    Collector microphone;
    PulseAudioSource input(PulseAudioSource::Device::microphone);
    input.start([&](AudioBuffer buffer) { microphone.didOutputAudio(std::move(buffer)); });
    ASSERT_TRUE(waitUntil([&] { return microphone.audio().size() >= 5; }, 10s));
    const MediaTime stopping = mediaNow();
    input.stop();
    const auto& last = microphone.audio().back();
    EXPECT_GE(last.presentationTime + MediaTime(last.frameCount() * 1'000'000'000 / last.sampleRate),
              stopping);
}

}  // namespace
}  // namespace vidora
