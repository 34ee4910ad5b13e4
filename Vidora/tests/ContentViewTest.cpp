#include <gtest/gtest.h>

#include <filesystem>

#include "ChildProcess.h"
#include "FakeRecorder.h"
#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "control/ContentView.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using tavrin::testing::writeFile;
using testing::app;

const std::string game = "com.blizzard.worldofwarcraft";

struct CountingTimer final : RepeatingTimer {
    explicit CountingTimer(int& count) : live(count) { ++live; }
    ~CountingTimer() override { --live; }
    int& live;
};

// The controller on fakes in a fresh home; the test ticks the timer and sets the time.
class ContentViewTest : public ::testing::Test {
protected:
    // The one screen, then the running applications.
    void refresh() { view.searchApps({{7, 2560, 1600}}, ContentView::applicationEntries(desktop)); }
    // The start runs on the controller's own task.
    void awaitStart() {
        ASSERT_TRUE(tavrin::testing::waitUntil([&] { return recorder.recording.load(); }, 5s));
    }
    std::string movies() const { return home.path() + "/Videos/TavrinMovies/"; }
    std::string dated() const { return movies() + tavrin::fileStamp(clock.now()) + ".mp0"; }

    tavrin::testing::TemporaryFolder home;
    MovieLocations locations{[this](std::string_view name) -> std::optional<std::string> {
        return name == "HOME" ? std::optional(home.path()) : std::nullopt;
    }};
    tavrin::testing::ManualClock clock{tavrin::Date{std::chrono::hours(480000)}};
    LogFiles commands{clock, locations};
    testing::FakeRecorder recorder;
    testing::FakeDesktop desktop;
    std::vector<std::string> screens{"Built-in Retina Display"};
    std::function<void()> ticks;
    int liveTimers = 0;
    int sounds = 0;
    ContentView view{{.recorder = recorder,
                      .commands = commands,
                      .locations = locations,
                      .clock = clock,
                      .workspace = desktop,
                      .getDisplays = {},
                      .screenNames = [this] { return screens; },
                      .mainQueue = {},
                      .startTimer = [this](std::function<void()> tick) -> std::unique_ptr<RepeatingTimer> {
                          ticks = std::move(tick);
                          return std::make_unique<CountingTimer>(liveTimers);
                      },
                      .alertSound = [this] { ++sounds; }}};
};

TEST_F(ContentViewTest, RecordButtonRecordsADatedMovieInAFreshHome) {
    view.onRecordButton(true, std::nullopt);  // nothing selected before the first list
    refresh();
    recorder.canSetup = false;
    view.onRecordButton(true, std::nullopt);
    view.onNewCommands({"m", "CMD: Start"});
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(sounds + liveTimers, 0);
    EXPECT_EQ(recorder.setups, (std::vector<std::string>{"7", "7"}));

    recorder.canSetup = true;
    view.onMicrophoneButton();
    view.onRecordButton(true, std::nullopt);
    awaitStart();
    EXPECT_TRUE(std::filesystem::is_directory(movies()));
    EXPECT_EQ(recorder.starts, std::vector{dated()});
    EXPECT_TRUE(recorder.micAtStart);
    EXPECT_EQ(sounds + liveTimers, 2);
    recorder.started = clock.now();
    clock.advance(75s + 900ms);
    ticks();
    EXPECT_EQ(view.recordingTime(), "01:15");
}

// However a recording ends, the window is left as the record button leaves it, so the next match's Start
// records.
TEST_F(ContentViewTest, RecordingsEndAsTheButtonEndsThem) {
    const std::pair<const char*, std::function<void()>> endings[] = {
        {"the button", [&] { view.onRecordButton(false, std::nullopt); }},
        {"one hour",
         [&] {
             ticks();  // no frame yet: nothing to show
             EXPECT_EQ(view.recordingTime(), "00:00");
             recorder.started = clock.now();
             clock.advance(3599s);
             ticks();
             EXPECT_EQ(view.recordingTime(), "59:59");
             clock.advance(1s);
             ticks();
         }},
        {"the recorder stopping on its own (full disk)",
         [&] {
             ticks();
             recorder.recording = false;
             ticks();
         }},
        {"the recorder never beginning", [&] {
             recorder.recording = false;
             for (int tick = 0; tick < 5; ++tick) {
                 EXPECT_TRUE(view.isRecording()) << "a start may take a moment";
                 ticks();
             }
         }}};
    refresh();
    int stops = 0;
    for (const auto& [ending, end] : endings) {
        SCOPED_TRACE(ending);
        recorder.started.reset();
        view.onNewCommands({"m", "CMD: Start"});
        awaitStart();
        end();
        EXPECT_FALSE(view.isRecording());
        EXPECT_EQ(view.recordingTime(), "00:00");
        EXPECT_EQ(liveTimers, 0);
        EXPECT_EQ(recorder.stops, ++stops);
        EXPECT_EQ(sounds, 2 * stops);
    }
}

