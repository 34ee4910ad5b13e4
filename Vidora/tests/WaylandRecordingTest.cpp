// SPDX-License-Identifier: GPL-3.0-or-later
// Recording on headless Wayland desktops the test starts once: on sway (scripts/lib/wayland-session.sh),
// displays through the ScreenCast portal and PipeWire and the stand-in game's X11 window through
// Xwayland; on GNOME's own stack (scripts/lib/gnome-session.sh), displays with vidora-record.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>

#include "ChildProcess.h"
#include "MovieProbe.h"
#include "TemporaryFolder.h"
#include "capture/ScreenCaptureFilter.h"
#include "capture/ScreenCaptureRecorder.h"
#include "linux/X11ContentProvider.h"
#include "wayland/PipeWireVideoSource.h"
#include "wayland/ScreenCastPortal.h"
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

// A headless desktop that one of scripts/lib's session scripts starts (PREFIX_begin FOLDER, stopped by
// PREFIX_stop) for the tests of one suite, once, and only when one of them runs.
class ScriptedDesktop : public ::testing::Environment {
public:
    ScriptedDesktop(std::string suite, std::string script, std::string prefix, std::string& folder)
        : suite_(std::move(suite)), script_(std::move(script)), prefix_(std::move(prefix)), folder_(folder) {}

    void SetUp() override { start(); }
    void TearDown() override {
        if (session_) {
            session_->signal(SIGTERM);
            session_->wait(20s);
        }
        if (!folder_.empty()) {
            std::filesystem::remove_all(folder_);
        }
    }

    // The session's environment once it runs: the variables that lead programs to it.
    std::map<std::string, std::string> variables;
    // Why the desktop cannot run here: a package that is not installed.
    std::string missing;

private:
    void start() {
        const auto* tests = ::testing::UnitTest::GetInstance();
        bool wanted = false;
        for (int index = 0; index < tests->total_test_suite_count(); ++index) {
            wanted |=
                tests->GetTestSuite(index)->name() == suite_ && tests->GetTestSuite(index)->should_run();
        }
        if (!wanted) {
            return;
        }
        // sway runs as nobody when the tests run as root, so the folder is one nobody can reach.
        std::string pattern = "/tmp/vidora-wayland-XXXXXX";
        folder_ = ::mkdtemp(pattern.data());
        std::filesystem::permissions(folder_, std::filesystem::perms(0755));
        session_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{
                "/bin/bash", "-c",
                "source \"$1\"; trap \"$2_stop\" EXIT; trap 'exit 0' TERM; "
                "\"$2_begin\" \"$0\" || exit; "
                "env > \"$0/environment.new\" && mv \"$0/environment.new\" \"$0/environment\"; "
                "wayland_child idle sleep infinity; wait",
                folder_ + "/desktop", script_, prefix_},
            std::map<std::string, std::string>{});
        const std::string environment = folder_ + "/desktop/environment";
        waitUntil([&] { return std::filesystem::exists(environment) || !session_->running(); }, 60s);
        missing = readFile(folder_ + "/desktop/missing");
        ASSERT_TRUE(!missing.empty() || std::filesystem::exists(environment))
            << "no " << suite_ << " desktop; its logs are in " << folder_;
        std::ifstream lines(environment);
        for (std::string line; std::getline(lines, line);) {
            variables[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        }
    }

    std::string suite_;
    std::string script_;
    std::string prefix_;
    std::string& folder_;
    std::unique_ptr<ChildProcess> session_;
};

// sway's desktop with the game on it.
class WaylandDesktop final : public ScriptedDesktop {
public:
    static inline std::string folder;

    WaylandDesktop() : ScriptedDesktop("WaylandRecording", WAYLAND_SESSION, "wayland_session", folder) {}

