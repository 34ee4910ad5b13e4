#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include "ChildProcess.h"
#include "FakeRecorder.h"
#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "control/ContentView.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using testing::FakeRecorder;

constexpr std::string_view game = "com.blizzard.worldofwarcraft";

class FakeDesktop final : public DesktopWorkspace {
public:
    std::vector<DesktopApplication> runningApplications() const override {
        const std::scoped_lock lock(mutex);
        return applications;
    }
    std::optional<std::string> applicationLocation(std::string_view bundleIdentifier) const override {
        if (bundleIdentifier == "org.example.nowhere") {
            return std::nullopt;
        }
        return "/opt/" + std::string(bundleIdentifier);
    }
    std::shared_ptr<const Icon> iconFor(const DesktopApplication& application,
                                        const std::string&) const override {
        if (application.bundleIdentifier == "org.example.iconless") {
            return nullptr;
        }
        return std::make_shared<const Icon>(Icon{.symbolName = "app", .width = 0, .height = 0, .argb = {}});
    }
    void set(std::vector<DesktopApplication> list) {
        const std::scoped_lock lock(mutex);
        applications = std::move(list);
    }

    mutable std::mutex mutex;
    std::vector<DesktopApplication> applications;
};

DesktopApplication app(std::optional<std::string> bundleIdentifier, std::optional<std::string> name,
                       bool hidden = false, bool launched = true) {
    return DesktopApplication{.pid = 100,
                              .bundleIdentifier = std::move(bundleIdentifier),
                              .localizedName = std::move(name),
                              .hidden = hidden,
                              .finishedLaunching = launched,
                              .windowIcon = nullptr};
}

class CountingTimer final : public RepeatingTimer {
public:
    explicit CountingTimer(int& live) : live_(live) { ++live_; }
    ~CountingTimer() override { --live_; }

private:
    int& live_;
};

class ContentViewTest : public ::testing::Test {
protected:
    tavrin::Environment environment() const {
        return [home = folder.path()](std::string_view name) -> std::optional<std::string> {
            if (name == "HOME") {
                return home;
            }
            return std::nullopt;
        };
    }
    std::string movies() const { return folder.path() + "/Videos/TavrinMovies"; }

    ContentViewPlatform platform() {
        return ContentViewPlatform{
            .recorder = recorder,
            .commands = commands,
            .locations = MovieLocations(environment()),
            .clock = clock,
            .workspace = desktop,
            .getDisplays =
                [] {
                    return std::vector<DisplaySummary>{{7, 2560, 1600}};
                },
            .screenNames = [this] { return screens; },
            .mainQueue =
                [this](std::function<void()> work) {
                    const std::scoped_lock lock(queueMutex);
                    queue.push_back(std::move(work));
                },
            .startTimer = [this](std::function<void()> tick) -> std::unique_ptr<RepeatingTimer> {
                ticks = std::move(tick);
                return std::make_unique<CountingTimer>(liveTimers);
            },
            .alertSound = [this] { ++sounds; }};
    }

    // Lists the stand-in game beside the one screen.
    void refresh(ContentView& view) {
        view.searchApps({{7, 2560, 1600}}, ContentView::applicationEntries(desktop));
    }

    // The start runs on the controller's own task.
    void awaitStart() {
        ASSERT_TRUE(tavrin::testing::waitUntil([&] { return recorder.recording.load(); }, 5s));
    }

    void drainMainQueue() {
        std::deque<std::function<void()>> work;
        {
            const std::scoped_lock lock(queueMutex);
            work.swap(queue);
        }
        for (auto& item : work) {
            item();
        }
    }

    tavrin::testing::TemporaryFolder folder;
    tavrin::testing::ManualClock clock{tavrin::Date{std::chrono::hours(480000)}};
    LogFiles commands{clock, MovieLocations(environment())};
    FakeRecorder recorder;
    FakeDesktop desktop;
    std::vector<std::string> screens{"Built-in Retina Display"};
    std::mutex queueMutex;
    std::deque<std::function<void()>> queue;
    std::function<void()> ticks;
    int liveTimers = 0;
    int sounds = 0;
};

