// The recorder end to end: the X11 and PulseAudio sources and the FFmpeg writer record the stand-in
// game and the whole display of an Xvfb desktop with openbox, with sound from a PulseAudio daemon, all
// started by the test. The movies are read back with the ffprobe and ffmpeg tools.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <mutex>
#include <sstream>
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

using namespace std::chrono_literals;
using namespace vidora::testing;
using Colour = std::array<int, 3>;  // red, green, blue
using Seconds = std::chrono::duration<double>;

constexpr std::string_view game = tavrin::gameBundleIdentifier;
constexpr Colour black{0, 0, 0};
constexpr Colour magenta{255, 0, 255};
constexpr Colour gameBackground{16, 24, 40};
// The stand-in game's background, its bar's six colours, and its frame counter's panel and digits.
constexpr Colour gameColours[] = {gameBackground, {230, 60, 50},  {240, 200, 40},
                                  {60, 200, 80},  {40, 200, 220}, {70, 90, 230},
                                  {210, 70, 210}, black,          {255, 255, 255}};

// Compression shifts colours a little.
bool near(Colour seen, Colour expected) {
    return std::ranges::all_of(
        std::array{0, 1, 2}, [&](int channel) { return std::abs(seen[channel] - expected[channel]) <= 24; });
}
bool isBlack(Colour seen) {
    return near(seen, black);
}
bool isGameBackground(Colour seen) {
    return near(seen, gameBackground);
}
bool isGameColour(Colour seen) {
    return std::ranges::any_of(gameColours, [&](Colour colour) { return near(seen, colour); });
}

// One decoded 1920 x 1080 picture, rgb24.
struct Picture {
    std::string rgb;
    Colour at(int x, int y) const {
        const auto offset = (static_cast<std::size_t>(y) * 1920 + static_cast<std::size_t>(x)) * 3;
        return {static_cast<std::uint8_t>(rgb[offset]), static_cast<std::uint8_t>(rgb[offset + 1]),
                static_cast<std::uint8_t>(rgb[offset + 2])};
    }
};

Picture pictureAt(const std::string& path, int second) {
    return {run("ffmpeg -v error -ss " + std::to_string(second) + " -i '" + path +
                "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -")};
}

Rect inset(const Rect& area, int margin) {
    return {area.x + margin, area.y + margin, area.width - 2 * margin, area.height - 2 * margin};
}
bool contains(const Rect& area, int x, int y) {
    return x >= area.x && x < area.x + area.width && y >= area.y && y < area.y + area.height;
}

// The share of points on a 16-pixel grid over `area`, away from `avoided`, whose colour passes `test`.
double shareOf(const Picture& picture, const Rect& area, auto test, const Rect& avoided = {}) {
    int hits = 0;
    int points = 0;
    for (int y = area.y; y < area.y + area.height; y += 16) {
        for (int x = area.x; x < area.x + area.width; x += 16) {
            if (!contains(avoided, x, y)) {
                hits += test(picture.at(x, y)) ? 1 : 0;
                ++points;
            }
        }
    }
    return points == 0 ? 0.0 : static_cast<double>(hits) / points;
}

// The test program is built as "Vidora" (see CMakeLists.txt), so the provider knows the windows of this
// process as the recorder's own.
class RecorderIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display.ready()) << "no Xvfb with openbox came up";
        ASSERT_TRUE(sound.ready()) << "no PulseAudio daemon came up";
        // The cursor is drawn into movies: keep it in the screen's corner, out of the sampled grid.
        xcb_warp_pointer(display.connection(), XCB_WINDOW_NONE, display.root(), 0, 0, 0, 0, 1919, 1079);
        xcb_flush(display.connection());
        gameProcess = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/bin/bash", RUN_FAKEGAME, folder.file("prefix"), "--match", "--matches",
                                     "0"},
            std::map<std::string, std::string>{{"DISPLAY", display.name()}, {"FAKEGAME", ""}});
        ASSERT_TRUE(waitUntil([&] { return gameWindow().width > 0; }, 20s)) << "no stand-in game window";
    }

    // The game's window where the provider sees it; empty while there is none.
    Rect gameWindow() const {
        const auto snapshot = content.getShareableContent();
        for (const Window& window : snapshot ? snapshot->windows : std::vector<Window>{}) {
            if (window.isActive && window.owningApplication &&
                window.owningApplication->bundleIdentifier == game) {
                return window.frame;
            }
        }
        return {};
    }

    // What `pactl list sinks` says of a sink's latency, in microseconds; very long when it is not listed.
    long sinkLatency(const std::string& sink) const {
        std::istringstream lines(run("env HOME=" + folder.path() + " pactl list sinks"));
        bool inSink = false;
        for (std::string line; std::getline(lines, line);) {
            if (line.find("Name: ") != std::string::npos) {
                inSink = line.ends_with("Name: " + sink);
            } else if (const auto at = line.find("Latency: "); inSink && at != std::string::npos) {
                return std::stol(line.substr(at + 9));
            }
        }
        return LONG_MAX;
    }

    // The display as it shows now, grabbed by the ffmpeg tool.
    Picture screenshot() const {
        return {run("ffmpeg -v error -f x11grab -video_size 1920x1080 -i " + display.name() +
                    " -frames:v 1 -f rawvideo -pix_fmt rgb24 -")};
    }

    std::unique_ptr<ScreenCaptureRecorder> makeRecorder() {
        return std::make_unique<ScreenCaptureRecorder>(
            content, platform, [] { return std::make_unique<FfmpegMovieWriter>(); }, clock,
            [this](std::function<void()> work) {
                std::lock_guard lock(mutex);
                postedToMain.push_back(std::move(work));
            });
    }

    TestDisplay display;
    TestSoundServer sound;
    TemporaryFolder folder;
    std::unique_ptr<ChildProcess> gameProcess;
    X11ContentProvider content{display.name()};
    LinuxCapturePlatform platform;
    tavrin::SystemClock clock;
    std::mutex mutex;
    // The recorder posts here only when a stream ends on its own.
    std::vector<std::function<void()>> postedToMain;
};

