// The capture sources against real servers: frames from an Xvfb display with openbox, sound from a
// PulseAudio daemon, each started by the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

#include "TestDesktop.h"
#include "linux/AudioTimeline.h"
#include "linux/LinuxCapturePlatform.h"
#include "linux/PulseAudioSource.h"
#include "linux/X11CaptureStream.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using namespace vidora::testing;
using Colour = std::array<int, 3>;  // red, green, blue

constexpr Colour black{0, 0, 0};
const Display screen{1, 1920, 1080, {0, 0, 1920, 1080}};

Colour colourAt(const VideoFrame& frame, int x, int y) {
    const std::uint8_t* pixel = frame.pixels.data() + static_cast<std::ptrdiff_t>(y) * frame.stride + x * 4;
    return {pixel[2], pixel[1], pixel[0]};
}

std::uint32_t pixelOf(Colour colour) {
    return static_cast<std::uint32_t>(colour[0] << 16 | colour[1] << 8 | colour[2]);
}

// The share of points on a grid over `area` that show `colour`.
double shareOf(const VideoFrame& frame, const Rect& area, Colour colour) {
    int hits = 0;
    int points = 0;
    for (int y = area.y + 2; y < area.y + area.height - 2; y += 7) {
        for (int x = area.x + 2; x < area.x + area.width - 2; x += 7) {
            hits += colourAt(frame, x, y) == colour ? 1 : 0;
            ++points;
        }
    }
    return points == 0 ? 0.0 : static_cast<double>(hits) / points;
}

double rootMeanSquare(const std::vector<AudioBuffer>& buffers) {
    double sum = 0.0;
    std::size_t count = 0;
    for (const AudioBuffer& buffer : buffers) {
        for (const std::int16_t sample : buffer.samples) {
            sum += static_cast<double>(sample) * sample;
        }
        count += buffer.samples.size();
    }
    return count == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(count));
}

// What a stream and a microphone delivered: every frame's facts, the newest complete frame whole,
// every sound buffer.
class Collector final : public StreamOutput, public MicrophoneOutput {
public:
    struct Note {
        MediaTime time;
        bool complete;
        int width;
        int height;
        int stride;
        bool hasPixels;
    };

    void didOutputScreen(VideoFrame frame) override {
        std::lock_guard lock(mutex_);
        notes_.push_back({frame.presentationTime, frame.complete, frame.width, frame.height, frame.stride,
                          !frame.pixels.empty()});
        if (frame.complete) {
            latest_ = std::move(frame);
        }
        changed_.notify_all();
    }
    void didOutputAudio(AudioBuffer buffer) override { keep(audio_, std::move(buffer)); }
    void didOutputMicrophone(AudioBuffer buffer) override { keep(microphone_, std::move(buffer)); }
    void didStopWithError() override {
        std::lock_guard lock(mutex_);
        stoppedWithError_ = true;
        changed_.notify_all();
    }

    std::vector<Note> notes() const {
        std::lock_guard lock(mutex_);
        return notes_;
    }
    std::vector<AudioBuffer> audio() const {
        std::lock_guard lock(mutex_);
        return audio_;
    }
    std::vector<AudioBuffer> microphone() const {
        std::lock_guard lock(mutex_);
        return microphone_;
    }
    bool stoppedWithError() const {
        std::lock_guard lock(mutex_);
        return stoppedWithError_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        notes_.clear();
        latest_.reset();
        audio_.clear();
        microphone_.clear();
    }
    // Waits for a complete frame that satisfies `test`; a copy of it.
    std::optional<VideoFrame> awaitFrame(auto test, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        std::optional<VideoFrame> found;
        changed_.wait_for(lock, timeout, [&] {
            if (latest_ && test(*latest_)) {
                found = latest_;
            }
            return found.has_value();
        });
        return found;
    }

private:
    void keep(std::vector<AudioBuffer>& buffers, AudioBuffer buffer) {
        std::lock_guard lock(mutex_);
        buffers.push_back(std::move(buffer));
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Note> notes_;
    std::optional<VideoFrame> latest_;
    std::vector<AudioBuffer> audio_;
    std::vector<AudioBuffer> microphone_;
    bool stoppedWithError_ = false;
};

ContentFilter including(const std::vector<Window>& windows) {
    ContentFilter filter;
    filter.kind = ContentFilter::Kind::includingWindows;
    filter.display = screen;
    filter.includedWindows = windows;
    return filter;
}

ContentFilter excluding(pid_t pid) {
    ContentFilter filter;
    filter.kind = ContentFilter::Kind::excludingApplications;
    filter.display = screen;
    filter.excludedApplications = {ApplicationRecord{"net.tavrinworks.Vidora", pid}};
    return filter;
}

StreamConfiguration pictureOnly(bool showsCursor = false) {
    StreamConfiguration configuration{1920, 1080};
    configuration.showsCursor = showsCursor;
    configuration.capturesAudio = false;
    return configuration;
}

Rect awaitPlacement(const TestWindow& window) {
    Rect placement;
    waitUntil(
        [&] {
            placement = window.placement();
            return placement.width > 0;
        },
        10s);
    return placement;
}

class X11CaptureStreamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(display.ready()) << "no Xvfb with openbox came up"; }

    TestDisplay display;
    Collector collector;
};

