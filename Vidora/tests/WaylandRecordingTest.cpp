// Recording on a headless Wayland desktop the test starts once (scripts/lib/wayland-session.sh): displays
// through the ScreenCast portal and PipeWire, the stand-in game's X11 window through Xwayland.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <fstream>
#include <functional>
#include <mutex>

#include "ChildProcess.h"
#include "MovieProbe.h"
#include "TemporaryFolder.h"
#include "capture/ScreenCaptureFilter.h"
#include "capture/ScreenCaptureRecorder.h"
#include "linux/X11ContentProvider.h"
#include "wayland/SessionCapturePlatform.h"
#include "writer/FfmpegMovieWriter.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using tavrin::testing::ChildProcess;
using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::waitUntil;
using vidora::testing::run;

// The desktop with the game on it, for every test of this program. sway runs as nobody when the tests
// run as root, so the folder is one nobody can reach.
class WaylandDesktop : public ::testing::Environment {
public:
    static inline std::string folder;

    void SetUp() override {
        std::string pattern = "/tmp/vidora-wayland-XXXXXX";
        folder = ::mkdtemp(pattern.data());
        std::filesystem::permissions(folder, std::filesystem::perms(0755));
        application_ = std::make_unique<QCoreApplication>(argc_, argv_);
        session_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{
                "/bin/bash", "-c",
                "source '" WAYLAND_SESSION "'; trap wayland_session_stop EXIT; "
                "trap 'exit 0' TERM; wayland_session_begin \"$0\" || exit 1; "
                "env > \"$0/environment.new\" && mv \"$0/environment.new\" \"$0/environment\"; "
                "wayland_child idle sleep infinity; wait",
                folder + "/desktop"},
            std::map<std::string, std::string>{});
        ASSERT_TRUE(waitUntil([] { return std::filesystem::exists(folder + "/desktop/environment"); }, 60s))
            << "no Wayland desktop; its logs are in " << folder;
        std::ifstream environment(folder + "/desktop/environment");
        for (std::string line; std::getline(environment, line);) {
            const std::string name = line.substr(0, line.find('='));
            if (name == "WAYLAND_DISPLAY" || name == "DISPLAY" || name == "DBUS_SESSION_BUS_ADDRESS" ||
                name == "XDG_SESSION_TYPE") {
                ::setenv(name.c_str(), line.substr(name.size() + 1).c_str(), 1);
            }
        }
        game_ = std::make_unique<ChildProcess>(std::vector<std::string>{RUN_FAKEGAME, folder + "/wine"},
                                               std::map<std::string, std::string>{});
    }
    void TearDown() override {
        game_.reset();
        if (session_) {
            session_->signal(SIGTERM);
            session_->wait(20s);
        }
        std::filesystem::remove_all(folder);
        // Gone before the program's static objects, Qt's among them.
        application_.reset();
    }

private:
    int argc_ = 1;
    char* argv_[2] = {const_cast<char*>("vidora_wayland_tests"), nullptr};
    // The portal client speaks to the bus through Qt.
    std::unique_ptr<QCoreApplication> application_;
    std::unique_ptr<ChildProcess> session_;
    std::unique_ptr<ChildProcess> game_;
};

const auto* desktop = ::testing::AddGlobalTestEnvironment(new WaylandDesktop);

int lines(const std::string& name) {
    std::ifstream file(WaylandDesktop::folder + "/desktop/" + name);
    return static_cast<int>(std::count(std::istreambuf_iterator<char>(file), {}, '\n'));
}

int timesAsked() {
    return lines("chooser-asked");
}

void choose(const std::string& output) {
    std::ofstream(WaylandDesktop::folder + "/desktop/choice") << output;
}

// Grey levels of a movie's frame at `second`.
std::string frameAt(const std::string& movie, double second) {
    return run("ffmpeg -v error -ss " + std::to_string(second) + " -i '" + movie +
               "' -frames:v 1 -f rawvideo -pix_fmt gray -");
}

// The engine as the recorder runs it; what it posts to the main thread waits for `runPosted`.
struct Engine {
    X11ContentProvider content;
    SessionCapturePlatform platform;
    tavrin::SystemClock clock;
    std::mutex mutex;
    std::vector<std::function<void()>> posted;
    ScreenCaptureRecorder recorder{content, platform, [] { return std::make_unique<FfmpegMovieWriter>(); },
                                   clock,
                                   [this](std::function<void()> work) {
                                       const std::lock_guard lock(mutex);
                                       posted.push_back(std::move(work));
                                   }};

    explicit Engine(const std::string& tokenFolder) : platform({5s, tokenFolder}) {
        const auto displays = ScreenCaptureFilter(content).getDisplays();
        if (displays && !displays->empty()) {
            recorder.setup(displays->front().id);
        }
    }

    bool hasPosted() {
        const std::lock_guard lock(mutex);
        return !posted.empty();
    }

    // Records `seconds` into `path` (.mp0); the finished movie's path, or nothing when no frame came.
    std::optional<std::string> record(const std::string& path, std::chrono::milliseconds length) {
        recorder.start(path, false);
        const bool framed = waitUntil([&] { return recorder.startTime().has_value(); }, 10s);
        std::this_thread::sleep_for(length);
        recorder.stop();
        return framed ? std::optional(path.substr(0, path.size() - 1) + "4") : std::nullopt;
    }
};