TEST_F(ContentViewTest, StartsOnlyWithATargetThatCanBeRecorded) {
    ContentView view(platform());
    EXPECT_EQ(view.pageText(), "1 / 1");
    EXPECT_EQ(view.displays().front().detail, "1920 x 1080");
    view.onRecordButton(true, std::nullopt);  // nothing selected before the first list
    EXPECT_FALSE(view.isRecording());

    refresh(view);
    recorder.canSetup = false;
    view.onRecordButton(true, std::nullopt);
    view.onNewCommands({"2024-05-01 20.15.30", "CMD: Start"});
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(sounds, 0);
    EXPECT_EQ(liveTimers, 0);
    EXPECT_EQ(recorder.setups.size(), 2u);
}

TEST_F(ContentViewTest, RecordButtonRecordsADatedMovieAndStopsIt) {
    ContentView view(platform());
    refresh(view);
    view.onMicrophoneButton();
    view.onRecordButton(true, std::nullopt);
    EXPECT_TRUE(view.isRecording());
    EXPECT_EQ(sounds, 1);
    EXPECT_EQ(liveTimers, 1);
    EXPECT_THAT(recorder.setups, ElementsAre("7"));

    awaitStart();
    recorder.started = clock.now();
    clock.advance(75s + 900ms);
    ticks();
    EXPECT_EQ(view.recordingTime(), "01:15");

    view.onRecordButton(false, std::nullopt);
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(view.recordingTime(), "00:00");
    EXPECT_EQ(liveTimers, 0);
    EXPECT_EQ(recorder.stops, 1);
    EXPECT_EQ(sounds, 2);
    // The start ran on its own task, before the stop that waited for it.
    EXPECT_THAT(recorder.startedPaths(),
                ElementsAre(movies() + "/" + tavrin::fileStamp(clock.now() - 75s - 900ms) + ".mp0"));
    EXPECT_TRUE(recorder.micAtStart);
}

TEST_F(ContentViewTest, CommandBatches) {
    desktop.set({app(std::string(game), "Wow")});
    ContentView view(platform());
    refresh(view);
    ASSERT_EQ(view.displays().size(), 2u);

    view.onNewCommands({"2024-05-01 20.15.30"});  // one element: ignored
    view.onNewCommands({"m", "BID: org.example.absent", "CMD: Start"});
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(view.index(), 0);

    view.onNewCommands({"2024-05-01 20.15.30", "BID: " + std::string(game), "CMD:Start"});
    EXPECT_TRUE(view.isRecording());
    EXPECT_EQ(view.index(), 1);
    EXPECT_EQ(view.pageText(), "2 / 2");
    EXPECT_THAT(recorder.setups, ElementsAre(std::string(game)));
    EXPECT_EQ(sounds, 1);

    // End stops and clears the command folder; a second End while idle only clears, silently.
    std::filesystem::create_directories(movies() + "/.logs");
    tavrin::testing::writeFile(movies() + "/.logs/2024-05-01 20.15.30.cmd", "CMD: End\n");
    tavrin::testing::writeFile(movies() + "/.logs/notes.txt", "kept");
    view.onNewCommands({"2024-05-01 20.15.30", "CMD: End"});
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(sounds, 2);
    EXPECT_FALSE(std::filesystem::exists(movies() + "/.logs/2024-05-01 20.15.30.cmd"));
    EXPECT_TRUE(std::filesystem::exists(movies() + "/.logs/notes.txt"));
    // Start and End read together: the match is over, nothing is recorded.
    view.onNewCommands({"read-late", "BID: " + std::string(game), "CMD: Start", "CMD: End"});
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(recorder.startedPaths().size(), 1u);
    tavrin::testing::writeFile(movies() + "/.logs/later.cmd", "CMD: End\n");
    view.onNewCommands({"later", "CMD: End"});
    EXPECT_EQ(sounds, 2);
    EXPECT_FALSE(std::filesystem::exists(movies() + "/.logs/later.cmd"));
    EXPECT_EQ(recorder.startedPaths().front(), movies() + "/2024-05-01 20.15.30.mp0");
}

TEST_F(ContentViewTest, MatchNamesThatAreNoFileNamesGiveDatedMovies) {
    ContentView view(platform());
    refresh(view);
    for (const std::string name : {"", ".", "..", "../escape"}) {
        view.onNewCommands({name, "CMD: Start"});
        view.onNewCommands({name, "CMD: End"});
    }
    const auto dated = movies() + "/" + tavrin::fileStamp(clock.now()) + ".mp0";
    EXPECT_THAT(recorder.startedPaths(), ElementsAre(dated, dated, dated, dated));
}