TEST_F(X11CaptureStreamTest, PaintsTheIncludedWindowOnBlackThirtyTimesASecond) {
    constexpr Colour blue{0x33, 0x66, 0xCC};
    TestWindow window(display.connection(), 400, 300, pixelOf(blue));
    window.configure(700, 400, 400, 300);
    const Rect placed = awaitPlacement(window);
    ASSERT_EQ(placed.width, 400);

    X11CaptureStream stream(including({window.asShareable()}), pictureOnly(), collector, nullptr);
    ASSERT_TRUE(stream.startCapture());
    std::this_thread::sleep_for(2s);
    stream.stopCapture();
    const auto notes = collector.notes();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(collector.notes().size(), notes.size()) << "a frame after stopCapture returned";

    ASSERT_GE(notes.size(), 2U);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        EXPECT_TRUE(notes[i].complete && notes[i].hasPixels) << "frame " << i;
        EXPECT_EQ(std::tuple(notes[i].width, notes[i].height, notes[i].stride), std::tuple(1920, 1080, 7680));
        if (i > 0) {
            EXPECT_GT(notes[i].time, notes[i - 1].time);
        }
    }
    // At most 30 a second, and at least half of that on this busy machine.
    const double seconds = std::chrono::duration<double>(notes.back().time - notes.front().time).count();
    const double rate = static_cast<double>(notes.size() - 1) / seconds;
    EXPECT_LE(rate, 31.0);
    EXPECT_GE(rate, 15.0) << notes.size() << " frames in " << seconds << " s";
    RecordProperty("framesPerSecond", std::to_string(rate));

    const auto frame = collector.awaitFrame([](const VideoFrame&) { return true; }, 0ms);
    ASSERT_TRUE(frame);
    EXPECT_EQ(colourAt(*frame, placed.x + 200, placed.y + 150), blue);
    EXPECT_EQ(colourAt(*frame, placed.x, placed.y), blue);
    EXPECT_EQ(colourAt(*frame, placed.x + 399, placed.y + 299), blue);
    EXPECT_EQ(shareOf(*frame, placed, blue), 1.0);
    // Everything else is black: the window manager's frame and the root too.
    EXPECT_EQ(colourAt(*frame, placed.x - 1, placed.y + 150), black);
    EXPECT_EQ(colourAt(*frame, placed.x + 400, placed.y + 150), black);
    EXPECT_EQ(colourAt(*frame, placed.x + 200, placed.y - 5), black);
    EXPECT_EQ(shareOf(*frame, {0, 0, 1920, placed.y - 40}, black), 1.0);
    EXPECT_EQ(shareOf(*frame, {0, placed.y + 340, 1920, 1080 - placed.y - 340}, black), 1.0);
}

TEST_F(X11CaptureStreamTest, FollowsAResizedWindowAndReportsAVanishedOne) {
    constexpr Colour green{0x20, 0xC0, 0x40};
    constexpr Colour orange{0xF0, 0x90, 0x10};
    TestWindow lower(display.connection(), 300, 300, pixelOf(green));
    lower.configure(100, 100, 300, 300);
    TestWindow upper(display.connection(), 300, 300, pixelOf(orange));
    upper.configure(250, 250, 300, 300);
    Rect lowerPlace = awaitPlacement(lower);
    Rect upperPlace = awaitPlacement(upper);
    ASSERT_TRUE(lowerPlace.intersects(upperPlace));

    // Listed top first: they are painted in their stacking order all the same.
    X11CaptureStream stream(including({upper.asShareable(), lower.asShareable()}), pictureOnly(), collector,
                            nullptr);
    ASSERT_TRUE(stream.startCapture());
    const Rect overlap{upperPlace.x, upperPlace.y, lowerPlace.x + lowerPlace.width - upperPlace.x,
                       lowerPlace.y + lowerPlace.height - upperPlace.y};
    auto frame = collector.awaitFrame(
        [&](const VideoFrame& shown) { return shareOf(shown, overlap, orange) == 1.0; }, 5s);
    ASSERT_TRUE(frame) << "the upper window is not painted over the lower one";
    EXPECT_EQ(colourAt(*frame, lowerPlace.x + 10, lowerPlace.y + 10), green);

    // A window resized while recording shows at its new size: its pixmap is named again.
    lower.configure(100, 100, 700, 120);
    ASSERT_TRUE(waitUntil([&] { return lower.placement().width == 700; }, 10s));
    lowerPlace = lower.placement();
    frame = collector.awaitFrame(
        [&](const VideoFrame& shown) {
            return colourAt(shown, lowerPlace.x + 690, lowerPlace.y + 60) == green &&
                   colourAt(shown, lowerPlace.x + 10, lowerPlace.y + 130) == black;
        },
        5s);
    EXPECT_TRUE(frame) << "the resized window is not shown at its new size";

    // Both gone: nothing to paint, so frames keep coming but incomplete and empty.
    lower.destroy();
    upper.destroy();
    std::this_thread::sleep_for(300ms);
    collector.clear();
    std::this_thread::sleep_for(500ms);
    stream.stopCapture();
    const auto notes = collector.notes();
    ASSERT_GE(notes.size(), 3U);
    EXPECT_TRUE(
        std::ranges::none_of(notes, [](const auto& note) { return note.complete || note.hasPixels; }));
    EXPECT_EQ(std::tuple(notes.back().width, notes.back().height), std::tuple(1920, 1080));
    EXPECT_FALSE(collector.stoppedWithError());
}

