// The capture sources against real servers: frames from an Xvfb display with openbox, sound from a
// PulseAudio daemon, each started by the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "TestDesktop.h"
#include "linux/AudioTimeline.h"
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

double rootMeanSquare(const std::vector<AudioBuffer>& buffers) {
    double sum = 0.0;
    std::size_t count = 0;
    for (const AudioBuffer& buffer : buffers) {
        for (const double sample : buffer.samples) {
            sum += sample * sample;
        }
        count += buffer.samples.size();
    }
    return count == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(count));
}

// What a stream and a microphone delivered: every frame (pixels of the newest complete one only),
// every sound buffer.
class Collector final : public StreamOutput, public MicrophoneOutput {
public:
    void didOutputScreen(VideoFrame frame) override {
        std::lock_guard lock(mutex_);
        if (frame.complete) {
            latest_ = frame;
        }
        frame.pixels.clear();
        frames_.push_back(std::move(frame));
        changed_.notify_all();
    }
    void didOutputAudio(AudioBuffer buffer) override { keep(audio_, std::move(buffer)); }
    void didOutputMicrophone(AudioBuffer buffer) override { keep(microphone_, std::move(buffer)); }
    void didStopWithError() override {
        std::lock_guard lock(mutex_);
        stoppedWithError_ = true;
    }

    std::vector<VideoFrame> frames() const { return taken(frames_); }
    std::vector<AudioBuffer> audio() const { return taken(audio_); }
    std::vector<AudioBuffer> microphone() const { return taken(microphone_); }
    bool stoppedWithError() const { return taken(stoppedWithError_); }
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

private:
    template <typename T>
    T taken(const T& value) const {
        std::lock_guard lock(mutex_);
        return value;
    }
    void keep(std::vector<AudioBuffer>& buffers, AudioBuffer buffer) {
        std::lock_guard lock(mutex_);
        buffers.push_back(std::move(buffer));
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<VideoFrame> frames_;
    std::optional<VideoFrame> latest_;
    std::vector<AudioBuffer> audio_;
    std::vector<AudioBuffer> microphone_;
    bool stoppedWithError_ = false;
};

ContentFilter filterOf(std::vector<Window> included) {
    ContentFilter filter;
    filter.kind =
        included.empty() ? ContentFilter::Kind::excludingApplications : ContentFilter::Kind::includingWindows;
    filter.display = Display{1, 1920, 1080, {0, 0, 1920, 1080}};
    filter.includedWindows = std::move(included);
    filter.excludedApplications = {ApplicationRecord{"net.tavrinworks.Vidora", ::getpid()}};
    return filter;
}

StreamConfiguration pictureOnly(bool showsCursor) {
    StreamConfiguration configuration{1920, 1080};
    configuration.showsCursor = showsCursor;
    configuration.capturesAudio = false;
    return configuration;
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
    X11CaptureStream stream(filterOf({upper.asShareable(), lower.asShareable()}), pictureOnly(false),
                            collector, nullptr);
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

    // Both gone: nothing to paint, so frames keep coming but incomplete and empty.
    lower.destroy();
    upper.destroy();
    std::this_thread::sleep_for(300ms);
    collector.clear();
    std::this_thread::sleep_for(300ms);
    stream.stopCapture();
    auto frames = collector.frames();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(collector.frames().size(), frames.size()) << "a frame after stopCapture returned";
    ASSERT_GE(frames.size(), 2U);
    EXPECT_TRUE(std::ranges::none_of(frames, &VideoFrame::complete));
    EXPECT_EQ(std::tuple(frames[0].width, frames[0].height, frames[0].stride), std::tuple(1920, 1080, 7680));
    // In time order, at most thirty a second.
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_GT(frames[i].presentationTime, frames[i - 1].presentationTime) << "frame " << i;
    }
    EXPECT_GE((frames.back().presentationTime - frames[0].presentationTime) / (frames.size() - 1), 32ms);

    // The whole display with the cursor drawn; the display going away ends the stream with an error.
    X11CaptureStream whole(filterOf({}), pictureOnly(true), collector, nullptr);
    ASSERT_TRUE(whole.startCapture());
    EXPECT_TRUE(collector.awaitFrame([&](const VideoFrame& frame) {
        return !allOf(frame, aroundPointer, black);
    })) << "no cursor";
    EXPECT_FALSE(collector.stoppedWithError());
    display.kill();
    EXPECT_TRUE(waitUntil([&] { return collector.stoppedWithError(); }, 5s));
    whole.stopCapture();
    EXPECT_FALSE(X11CaptureStream(filterOf({}), pictureOnly(false), collector, nullptr).startCapture());
}

