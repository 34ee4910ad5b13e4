#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/Recorder.h"

namespace vidora::testing {

// The recorder as the controller sees it: remembers what it was asked; start runs on the
// controller's own task, so what it records is read under a lock.
class FakeRecorder final : public Recorder {
public:
    bool setup(std::int64_t displayId) override {
        setups.push_back(std::to_string(displayId));
        return canSetup;
    }
    bool setup(std::string_view bundleIdentifier) override {
        setups.emplace_back(bundleIdentifier);
        return canSetup;
    }
    void start(const std::string& path, bool microphone) override {
        const std::scoped_lock lock(mutex);
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

    std::vector<std::string> startedPaths() {
        const std::scoped_lock lock(mutex);
        return starts;
    }

    bool canSetup = true;
    std::vector<std::string> setups;
    std::mutex mutex;
    std::vector<std::string> starts;
    bool micAtStart = false;
    int stops = 0;
    std::vector<bool> micStates;
    std::optional<tavrin::Date> started;
    std::atomic<bool> recording{false};
};

}  // namespace vidora::testing