TEST_F(RecorderIntegrationTest, RecordsTheGameWithItsSoundAndTheMicrophoneMutedForAWhile) {
    // A null sink renders up to two seconds ahead until a reader asks for less, and the remap source
    // passes a new reader's wish on late: a low-latency reader kept on the microphone makes it deliver
    // like a capture device.
    ASSERT_TRUE(sound.addMicrophone());
    ChildProcess reader({"/usr/bin/parec", "--device=tavrin_remap", "--latency-msec=20", "/dev/null"},
                        sound.environment());
    const auto gameTone = sound.playTone("tavrin_sink", 440.0, 10.0);
    const auto voice = sound.playTone("mic_feed", 880.0, 10.0);
    ASSERT_TRUE(waitUntil([&] { return sinkLatency("mic_feed") < 50'000; }, 20s));

    const Rect placed = gameWindow();
    constexpr auto voiced = 1000ms;
    constexpr auto muted = 1200ms;
    const auto recorder = makeRecorder();
    ASSERT_TRUE(recorder->setup(game));
    recorder->start(folder.file("x.mp0"), true);
    ASSERT_TRUE(recorder->isRecording());
    std::this_thread::sleep_for(voiced);
    recorder->micState = false;
    const auto mutedAt = clock.now();
    std::this_thread::sleep_for(muted);
    recorder->micState = true;
    const auto unmutedAt = clock.now();
    std::this_thread::sleep_for(voiced);
    const auto startTime = recorder->startTime();
    recorder->stop();
    ASSERT_TRUE(startTime) << "no frame reached the movie";
    EXPECT_TRUE(postedToMain.empty());

    const std::string movie = folder.file("x.mp4");
    const auto sections = probe(movie);
    ASSERT_EQ(sections.size(), 4U);
    EXPECT_EQ(sections[0].at("width") + "x" + sections[0].at("height"), "1920x1080");
    const double duration = std::stod(sections[3].at("duration"));
    EXPECT_NEAR(duration, Seconds(2 * voiced + muted).count(), 1.0);

    // The game's colours inside its window, black everywhere else.
    const Picture middle = pictureAt(movie, 1);
    ASSERT_EQ(middle.rgb.size(), 1920U * 1080 * 3);
    const double inGameColours = shareOf(middle, inset(placed, 8), isGameColour);
    const double onBackground = shareOf(middle, inset(placed, 8), isGameBackground);
    EXPECT_GE(inGameColours, 0.97);
    EXPECT_GE(onBackground, 0.6);
    EXPECT_EQ(shareOf(middle, {8, 8, 1904, 1064}, isBlack, inset(placed, -8)), 1.0);
    RecordProperty("gameShares",
                   std::to_string(inGameColours) + ", background " + std::to_string(onBackground));

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

TEST_F(RecorderIntegrationTest, DisplayRecordingLeavesOutTheRecordersOwnWindow) {
    const Rect gamePlace = gameWindow();
    TestWindow own(display.connection(), 500, 300, 0xFF00FF);
    const Rect covered = own.configure(gamePlace.x + 300, gamePlace.y + 200, 500, 300);
    ASSERT_TRUE(contains(gamePlace, covered.x, covered.y) &&
                contains(gamePlace, covered.x + covered.width - 1, covered.y + covered.height - 1));
    const auto isMagenta = [](Colour c) { return near(c, magenta); };
    ASSERT_EQ(shareOf(screenshot(), inset(covered, 8), isMagenta), 1.0) << "our window does not show";

    const auto displays = ScreenCaptureFilter(content).getDisplays();
    ASSERT_TRUE(displays && displays->size() == 1U);
    const auto recorder = makeRecorder();
    ASSERT_TRUE(recorder->setup(displays->front().id));
    recorder->start(folder.file("x.mp0"), false);
    std::this_thread::sleep_for(1500ms);
    recorder->stop();
    EXPECT_TRUE(postedToMain.empty());

    // A hole where our window was would read black; compression blurs the moving bar's edges a little.
    const Picture middle = pictureAt(folder.file("x.mp4"), 1);
    ASSERT_EQ(middle.rgb.size(), 1920U * 1080 * 3);
    EXPECT_EQ(shareOf(middle, {0, 0, 1920, 1080}, isMagenta), 0.0);
    EXPECT_GE(shareOf(middle, inset(covered, 8), isGameColour), 0.9);
    EXPECT_GE(shareOf(middle, inset(covered, 8), isGameBackground), 0.6);
}

}  // namespace
}  // namespace vidora