    void SetUp() override {
        // The portal client speaks to the bus through Qt.
        application_ = std::make_unique<QCoreApplication>(argc_, argv_);
        ScriptedDesktop::SetUp();
        if (variables.empty()) {
            return;
        }
        for (const char* name :
             {"WAYLAND_DISPLAY", "DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_SESSION_TYPE"}) {
            ::setenv(name, variables[name].c_str(), 1);
        }
        game_ = std::make_unique<ChildProcess>(std::vector<std::string>{RUN_FAKEGAME, folder + "/wine"},
                                               std::map<std::string, std::string>{});
    }
    void TearDown() override {
        game_.reset();
        ScriptedDesktop::TearDown();
        // Gone before the program's static objects, Qt's among them.
        application_.reset();
    }

private:
    int argc_ = 1;
    char* argv_[2] = {const_cast<char*>("vidora_wayland_tests"), nullptr};
    std::unique_ptr<QCoreApplication> application_;
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

// Outputs made, moved and taken away as a person would.
void sway(const std::string& command) {
    run("swaymsg -s " + WaylandDesktop::folder + "/desktop/compositor/sway-ipc.* " + command + " >/dev/null");
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
    void runPosted() {
        std::vector<std::function<void()>> work;
        {
            const std::lock_guard lock(mutex);
            work.swap(posted);
        }
        for (auto& piece : work) {
            piece();
        }
    }
    // Chooses the display at `frame`, once the X server has one there.
    bool setupDisplayAt(const Rect& frame) {
        return waitUntil(
            [&] {
                const auto displays = X11ContentProvider().displays();
                const auto found = std::ranges::find(displays, frame, &Display::frame);
                return found != displays.end() && recorder.setup(found->displayID);
            },
            10s);
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
    // The displays are Xwayland's RandR monitors; this one is scaled by 2, so the X server counts it in
    // half the pixels, and the movie has the stream's.
    sway("output HEADLESS-1 scale 2");
    Engine engine(folder.file("state/vidora/screencast"));
    ASSERT_TRUE(engine.setupDisplayAt({0, 0, 640, 360}));

    const int askedBefore = timesAsked();
    const auto first = engine.record(folder.file("first.mp0"), 1500ms);
    ASSERT_TRUE(first) << "no frame came through the portal";
    EXPECT_EQ(timesAsked(), askedBefore + 1);
    EXPECT_TRUE(std::filesystem::exists(folder.file("state/vidora/screencast/640x360+0+0")));
    const std::string early = frameAt(*first, 0.3);
    const std::string late = frameAt(*first, 1.3);
    ASSERT_EQ(early.size(), 1280U * 720) << "the movie does not have the stream's size";
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

    // Two monitors of one size, swapped after the choice: the kept choice would restore the other one
    // (the portal says (0, 0) for every output), so the person is asked again, and here refuses.
    sway("create_output");
    sway("output HEADLESS-2 resolution 1280x720 position 0 0");
    sway("output HEADLESS-1 scale 1 position 1280 0");
    Engine two(folder.file("two"));
    choose("HEADLESS-1");
    ASSERT_TRUE(two.setupDisplayAt({1280, 0, 1280, 720}));
    ASSERT_TRUE(two.record(folder.file("right.mp0"), 300ms));
    sway("output HEADLESS-2 position 1280 0");
    sway("output HEADLESS-1 position 0 0");
    choose("");
    const int askedBeforeSwap = timesAsked();
    two.recorder.start(folder.file("swapped.mp0"), false);
    EXPECT_TRUE(waitUntil([&] { return timesAsked() > askedBeforeSwap || two.recorder.startTime(); }, 20s));
    two.recorder.stop();
    EXPECT_EQ(timesAsked(), askedBeforeSwap + 1) << "the other monitor was recorded without asking";
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
    EXPECT_EQ(engine.recorder.takeResult()->problem, RecordingProblem::shareUnanswered);
    EXPECT_FALSE(std::filesystem::exists(folder.file("unanswered.mp0")) ||
                 std::filesystem::exists(folder.file("unanswered.mp4")));
    choose("HEADLESS-1");
    EXPECT_TRUE(waitUntil([&] { return lines("chooser-answered") > answeredBefore; }, 20s));
}

// The desktop ending the share ends the recording as a vanished display does, and what was recorded is
// kept: its portal session closed (xdg-desktop-portal-wlr then takes the stream away and says nothing on
// the bus) within a moment, sooner than the 2 s after which a paused stream ends it; the stream paused
// (its link taken away) 2 s after its last picture. The stop waits for no portal that has stopped
// answering.
TEST(WaylandRecording, AShareTheDesktopEndsOrPausesEndsTheRecording) {
    TemporaryFolder folder;
    Engine engine(folder.file("tokens"));
    engine.recorder.start(folder.file("ended.mp0"), false);
    ASSERT_TRUE(waitUntil([&] { return engine.recorder.startTime().has_value(); }, 20s));
    std::this_thread::sleep_for(300ms);
    run(R"sh(b=org.freedesktop.impl.portal.desktop.wlr s=/org/freedesktop/portal/desktop/session
        child() { dbus-send --session --print-reply --dest=$b "$1" org.freedesktop.DBus.Introspectable.Introspect |
            sed -n 's/.*node name="\([^"]*\)".*/\1/p' | head -n 1; }
        s=$s/$(child $s); s=$s/$(child $s)
        dbus-send --session --print-reply --dest=$b "$s" org.freedesktop.impl.portal.Session.Close >/dev/null)sh");
    EXPECT_TRUE(waitUntil([&] { return engine.hasPosted(); }, 1500ms))
        << "the stream waited to be linked again";
    ASSERT_TRUE(waitUntil([&] { return engine.hasPosted(); }, 10s))
        << "the recording went on without a picture";
    const std::string portal =
        run("dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
            "org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.portal.Desktop | "
            "awk '/uint32/ { printf $2 }'");
    run("kill -STOP " + portal);
    const auto stopping = std::chrono::steady_clock::now();
    engine.runPosted();
    const auto stopTook = std::chrono::steady_clock::now() - stopping;
    run("kill -CONT " + portal);
    EXPECT_LT(stopTook, 1500ms) << "the stop waited for the portal";
    EXPECT_FALSE(engine.recorder.isRecording());
    EXPECT_TRUE(std::filesystem::exists(folder.file("ended.mp4")));

    engine.recorder.start(folder.file("paused.mp0"), false);
    ASSERT_TRUE(waitUntil([&] { return engine.recorder.startTime().has_value(); }, 20s));
    run("export XDG_RUNTIME_DIR=" + WaylandDesktop::folder + "/desktop/runtime\n" + R"sh(
        node=$(pw-cli ls Node | awk '/^[ \t]*id / { id = $2 } /node.name = "xdg-desktop-portal-wlr"/ { print id }' | tr -d ,)
        link=$(pw-cli ls Link | awk -v node="\"$node\"" '/^[ \t]*id / { id = $2 } /link.output.node/ && $3 == node { print id }' | tr -d ,)
        pw-cli destroy "$link" >/dev/null)sh");
    EXPECT_TRUE(waitUntil([&] { return engine.hasPosted(); }, 5s))
        << "the recording went on with a frozen picture";
    engine.runPosted();
    EXPECT_TRUE(std::filesystem::exists(folder.file("paused.mp4")));
}

// What the recorder asks of the portal, from what the portal says; needs no desktop. A restored share is
// taken only where it shows the chosen monitor and can show no other.
TEST(ScreenCastPortal, RestoresOnlyTheChosenMonitorAndAsksForACursorOnlyAsOffered) {
    const Rect left{0, 0, 1920, 1080}, right{1920, 0, 1920, 1080}, small{1920, 0, 1280, 720};
    const std::pair origin(0, 0), full(1920, 1080);
    // The position decides, in the scale of the chosen monitor (Xwayland may count twice the pixels).
    EXPECT_TRUE(showsOnly({std::pair(1920, 0), full}, right, {left, right}));
    EXPECT_FALSE(showsOnly({origin, full}, right, {left, right}));
    EXPECT_TRUE(showsOnly({std::pair(960, 0), std::pair(960, 540)}, right, {left, right}));
    // Where no monitor lies as said (the portal says (0, 0) for every output), or nothing is said, the
    // size decides, only where no other monitor has it; with nothing said, only a single monitor is sure.
    EXPECT_TRUE(showsOnly({origin, std::pair(1280, 720)}, small, {left, small}));
    EXPECT_FALSE(showsOnly({std::nullopt, full}, right, {left, right}));
    EXPECT_TRUE(showsOnly({}, left, {left}));
    EXPECT_FALSE(showsOnly({}, left, {left, right}));
    // The cursor drawn in where offered, else hidden, else left to the portal (hidden 1, embedded 2,
    // metadata 4).
    EXPECT_EQ(cursorModeFor(1 | 2 | 4), 2U);
    EXPECT_EQ(cursorModeFor(1 | 4), 1U);
    EXPECT_EQ(cursorModeFor(4), std::nullopt);
}

// A shared-memory buffer is read only where it holds the whole picture: 4 x 2 pixels, rows 32 bytes
// apart, the last row 16 bytes wide; needs no desktop.
TEST(PipeWirePicture, IsReadOnlyWithinItsBuffer) {
    EXPECT_TRUE(holdsPicture({.offset = 8, .size = 40, .maxsize = 56, .corrupted = false}, 4, 2, 32));
    EXPECT_FALSE(holdsPicture({.offset = 8, .size = 40, .maxsize = 55, .corrupted = false}, 4, 2, 32));
    EXPECT_FALSE(holdsPicture({.offset = 8, .size = 40, .maxsize = 56, .corrupted = true}, 4, 2, 32));
    EXPECT_FALSE(holdsPicture({.offset = 8, .size = 0, .maxsize = 56, .corrupted = false}, 4, 2, 32));
    EXPECT_FALSE(holdsPicture({.offset = 0, .size = 40, .maxsize = 56, .corrupted = false}, 4, 2, 12));
    // A stride the size of the address space wraps no sum.
    EXPECT_FALSE(
        holdsPicture({.offset = 0, .size = 1, .maxsize = UINT32_MAX, .corrupted = false}, 4, 3, INT32_MAX));
}

// The programs' windows go through Xwayland even where Qt's Wayland platform is installed: the window
// lists, the game and xdotool are all on X11 there.
TEST(WaylandRecording, ProgramWindowsComeThroughXwayland) {
    TemporaryFolder home;
    // Renamed, the proxy takes no other copy that runs for this user for itself, and quits for none.
    const std::string proxyCopy = home.file("proxy-copy");
    std::filesystem::copy_file(PARLAN, proxyCopy);
    ChildProcess proxy({proxyCopy},
                       {{"HOME", home.path()}, {"XDG_CONFIG_HOME", ""}, {"QT_QPA_PLATFORM", ""}});
    EXPECT_TRUE(waitUntil([] { return !run("xdotool search --class '^Parlan$'").empty(); }, 20s))
        << "no Parlan window on Xwayland";
}

std::string gnomeFolder;
auto* const gnome = static_cast<ScriptedDesktop*>(::testing::AddGlobalTestEnvironment(
    new ScriptedDesktop("GnomeRecording", GNOME_SESSION, "gnome_session", gnomeFolder)));

struct Recorded {
    int status = -1;
    std::string errors;
    double seconds = 0;  // what vidora-record says it recorded
    double movie = 0;    // what the movie lasts
};

// `vidora-record --display` on GNOME's desktop with `bus` for the session bus, into FOLDER/movies.
Recorded recordOnGnome(const TemporaryFolder& folder, const std::string& name, const std::string& bus) {
    std::filesystem::create_directories(folder.file("movies"));
    std::string command = "env XDG_SESSION_TYPE=wayland XDG_STATE_HOME='" + folder.file("state") +
                          "' DBUS_SESSION_BUS_ADDRESS='" + bus + "'";
    for (const std::string variable : {"WAYLAND_DISPLAY", "DISPLAY", "XAUTHORITY"}) {
        command += " " + variable + "='" + gnome->variables[variable] + "'";
    }
    const std::string movie = folder.file("movies/" + name);
    const std::string printed =
        run(command + " timeout 30 " VIDORA_RECORD " --display --seconds 2 '" + movie + ".mp0' 2>'" +
            folder.file(name + ".errors") + "'; echo status $?");
    Recorded recorded;
    recorded.errors = readFile(folder.file(name + ".errors"));
    std::sscanf(printed.c_str() + printed.find("status"), "status %d", &recorded.status);
    if (const auto at = printed.find("recorded "); at != std::string::npos) {
        recorded.seconds = std::strtod(printed.c_str() + at + 9, nullptr);
    }
    recorded.movie = std::strtod(
        run("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + movie + ".mp4'").c_str(),
        nullptr);
    return recorded;
}

// GNOME's own stack: mutter's screen cast through xdg-desktop-portal-gnome, whose dialog a person
// answers once (scripts/lib/answer-share.py, through AT-SPI); the next recording restores the choice
// without asking. A movie lasts as long as its recording, the wait for the dialog left out.
TEST(GnomeRecording, DisplayIsSharedOnceThenRestoredAndEachMovieLastsAsLongAsItsRecording) {
    if (!gnome->missing.empty()) {
        GTEST_SKIP() << gnome->missing;
    }
    TemporaryFolder folder;
    for (const std::string name : {"asked", "restored"}) {
        const Recorded recorded = recordOnGnome(folder, name, gnome->variables["DBUS_SESSION_BUS_ADDRESS"]);
        ASSERT_EQ(recorded.status, 0) << recorded.errors;
        EXPECT_EQ(std::ranges::count(readFile(gnomeFolder + "/desktop/chooser-asked"), '\n'), 1) << name;
        EXPECT_NEAR(recorded.movie, recorded.seconds, 0.5) << name << ":\n" << recorded.errors;
    }
}

// mutter without xdg-desktop-portal-gnome: the portal offers no ScreenCast.
TEST(GnomeRecording, WithoutAScreenCastBackendTheRecordingFailsInOneLineAndLeavesNoFile) {
    if (!gnome->missing.empty()) {
        GTEST_SKIP() << gnome->missing;
    }
    TemporaryFolder folder;
    const Recorded recorded = recordOnGnome(folder, "refused", gnome->variables["GNOME_BARE_BUS_ADDRESS"]);
    EXPECT_NE(recorded.status, 0);
    // The recorder's own lines, not the tool's: one, saying why.
    std::vector<std::string> said;
    std::istringstream errors(recorded.errors);
    for (std::string line; std::getline(errors, line);) {
        if (!line.starts_with("vidora-record:")) {
            said.push_back(line);
        }
    }
    EXPECT_THAT(said, ::testing::ElementsAre(::testing::ContainsRegex("[Ss]creen.?[Cc]ast")))
        << recorded.errors;
    EXPECT_TRUE(std::filesystem::is_empty(folder.file("movies")));
}

}  // namespace
}  // namespace vidora