TEST_F(ContentViewTest, TargetListFiltersApplicationsInOrder) {
    desktop.set({app("com.apple.Safari", "Safari"), app("com.apple.mail", "Mail"),
                 app("net.tavrinworks.proxy.Parlan", "Parlan"), app("net.battle.app.helper", "Helper"),
                 app("org.example.hidden", "Hidden", true), app(std::nullopt, "Nameless id"),
                 app("org.example.unnamed", std::nullopt), app("org.example.nowhere", "Nowhere"),
                 app("org.example.iconless", "Iconless"),
                 app("org.example.starting", "Starting", false, false), app(std::string(game), "Wow"),
                 app(std::string(game), "Wow")});
    const auto entries = ContentView::applicationEntries(desktop);
    std::vector<std::string> details;
    for (const auto& entry : entries) {
        details.push_back(entry.detail);
        EXPECT_TRUE(entry.isApplication());
    }
    EXPECT_THAT(details, ElementsAre("com.apple.Safari", std::string(game)));
}

TEST_F(ContentViewTest, RefreshPairsScreensWithDisplaysAndKeepsTheSelection) {
    EXPECT_EQ(ContentView::screenName("Main Wide Display"), "Wide Display");
    EXPECT_EQ(ContentView::screenName("DELL  U2719D"), "DELL  U2719D");
    EXPECT_EQ(ContentView::screenName("screen"), "screen");

    screens = {"Main Wide Display", "DP-2"};
    ContentView view(platform());
    view.searchApps({{7, 2560, 1600}}, {});  // two screens, one display: one entry
    ASSERT_EQ(view.displays().size(), 1u);
    EXPECT_EQ(view.displays()[0].name, "Wide Display");
    EXPECT_EQ(view.displays()[0].detail, "2560 x 1600");
    EXPECT_EQ(view.selected(), view.displays()[0]);

    desktop.set({app("org.example.a", "A"), app("org.example.b", "B")});
    refresh(view);
    view.onDisplayButton();
    view.onDisplayButton();
    EXPECT_EQ(view.pageText(), "3 / 3");
    EXPECT_EQ(view.selected()->name, "B");
    EXPECT_EQ(sounds, 2);

    // The entry at the index changes, the selection does not.
    desktop.set({app("org.example.c", "C"), app("org.example.a", "A"), app("org.example.b", "B")});
    refresh(view);
    EXPECT_EQ(view.index(), 2);
    EXPECT_EQ(view.selected()->name, "B");
    view.onDisplayButton();
    view.onDisplayButton();
    EXPECT_EQ(view.pageText(), "1 / 4");  // wrapped

    // A refresh that finds nothing keeps the list; a shorter one resets the selection.
    screens.clear();
    view.searchApps({}, {});
    EXPECT_EQ(view.displays().size(), 4u);
    view.onDisplayButton();
    view.onDisplayButton();
    view.onDisplayButton();
    view.searchApps({}, ContentView::applicationEntries(desktop));
    EXPECT_EQ(view.index(), 0);
    EXPECT_EQ(view.selected()->name, "C");
}

TEST_F(ContentViewTest, FormatTime) {
    EXPECT_EQ(ContentView::formatTime(59.9), "00:59");
    EXPECT_EQ(ContentView::formatTime(75), "01:15");
    EXPECT_EQ(ContentView::formatTime(3599.0), "59:59");
    EXPECT_EQ(ContentView::formatTime(3725), "01:02:05");
    EXPECT_EQ(ContentView::formatTime(-3), "00:00");
}

TEST_F(ContentViewTest, OneHourEndsTheRecordingAsTheButtonDoes) {
    ContentView view(platform());
    refresh(view);
    view.onRecordButton(true, std::nullopt);
    awaitStart();
    ticks();  // no frame yet: nothing
    EXPECT_EQ(view.recordingTime(), "00:00");
    recorder.started = clock.now();
    clock.advance(3599s);
    ticks();
    EXPECT_EQ(view.recordingTime(), "59:59");
    clock.advance(1s);
    ticks();
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(view.recordingTime(), "00:00");
    EXPECT_EQ(liveTimers, 0);
    EXPECT_EQ(recorder.stops, 1);
    EXPECT_EQ(sounds, 2);
    view.onNewCommands({"next", "CMD: Start"});  // the next match is recorded
    EXPECT_TRUE(view.isRecording());
}

