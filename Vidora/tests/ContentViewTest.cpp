// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "ChildProcess.h"
#include "FakeRecorder.h"
#include "ManualClock.h"
#include "common/InterruptibleClock.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using tavrin::testing::writeFile;
using testing::app;

const std::string game = "com.blizzard.worldofwarcraft";

// The controller on fakes in a fresh home; the test sets the time.
class ContentViewTest : public ::testing::Test, protected testing::Seams {
protected:
    // The one screen, then the running applications.
    void refresh() { view.searchApps({{7, 2560, 1600}}, ContentView::applicationEntries(desktop)); }
    // The start runs on the controller's own task.
    void awaitStart() {
        ASSERT_TRUE(tavrin::testing::waitUntil([&] { return recorder.recording.load(); }, 5s));
    }
    std::string movies() const { return home.path() + "/Videos/TavrinMovies/"; }
    std::string dated() const { return movies() + tavrin::fileStamp(clock.now()) + ".mp0"; }

    tavrin::testing::ManualClock clock{tavrin::Date{std::chrono::hours(480000)}};
    LogFiles commands{clock, locations};
    std::vector<std::string> screens{"Built-in Retina Display"};
    ContentView view{[this] {
        auto seams = platform(commands, clock);
        seams.screenNames = [this] { return screens; };
        return seams;
    }()};
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
    view.onMicrophoneButton();  // live during a recording
    EXPECT_EQ(recorder.micStates, std::vector<bool>{false});
}

// However a recording ends, the window is left as the record button leaves it, so the next match's Start
// records. Each match has a name that is no file name, which gives a dated movie.
TEST_F(ContentViewTest, RecordingsEndAsTheButtonEndsThem) {
    const std::tuple<std::string, const char*, std::function<void()>> matches[] = {
        {"", "the button", [&] { view.onRecordButton(false, std::nullopt); }},
        {".", "the recorder stopping on its own (full disk)",
         [&] {
             ticks();
             recorder.recording = false;
             ticks();
         }},
        {"..", "the recorder never beginning",
         [&] {
             recorder.recording = false;
             for (int tick = 0; tick < 5; ++tick) {
                 EXPECT_TRUE(view.isRecording()) << "a start may take a moment";
                 ticks();
             }
         }},
        {"a/b", "one hour", [&] {
             recorder.started = clock.now();
             clock.advance(3599s);
             ticks();
             EXPECT_EQ(view.recordingTime(), "59:59");
             clock.advance(1s);
             ticks();
         }}};
    refresh();
    const std::string movie = dated();
    int stops = 0;
    for (const auto& [name, ending, end] : matches) {
        SCOPED_TRACE(ending);
        view.onNewCommands({name, "CMD: Start"});
        awaitStart();
        end();
        EXPECT_FALSE(view.isRecording());
        EXPECT_EQ(view.recordingTime(), "00:00");
        EXPECT_EQ(liveTimers, 0);
        EXPECT_EQ(recorder.stops, ++stops);
        EXPECT_EQ(recordingsEnded, stops);  // the storage limit is kept after each
        EXPECT_EQ(sounds, 2 * stops);
    }
    EXPECT_EQ(recorder.starts, std::vector<std::string>(4, movie));
}

TEST_F(ContentViewTest, CommandBatches) {
    desktop.applications = {app(game, "Wow")};
    refresh();
    const auto logs = movies() + ".logs/";
    std::filesystem::create_directories(logs);
    view.onNewCommands({"m", "BID: org.example.absent", "CMD: Start"});  // the rest of the batch is dropped
    EXPECT_FALSE(view.isRecording());

    view.onNewCommands({"2024-05-01 20.15.30", "BID: " + game, "CMD:Start"});
    EXPECT_TRUE(view.isRecording());
    EXPECT_EQ(recorder.setups, std::vector{game});
    // End stops (after the start, which runs on its own task).
    view.onNewCommands({"2024-05-01 20.15.30", "CMD: End"});
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(recorder.starts, std::vector{movies() + "2024-05-01 20.15.30.mp0"});

    // Start and End read together (the recorder restarted mid-match): the match is over; nothing is
    // recorded or heard, and the command files go.
    writeFile(logs + "b.cmd", "CMD: End\n");
    view.onNewCommands({"read-late", "BID: " + game, "CMD: Start", "CMD: End"});
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(recorder.starts.size(), 1u);
    EXPECT_EQ(sounds, 2);
    EXPECT_FALSE(std::filesystem::exists(logs + "b.cmd"));
}

TEST_F(ContentViewTest, RefreshListsScreensAndApplicationsAndKeepsTheSelection) {
    // Paired only as far as both lists reach: neither stands in for a missing other.
    screens = {"Main Wide Display", "DP-2"};
    view.searchApps({{7, 2560, 1600}}, {});
    ASSERT_EQ(view.displays().size(), 1u);
    EXPECT_EQ(view.displays()[0].name, "Wide Display");
    view.searchApps({{7, 2560, 1600}, {8, 800, 600}, {9, 800, 600}}, {});
    EXPECT_EQ(view.displays().size(), 2u);

    // Each recordable application once, in order.
    desktop.applications = {app("net.tavrinworks.proxy.Parlan", "Parlan"),
                            app("org.example.hidden", "Hidden", true),
                            app(std::nullopt, "Nameless id"),
                            app("org.example.unnamed", std::nullopt),
                            app("org.example.starting", "Starting", false, false),
                            app(game, "Wow"),
                            app(game, "Wow")};
    refresh();
    ASSERT_EQ(view.displays().size(), 2u);
    EXPECT_EQ(view.displays()[1].detail, game);
    EXPECT_EQ(desktop.lists, 1) << "a refresh takes one snapshot, not one more per application";

    // The selection stays with its entry when the entry at its index changes.
    view.onDisplayButton();
    desktop.applications.insert(desktop.applications.begin(), app("org.example.c", "C"));
    refresh();
    EXPECT_EQ(view.selected()->detail, game);
    view.onDisplayButton();
    view.onDisplayButton();
    EXPECT_EQ(view.pageText(), "1 / 3");  // wrapped
    // A refresh that finds nothing keeps the list; a shorter one starts again at the first entry.
    screens.clear();
    view.searchApps({}, {});
    EXPECT_EQ(view.displays().size(), 3u);
    view.onDisplayButton();
    view.onDisplayButton();
    view.searchApps({}, ContentView::applicationEntries(desktop));
    EXPECT_EQ(view.selected()->name, "C");
}

// Quitting interrupts the loops' clock: the loops end rather than run on without a pause while the
// recording is finished.
TEST_F(ContentViewTest, InterruptedClockEndsTheLoops) {
    tavrin::InterruptibleClock loopClock;
    auto seams = platform(commands, loopClock);
    seams.getDisplays = [] { return std::vector<DisplaySummary>{{7, 1920, 1080}}; };
    seams.mainQueue = [](const std::function<void()>& work) { work(); };
    ContentView loops(seams);
    loops.onAppear();
    loopClock.interrupt();
    std::this_thread::sleep_for(200ms);
    const int lists = desktop.lists;
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(desktop.lists, lists);
}

}  // namespace
}  // namespace vidora