TEST_F(ContentViewTest, CommandBatches) {
    desktop.applications = {app(game, "Wow")};
    refresh();
    const auto logs = movies() + ".logs/";
    std::filesystem::create_directories(logs);
    view.onNewCommands({"2024-05-01 20.15.30"});                         // no command: ignored
    view.onNewCommands({"m", "BID: org.example.absent", "CMD: Start"});  // the rest of the batch is dropped
    EXPECT_FALSE(view.isRecording());

    view.onNewCommands({"2024-05-01 20.15.30", "BID: " + game, "CMD:Start"});
    EXPECT_TRUE(view.isRecording());
    EXPECT_EQ(view.pageText(), "2 / 2");
    EXPECT_EQ(recorder.setups, std::vector{game});
    // End stops (after the start, which runs on its own task) and clears the command files, only those.
    writeFile(logs + "a.cmd", "CMD: End\n");
    writeFile(logs + "notes.txt", "kept");
    view.onNewCommands({"2024-05-01 20.15.30", "CMD: End"});
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(recorder.starts, std::vector{movies() + "2024-05-01 20.15.30.mp0"});
    EXPECT_FALSE(std::filesystem::exists(logs + "a.cmd"));
    EXPECT_TRUE(std::filesystem::exists(logs + "notes.txt"));

    // Start and End read together (the recorder restarted mid-match): the match is over; nothing is
    // recorded or heard, and the command files go.
    writeFile(logs + "b.cmd", "CMD: End\n");
    view.onNewCommands({"read-late", "BID: " + game, "CMD: Start", "CMD: End"});
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(recorder.starts.size(), 1u);
    EXPECT_EQ(sounds, 2);
    EXPECT_FALSE(std::filesystem::exists(logs + "b.cmd"));
}

TEST_F(ContentViewTest, MatchNamesThatAreNoFileNamesGiveDatedMovies) {
    refresh();
    for (const std::string name : {"", ".", "..", "../escape", "a/b"}) {
        view.onNewCommands({name, "CMD: Start"});
        view.onNewCommands({name, "CMD: End"});
    }
    EXPECT_EQ(recorder.starts, std::vector<std::string>(5, dated()));
}

TEST_F(ContentViewTest, TargetListOffersEachRecordableApplicationOnceInOrder) {
    desktop.applications = {app("com.apple.Safari", "Safari"),
                            app("com.apple.mail", "Mail"),
                            app("net.tavrinworks.proxy.Parlan", "Parlan"),
                            app("net.battle.app.helper", "Helper"),
                            app("org.example.hidden", "Hidden", true),
                            app(std::nullopt, "Nameless id"),
                            app("org.example.unnamed", std::nullopt),
                            app("org.example.nowhere", "Nowhere"),
                            app("org.example.iconless", "Iconless"),
                            app("org.example.starting", "Starting", false, false),
                            app(game, "Wow"),
                            app(game, "Wow")};
    std::vector<std::string> listed;
    for (const auto& entry : ContentView::applicationEntries(desktop)) {
        listed.push_back(entry.isApplication() ? entry.detail : "a display");
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"com.apple.Safari", game}));
}

TEST_F(ContentViewTest, RefreshPairsScreensWithDisplaysAndKeepsTheSelection) {
    // Paired only as far as both lists reach: neither stands in for a missing other.
    screens = {"Main Wide Display", "DP-2"};
    view.searchApps({{7, 2560, 1600}}, {});
    ASSERT_EQ(view.displays().size(), 1u);
    EXPECT_EQ(view.displays()[0].name, "Wide Display");
    EXPECT_EQ(view.displays()[0].detail, "2560 x 1600");
    EXPECT_EQ(view.selected(), view.displays()[0]);
    screens = {"DP-1"};
    view.searchApps({{7, 2560, 1600}, {8, 800, 600}}, {});
    EXPECT_EQ(view.displays().size(), 1u);

    desktop.applications = {app("org.example.a", "A"), app("org.example.b", "B")};
    refresh();
    view.onDisplayButton();
    view.onDisplayButton();
    EXPECT_EQ(sounds, 2);
    // The entry at the index changes, the selection does not.
    desktop.applications.insert(desktop.applications.begin(), app("org.example.c", "C"));
    refresh();
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

TEST_F(ContentViewTest, ScreenNamesAndTimes) {
    EXPECT_EQ(ContentView::screenName("Main Wide Display"), "Wide Display");
    EXPECT_EQ(ContentView::screenName("DELL  U2719D"), "DELL  U2719D");  // fewer than three words
    for (const auto& [seconds, shown] :
         {std::pair{59.9, "00:59"}, {3599.0, "59:59"}, {3725.0, "01:02:05"}, {-3.0, "00:00"}}) {
        EXPECT_EQ(ContentView::formatTime(seconds), shown) << seconds;
    }
}

// The target watch saw an earlier state: only the recorded application's going ends the recording.
TEST_F(ContentViewTest, RecordedApplicationGoneEndsItsRecordingOnly) {
    desktop.applications = {app(game, "Wow")};
    refresh();
    view.onNewCommands({"m", "BID: " + game, "CMD: Start"});
    const DisplayItem recorded = *view.selected();
    desktop.applications = {};
    EXPECT_FALSE(ContentView::existApp(desktop, recorded));
    view.applicationGone(view.displays()[0]);
    EXPECT_TRUE(view.isRecording());
    view.applicationGone(recorded);
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(view.index(), 0);
    EXPECT_EQ(view.selected(), view.displays()[0]);
    EXPECT_EQ(recorder.stops, 1);
}

}  // namespace
}  // namespace vidora