// Waits until the newest ten buffers are loud (root mean square).
bool awaitLoud(const std::function<std::vector<AudioBuffer>()>& buffers) {
    return waitUntil(
        [&] {
            const auto all = buffers();
            return all.size() >= 10 && rootMeanSquare({all.end() - 10, all.end()}) > 4000.0;
        },
        10s);
}

class PulseAudioSourceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sound.ready()) << "no PulseAudio daemon came up"; }

    TestSoundServer sound;
    Collector collector;
};

TEST_F(PulseAudioSourceTest, MicrophoneIsTheDefaultSourceButNeverAMonitor) {
    LinuxCapturePlatform platform;
    ASSERT_TRUE(sound.addMicrophone());
    EXPECT_EQ(PulseAudioSource::findDevice(PulseAudioSource::Device::microphone, 2s), "tavrin_remap");
    auto microphone = platform.makeMicrophone(collector);
    ASSERT_NE(microphone, nullptr);
    microphone->startRunning();
    const auto tone = sound.playTone("mic_feed", 880.0, 3.0);
    EXPECT_TRUE(awaitLoud([&] { return collector.microphone(); })) << "the microphone's tone was not heard";
    microphone->stopRunning();
    EXPECT_TRUE(collector.audio().empty());

    ASSERT_EQ(sound.pactl({"set-default-source", "tavrin_sink.monitor"}), 0);
    EXPECT_EQ(PulseAudioSource::findDevice(PulseAudioSource::Device::microphone, 2s), std::nullopt);
    EXPECT_EQ(platform.makeMicrophone(collector), nullptr);
}

TEST_F(PulseAudioSourceTest, StampsChunksEdgeToEdgeGoesQuietWhenTheServerDiesAndHearsItsSuccessor) {
    PulseAudioSource source(PulseAudioSource::Device::systemAudio);
    source.start([&](AudioBuffer buffer) { collector.didOutputAudio(std::move(buffer)); });
    ASSERT_TRUE(waitUntil([&] { return collector.audio().size() >= 20; }, 10s)) << "no sound arrived";
    const auto buffers = collector.audio();
    for (std::size_t i = 1; i < buffers.size(); ++i) {
        const AudioBuffer& last = buffers[i - 1];
        EXPECT_EQ(std::tuple(buffers[i].sampleRate, buffers[i].channels), std::tuple(48000, 1));
        const MediaTime end = last.presentationTime + MediaTime(last.frameCount() * 1'000'000'000 / 48000);
        EXPECT_LT(std::chrono::abs(buffers[i].presentationTime - end), 5ms) << "buffer " << i;
    }
    EXPECT_LT(std::chrono::abs(mediaNow() - buffers.back().presentationTime), 2s);

    sound.kill();
    std::this_thread::sleep_for(300ms);
    const std::size_t beforeDeath = collector.audio().size();
    // Without a server: no microphone, and a source that never connected stops at once.
    EXPECT_EQ(LinuxCapturePlatform().makeMicrophone(collector), nullptr);
    PulseAudioSource(PulseAudioSource::Device::microphone).start([&](AudioBuffer) { ADD_FAILURE(); });
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(collector.audio().size(), beforeDeath);

    sound.start();
    ASSERT_TRUE(sound.ready());
    const auto tone = sound.playTone("tavrin_sink", 440.0, 4.0);
    EXPECT_TRUE(awaitLoud([&] { return collector.audio(); })) << "no sound from the new server";
    source.stop();
    const auto stopped = collector.audio().size();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(collector.audio().size(), stopped) << "a buffer after stop returned";
}

TEST(AudioTimelineTest, KeepsChunksEdgeToEdgeFollowsDriftSlowlyAndRestartsAfterAGap) {
    AudioTimeline timeline;
    const MediaTime chunk = 20ms;
    const MediaTime late = 3ms;
    const MediaTime early = 8ms;
    EXPECT_EQ(timeline.stamp(1000ms, chunk), 1000ms);
    // Jitter in the measurement leaves the chunks edge to edge, nudged by a thirty-second of it.
    const MediaTime second = timeline.stamp(1020ms + late, chunk);
    EXPECT_EQ(second, 1020ms + late / 32);
    EXPECT_EQ(timeline.stamp(second + chunk - early, chunk), second + chunk - early / 32);
    // A gap in the stream: the timeline starts over at the measurement.
    EXPECT_EQ(timeline.stamp(5000ms, chunk), 5000ms);
    // A measurement from before the last start still gives a later stamp.
    EXPECT_GT(timeline.stamp(4000ms, 1ms), 5000ms);
    timeline.reset();
    EXPECT_EQ(timeline.stamp(10ms, chunk), 10ms);
}

}  // namespace
}  // namespace vidora