TEST_F(X11CaptureStreamTest, DrawsTheCursorWhenAsked) {
    TestWindow window(display.connection(), 200, 200, pixelOf({0x80, 0x80, 0x80}));
    awaitPlacement(window);
    xcb_warp_pointer(display.connection(), XCB_WINDOW_NONE, display.root(), 0, 0, 0, 0, 1500, 800);
    xcb_flush(display.connection());
    const Rect aroundPointer{1470, 770, 60, 60};
    for (const bool showsCursor : {true, false}) {
        collector.clear();
        X11CaptureStream stream(including({window.asShareable()}), pictureOnly(showsCursor), collector,
                                nullptr);
        ASSERT_TRUE(stream.startCapture());
        const auto frame = collector.awaitFrame([](const VideoFrame&) { return true; }, 5s);
        stream.stopCapture();
        ASSERT_TRUE(frame);
        EXPECT_EQ(shareOf(*frame, aroundPointer, black) < 1.0, showsCursor) << "showsCursor " << showsCursor;
    }
}

TEST_F(X11CaptureStreamTest, EndsWithAnErrorWhenTheDisplayGoesAway) {
    X11CaptureStream stream(excluding(::getpid()), pictureOnly(true), collector, nullptr);
    ASSERT_TRUE(stream.startCapture());
    ASSERT_TRUE(collector.awaitFrame([](const VideoFrame&) { return true; }, 5s));
    display.kill();
    EXPECT_TRUE(waitUntil([&] { return collector.stoppedWithError(); }, 5s));
    stream.stopCapture();
    EXPECT_FALSE(X11CaptureStream(excluding(::getpid()), pictureOnly(), collector, nullptr).startCapture());
}

// Waits until the newest ten buffers are louder than `level` (root mean square).
bool awaitLouder(const std::function<std::vector<AudioBuffer>()>& buffers, double level) {
    return waitUntil(
        [&] {
            const auto all = buffers();
            return all.size() >= 10 && rootMeanSquare({all.end() - 10, all.end()}) > level;
        },
        10s);
}

class PulseAudioSourceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sound.ready()) << "no PulseAudio daemon came up"; }

    TestSoundServer sound;
    Collector collector;
};

TEST_F(PulseAudioSourceTest, RecordsTheDefaultSinksMonitorAsStampedChunks) {
    EXPECT_EQ(PulseAudioSource::findDevice(PulseAudioSource::Device::systemAudio, 2s), "tavrin_sink.monitor");
    PulseAudioSource source(PulseAudioSource::Device::systemAudio);
    source.start([&](AudioBuffer buffer) { collector.didOutputAudio(std::move(buffer)); });
    ASSERT_TRUE(waitUntil([&] { return collector.audio().size() >= 20; }, 10s)) << "no sound arrived";
    EXPECT_LT(rootMeanSquare(collector.audio()), 1.0) << "silence before the tone";

    const auto tone = sound.playTone("tavrin_sink", 440.0, 3.0);
    const auto audio = [&] { return collector.audio(); };
    EXPECT_TRUE(awaitLouder(audio, 4000.0)) << "the tone was not heard";
    source.stop();
    const auto buffers = collector.audio();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(collector.audio().size(), buffers.size()) << "a buffer after stop returned";
    RecordProperty("toneLevel", std::to_string(rootMeanSquare({buffers.end() - 10, buffers.end()})));

    // 48 kHz mono chunks of about 20 ms, each starting where the one before ended.
    std::int64_t frames = 0;
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        const AudioBuffer& buffer = buffers[i];
        EXPECT_EQ(std::tuple(buffer.sampleRate, buffer.channels), std::tuple(48000, 1));
        EXPECT_GT(buffer.frameCount(), 0);
        EXPECT_LE(buffer.frameCount(), 48000 / 10);
        frames += buffer.frameCount();
        if (i > 0) {
            const MediaTime end =
                buffers[i - 1].presentationTime +
                std::chrono::nanoseconds(buffers[i - 1].frameCount() * 1'000'000'000 / 48000);
            EXPECT_GT(buffer.presentationTime, buffers[i - 1].presentationTime);
            EXPECT_LT(std::chrono::abs(buffer.presentationTime - end), 5ms) << "buffer " << i;
        }
    }
    const MediaTime spanned = buffers.back().presentationTime - buffers.front().presentationTime;
    EXPECT_NEAR(static_cast<double>(frames - buffers.back().frameCount()) / 48000.0,
                std::chrono::duration<double>(spanned).count(), 0.05);
    EXPECT_LT(std::chrono::abs(mediaNow() - buffers.back().presentationTime), 2s);
}

