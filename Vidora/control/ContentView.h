// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/MovieLocations.h"
#include "capture/Recorder.h"
#include "capture/ScreenCaptureFilter.h"
#include "common/Clock.h"
#include "common/SerialQueue.h"
#include "control/DesktopApplications.h"
#include "control/LogFiles.h"

namespace vidora {

// One entry of the target list: a display (displayID above 0) or an application's windows.
struct DisplayItem {
    std::int64_t displayID = 0;
    std::string name;
    std::string title;
    // "1920 x 1080" for a display, the bundle identifier for an application.
    std::string detail;
    std::shared_ptr<const Icon> icon;

    bool isApplication() const { return displayID < 1; }
    bool operator==(const DisplayItem&) const = default;
};

// A repeating timer on the main thread; destroying it stops it.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
};

// What the controller needs of the desktop. The functions marked main are called on the main thread
// only, the others from the controller's background threads.
struct ContentViewPlatform {
    Recorder& recorder;
    LogFiles& commands;
    MovieLocations locations;
    // now() for names and elapsed time; sleepFor paces the background loops (interrupt it to quit).
    tavrin::Clock& clock;
    const DesktopWorkspace& workspace;
    // Background: the capturable displays, nothing when capture is not possible.
    std::function<std::optional<std::vector<DisplaySummary>>()> getDisplays;
    // Main: the screens' names in the platform's order.
    std::function<std::vector<std::string>()> screenNames;
    // Any thread: runs the work on the main thread later.
    std::function<void(std::function<void()>)> mainQueue;
    // Main: a timer that calls `tick` every second.
    std::function<std::unique_ptr<RepeatingTimer>(std::function<void()> tick)> startTimer;
    // Main.
    std::function<void()> alertSound;
    // Main, as a recording is about to start into the movies folder, which is there: a problem refuses it
    // (too little room there). Unset: it starts.
    std::function<std::optional<RecordingProblem>()> recordingStarts;
    // Main, after each recording the controller stopped, whatever its result: the movie that remains of it,
    // empty when none does.
    std::function<void(const std::string& movie)> recordingStopped;
    // Main: a recording ended, or could not begin; `byHand` when the record button started it.
    std::function<void(const RecordingResult& result, bool byHand)> recordingEnded;
};

// The state behind the recorder window and what changes it: the record, microphone and display
// buttons, the proxy's commands, the recorded application's disappearance and the one-hour limit.
// Every state change happens on the main thread; `changed` is called after each.
class ContentView {
public:
    static constexpr double frameSize = 120.0;
    static constexpr double fontSize = 10.0;
    static constexpr double recordingLimit = 3600.0;

    explicit ContentView(ContentViewPlatform platform);
    // Ends the background loops (interrupt the clock first so their sleeps end).
    ~ContentView();
    ContentView(const ContentView&) = delete;
    ContentView& operator=(const ContentView&) = delete;

    // View state, read on the main thread.
    bool isRecording() const { return isRecording_; }
    bool recordEnable() const { return recordEnable_; }
    bool micEnable() const { return micEnable_; }
    std::int64_t index() const { return index_; }
    const std::string& recordingTime() const { return recordingTime_; }
    const std::vector<DisplayItem>& displays() const { return displays_; }
    const std::optional<DisplayItem>& selected() const { return selected_; }
    std::int64_t nextIndex() const;
    std::string pageText() const;

    // Called after every state change, on the main thread.
    std::function<void()> changed;
    // Called on the main thread after the player switched the microphone or chose another target.
    std::function<void()> choicesChanged;

    // The player's earlier choices: the microphone now, the target once the first list holds it.
    void restoreChoices(bool micEnable, std::string targetKey);
    // What a target is remembered by: an application's bundle identifier, "display " and a display's name.
    static std::string targetKey(const DisplayItem& item);

    // Starts the target watch and the command poll on threads of their own.
    void onAppear();

    bool startRecording(const std::optional<std::string>& name);
    void onRecordButton(bool on, const std::optional<std::string>& name);
    void onRecordTimer();
    void onDisplayButton();
    void onMicrophoneButton();
    void onNewCommands(const std::vector<std::string>& commands);
    // The main-thread half of a list refresh: screens paired with `displays`, then `applications`.
    void searchApps(const std::vector<DisplaySummary>& displays, std::vector<DisplayItem> applications);
    // Ends a recording whose application `item` is gone (item named as the application was).
    void applicationGone(const DisplayItem& item);
    // Finishes a recording in progress; for quitting.
    void stopRecorder();

    // Background: the application entries the desktop offers now, in the workspace's order, from one
    // snapshot of it.
    static std::vector<DisplayItem> applicationEntries(const DesktopWorkspace& workspace);
    // Background: whether an application of that name still runs.
    static bool existApp(const DesktopWorkspace& workspace, const DisplayItem& item);
    static std::string formatTime(double seconds);
    // The shortened screen name: with three words or more the first is dropped.
    static std::string screenName(std::string_view localizedName);

private:
    // What the background loops may read of the view state.
    struct LoopView {
        bool isRecording = false;
        std::optional<DisplayItem> selected;
    };

    void notify();
    void publish();
    void report(const RecordingResult& result, bool byHand) const;
    LoopView loopView() const;
    void post(std::function<void()> work);
    bool loopEnded(const std::stop_token& stop) const;
    void watchTargets(std::stop_token stop);
    void pollCommands(std::stop_token stop);

    ContentViewPlatform platform_;

    bool isRecording_ = false;
    bool recordEnable_ = false;
    bool micEnable_ = false;
    std::int64_t index_ = 0;
    std::string recordingTime_ = "00:00";
    std::unique_ptr<RepeatingTimer> timer_;
    // Whether the recorder was seen recording since the start, and the ticks before it was.
    bool recorderSeen_ = false;
    bool byHand_ = false;
    int ticksWithoutRecorder_ = 0;
    static constexpr int startGraceTicks = 5;
    std::vector<DisplayItem> displays_;
    std::optional<DisplayItem> selected_;
    std::string restoredTarget_;

    mutable std::mutex loopMutex_;
    LoopView loopView_;
    // Posted work checks this on the main thread, so nothing runs on a destroyed controller.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // Starts run here in order; stop waits for a start still queued, so it never outlives the stop.
    tavrin::SerialQueue startQueue_{"Tavrinworks.RecorderStart"};
    std::jthread targetWatch_;
    std::jthread commandPoll_;
};

}  // namespace vidora
