// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "TemporaryFolder.h"
#include "capture/Recorder.h"
#include "control/ContentView.h"
#include "control/DesktopApplications.h"

namespace vidora::testing {

// The recorder as the controller sees it: remembers what it was asked. Start runs on the controller's
// own task; what it wrote is read after `recording` turned true or after a stop, which waits for it.
class FakeRecorder final : public Recorder {
public:
    bool setup(std::int64_t displayId) override { return setup(std::to_string(displayId)); }
    bool setup(std::string_view target) override {
        setups.emplace_back(target);
        return canSetup;
    }
    void start(const std::string& path, bool microphone) override {
        starts.push_back(path);
        micAtStart = microphone;
        recording = true;
    }
    void stop() override {
        ++stops;
        recording = false;
    }
    bool isRecording() const override { return recording; }
    void setMicState(bool on) override { micStates.push_back(on); }
    std::optional<tavrin::Date> startTime() const override { return started; }
    std::optional<RecordingResult> takeResult() override { return std::exchange(result, std::nullopt); }

    bool canSetup = true;
    std::vector<std::string> setups, starts;
    bool micAtStart = false;
    int stops = 0;
    std::vector<bool> micStates;
    std::optional<tavrin::Date> started;
    std::atomic<bool> recording = false;
    // Given once, at the next stop.
    std::optional<RecordingResult> result;
};

inline DesktopApplication app(std::optional<std::string> id, std::optional<std::string> name,
                              bool hidden = false, bool launched = true) {
    return {.pid = 100,
            .bundleIdentifier = id,
            .localizedName = name,
            .hidden = hidden,
            .finishedLaunching = launched,
            .icon = {},
            .location = id ? std::optional("/opt/" + *id) : std::nullopt};
}

// The running applications the test sets, each with a small icon of real pixels; `lists` counts the
// snapshots taken.
class FakeDesktop final : public DesktopWorkspace {
public:
    std::vector<DesktopApplication> runningApplications() const override {
        ++lists;
        return applications;
    }
    std::shared_ptr<const Icon> iconFor(const DesktopApplication&, const std::string&) const override {
        return std::make_shared<const Icon>(Icon{"", "", 2, 2, std::vector<std::uint32_t>(4, 0xffd03030)});
    }

    std::vector<DesktopApplication> applications;
    mutable std::atomic<int> lists = 0;
};

struct CountingTimer final : RepeatingTimer {
    explicit CountingTimer(int& count) : live(count) { ++live; }
    ~CountingTimer() override { --live; }
    int& live;
};

// The controller's seams on fakes in a fresh home; the test ticks the recording timer itself.
struct Seams {
    ContentViewPlatform platform(LogFiles& commands, tavrin::Clock& clock) {
        return {.recorder = recorder,
                .commands = commands,
                .locations = locations,
                .clock = clock,
                .workspace = desktop,
                .getDisplays = {},
                .screenNames = {},
                .mainQueue = {},
                .startTimer = [this](std::function<void()> tick) -> std::unique_ptr<RepeatingTimer> {
                    ticks = std::move(tick);
                    return std::make_unique<CountingTimer>(liveTimers);
                },
                .alertSound = [this] { ++sounds; },
                .recordingStarts = {},
                .recordingStopped = [this](const std::string&) { ++recordingsEnded; },
                .recordingEnded = {}};
    }

    tavrin::testing::TemporaryFolder home;
    MovieLocations locations{[this](std::string_view name) -> std::optional<std::string> {
        return name == "HOME" ? std::optional(home.path()) : std::nullopt;
    }};
    FakeRecorder recorder;
    FakeDesktop desktop;
    std::function<void()> ticks;
    int liveTimers = 0;
    int sounds = 0;
    int recordingsEnded = 0;
};

}  // namespace vidora::testing