TEST_F(PulseAudioSourceTest, MicrophoneIsTheDefaultSourceButNeverAMonitor) {
    LinuxCapturePlatform platform;
    ASSERT_EQ(sound.pactl({"load-module", "module-null-sink", "sink_name=mic_feed"}), 0);
    ASSERT_EQ(sound.pactl({"load-module", "module-remap-source", "master=mic_feed.monitor",
                           "source_name=tavrin_remap"}),
              0);
    ASSERT_EQ(sound.pactl({"set-default-source", "tavrin_remap"}), 0);
    EXPECT_EQ(PulseAudioSource::findDevice(PulseAudioSource::Device::microphone, 2s), "tavrin_remap");

    auto microphone = platform.makeMicrophone(collector);
    ASSERT_NE(microphone, nullptr);
    microphone->startRunning();
    const auto tone = sound.playTone("mic_feed", 880.0, 3.0);
    const auto heard = [&] { return collector.microphone(); };
    EXPECT_TRUE(awaitLouder(heard, 4000.0)) << "the microphone's tone was not heard";
    microphone->stopRunning();
    const auto buffers = collector.microphone();
    ASSERT_FALSE(buffers.empty());
    EXPECT_EQ(std::tuple(buffers.back().sampleRate, buffers.back().channels), std::tuple(48000, 1));
    RecordProperty("microphoneLevel", std::to_string(rootMeanSquare({buffers.end() - 10, buffers.end()})));
    EXPECT_TRUE(collector.audio().empty());

    ASSERT_EQ(sound.pactl({"set-default-source", "tavrin_sink.monitor"}), 0);
    EXPECT_EQ(PulseAudioSource::findDevice(PulseAudioSource::Device::microphone, 2s), std::nullopt);
    EXPECT_EQ(platform.makeMicrophone(collector), nullptr);
}

TEST_F(PulseAudioSourceTest, GoesQuietWhenTheServerDiesAndHearsItsSuccessor) {
    PulseAudioSource source(PulseAudioSource::Device::systemAudio);
    source.start([&](AudioBuffer buffer) { collector.didOutputAudio(std::move(buffer)); });
    ASSERT_TRUE(waitUntil([&] { return collector.audio().size() >= 10; }, 10s));
    sound.kill();
    std::this_thread::sleep_for(300ms);
    const std::size_t beforeDeath = collector.audio().size();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(collector.audio().size(), beforeDeath);

    sound.start();
    ASSERT_TRUE(sound.ready());
    const auto tone = sound.playTone("tavrin_sink", 440.0, 4.0);
    const auto audio = [&] { return collector.audio(); };
    EXPECT_TRUE(awaitLouder(audio, 4000.0)) << "no sound from the new server";
    source.stop();
}

TEST(PulseAudioWithoutServerTest, GivesNothingAndNeverFails) {
    TemporaryFolder nowhere;
    ::setenv("PULSE_SERVER", ("unix:" + nowhere.file("none")).c_str(), 1);
    Collector collector;
    EXPECT_EQ(PulseAudioSource::findDevice(PulseAudioSource::Device::systemAudio, 2s), std::nullopt);
    EXPECT_EQ(LinuxCapturePlatform().makeMicrophone(collector), nullptr);
    PulseAudioSource source(PulseAudioSource::Device::systemAudio);
    source.start([&](AudioBuffer buffer) { collector.didOutputAudio(std::move(buffer)); });
    std::this_thread::sleep_for(1500ms);
    const auto before = std::chrono::steady_clock::now();
    source.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_TRUE(collector.audio().empty());
    ::unsetenv("PULSE_SERVER");
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