TEST(WaylandRecording, DisplayIsChosenOnceThenRestoredAndARefusalLeavesTheRecorderIdle) {
    TemporaryFolder folder;
    Engine engine(folder.file("state/vidora/screencast"));
    // The displays are Xwayland's RandR monitors.
    const auto displays = ScreenCaptureFilter(engine.content).getDisplays();
    ASSERT_TRUE(displays && displays->size() == 1);
    EXPECT_EQ(displays->front().w, 1280);
    ASSERT_TRUE(engine.recorder.setup(displays->front().id));

    const int askedBefore = timesAsked();
    const auto first = engine.record(folder.file("first.mp0"), 1500ms);
    ASSERT_TRUE(first) << "no frame came through the portal";
    EXPECT_EQ(timesAsked(), askedBefore + 1);
    EXPECT_TRUE(std::filesystem::exists(folder.file("state/vidora/screencast/1280x720+0+0")));
    const std::string early = frameAt(*first, 0.3);
    const std::string late = frameAt(*first, 1.3);
    ASSERT_EQ(early.size(), 1280U * 720);
    EXPECT_GT(std::count_if(late.begin(), late.end(), [](char grey) { return grey != 0; }), 1280 * 720 / 2)
        << "the picture is black";
    EXPECT_NE(early, late) << "the picture does not change";

    // A person who would refuse is not asked: the kept choice is restored.
    choose("");
    EXPECT_TRUE(engine.record(folder.file("second.mp0"), 300ms)) << "the kept choice was not restored";
    EXPECT_EQ(timesAsked(), askedBefore + 1);

    // Without the token the refusal stands: the capture cannot start and the recorder stops itself.
    std::filesystem::remove_all(folder.file("state/vidora/screencast"));
    engine.recorder.start(folder.file("third.mp0"), false);
    ASSERT_TRUE(waitUntil([&] { return engine.hasPosted(); }, 40s));
    EXPECT_FALSE(engine.recorder.startTime());
    EXPECT_EQ(timesAsked(), askedBefore + 2);
    engine.posted.front()();
    EXPECT_FALSE(engine.recorder.isRecording());
    choose("HEADLESS-1");
}

TEST(WaylandRecording, GameWindowComesThroughXwaylandWithoutThePortal) {
    TemporaryFolder folder;
    Engine engine(folder.file("token"));
    ASSERT_TRUE(waitUntil([&] { return engine.recorder.setup("com.blizzard.worldofwarcraft"); }, 20s));
    const int askedBefore = timesAsked();
    const auto movie = engine.record(folder.file("game.mp0"), 1000ms);
    ASSERT_TRUE(movie);
    EXPECT_EQ(timesAsked(), askedBefore);
    const std::string picture = frameAt(*movie, 0.5);
    EXPECT_GT(std::count_if(picture.begin(), picture.end(), [](char grey) { return grey != 0; }),
              static_cast<std::ptrdiff_t>(picture.size() / 2));
}

// A stop while the person has not answered yet ends the start at once, with the dialog, and leaves
// nothing behind.
TEST(WaylandRecording, StopWhileTheDialogWaitsEndsTheStartAtOnce) {
    TemporaryFolder folder;
    Engine engine(folder.file("tokens"));
    choose("wait");
    const int askedBefore = timesAsked();
    const int answeredBefore = lines("chooser-answered");
    engine.recorder.start(folder.file("unanswered.mp0"), false);
    ASSERT_TRUE(waitUntil([&] { return timesAsked() > askedBefore; }, 20s));
    engine.recorder.stop();
    EXPECT_EQ(lines("chooser-answered"), answeredBefore) << "the stop waited for the person's answer";
    EXPECT_FALSE(engine.recorder.isRecording());
    EXPECT_FALSE(std::filesystem::exists(folder.file("unanswered.mp0")) ||
                 std::filesystem::exists(folder.file("unanswered.mp4")));
    choose("HEADLESS-1");
    EXPECT_TRUE(waitUntil([&] { return lines("chooser-answered") > answeredBefore; }, 20s));
}

// The desktop ending the share (here its portal going away) ends the recording as a vanished display
// does, and what was recorded is kept.
TEST(WaylandRecording, AShareTheDesktopEndsEndsTheRecording) {
    TemporaryFolder folder;
    Engine engine(folder.file("tokens"));
    engine.recorder.start(folder.file("ended.mp0"), false);
    ASSERT_TRUE(waitUntil([&] { return engine.recorder.startTime().has_value(); }, 20s));
    std::this_thread::sleep_for(500ms);
    run("kill $(dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
        "org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.impl.portal.desktop.wlr | "
        "awk '/uint32/ { print $2 }')");
    ASSERT_TRUE(waitUntil([&] { return engine.hasPosted(); }, 10s))
        << "the recording went on without a picture";
    engine.posted.front()();
    EXPECT_FALSE(engine.recorder.isRecording());
    EXPECT_TRUE(std::filesystem::exists(folder.file("ended.mp4")));
}

}  // namespace
}  // namespace vidora