TEST_F(ContentViewTest, RecorderThatEndsOnItsOwnOrNeverBeginsLeavesTheWindowIdle) {
    ContentView view(platform());
    refresh(view);
    view.onRecordButton(true, std::nullopt);
    awaitStart();
    ticks();
    recorder.recording = false;  // the disk filled up
    ticks();
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(liveTimers, 0);
    EXPECT_EQ(sounds, 2);

    view.onRecordButton(true, std::nullopt);
    awaitStart();
    recorder.recording = false;  // the writer could not begin
    for (int i = 0; i < 4; ++i) {
        ticks();
    }
    EXPECT_TRUE(view.isRecording());  // a start may take a moment
    ticks();
    EXPECT_FALSE(view.isRecording());
}

TEST_F(ContentViewTest, MicrophoneToggle) {
    ContentView view(platform());
    refresh(view);
    view.onMicrophoneButton();  // idle: only the next start sees it
    EXPECT_TRUE(view.micEnable());
    EXPECT_TRUE(recorder.micStates.empty());
    view.onRecordButton(true, std::nullopt);
    view.onMicrophoneButton();
    view.onMicrophoneButton();
    EXPECT_THAT(recorder.micStates, ElementsAre(false, true));
    view.stopRecorder();
    EXPECT_TRUE(recorder.micAtStart);
}

TEST_F(ContentViewTest, ApplicationWatch) {
    desktop.set({app(std::string(game), "Wow")});
    ContentView view(platform());
    refresh(view);
    view.onNewCommands({"m", "BID: " + std::string(game), "CMD: Start"});
    const DisplayItem recorded = *view.selected();
    EXPECT_TRUE(ContentView::existApp(desktop, recorded));
    desktop.set({app("org.example.other", "Other")});
    EXPECT_FALSE(ContentView::existApp(desktop, recorded));
    EXPECT_TRUE(ContentView::existApp(desktop, view.displays()[0]));

    view.applicationGone(view.displays()[0]);  // not what is recorded
    EXPECT_TRUE(view.isRecording());
    view.applicationGone(recorded);
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(view.index(), 0);
    EXPECT_EQ(view.selected(), view.displays()[0]);
    EXPECT_EQ(recorder.stops, 1);
}

// The loops for real: a command file written by another process starts a recording, and the game's
// window closing ends it.
TEST_F(ContentViewTest, BackgroundLoopsFollowCommandsAndTheRecordedApplication) {
    class PacedClock final : public tavrin::Clock {
    public:
        tavrin::Date now() const override { return std::chrono::system_clock::now(); }
        void sleepFor(std::chrono::milliseconds span) override { std::this_thread::sleep_for(span / 20); }
    } paced;
    LogFiles liveCommands(paced, MovieLocations(environment()));
    auto loopPlatform = platform();
    desktop.set({app(std::string(game), "Wow")});
    ContentView view(ContentViewPlatform{loopPlatform.recorder, liveCommands, loopPlatform.locations, paced,
                                         loopPlatform.workspace, loopPlatform.getDisplays,
                                         loopPlatform.screenNames, loopPlatform.mainQueue,
                                         loopPlatform.startTimer, loopPlatform.alertSound});
    view.onAppear();
    const auto pump = [&](auto condition) {
        return tavrin::testing::waitUntil(
            [&] {
                drainMainQueue();
                return condition();
            },
            5s);
    };
    ASSERT_TRUE(pump([&] { return view.recordEnable() && view.displays().size() == 2; }));

    std::filesystem::create_directories(movies() + "/.logs");
    tavrin::testing::ChildProcess writer(
        {"/bin/sh", "-c", "printf 'BID: " + std::string(game) + "\\nCMD: Start\\n' >> \"$0\"",
         movies() + "/.logs/2024-05-01 20.15.30.cmd"},
        {});
    ASSERT_TRUE(pump([&] { return view.isRecording(); }));
    EXPECT_EQ(view.selected()->detail, game);

    desktop.set({});
    ASSERT_TRUE(pump([&] { return !view.isRecording(); }));
    EXPECT_EQ(view.index(), 0);
}

}  // namespace
}  // namespace vidora
