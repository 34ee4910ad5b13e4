// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/LinuxCapturePlatform.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "ApplicationIdentity.h"
#include "common/Workspace.h"
#include "linux/PulseAudioSource.h"
#include "linux/X11CaptureStream.h"

namespace vidora {
namespace {

constexpr int microphoneRate = 48000;
constexpr int microphoneChannels = 1;
constexpr std::chrono::milliseconds serverAnswerTime{1000};

// The default source, delivered to the output on the source's thread.
class PulseMicrophoneSession final : public MicrophoneSession {
public:
    explicit PulseMicrophoneSession(MicrophoneOutput& output)
        : output_(output),
          source_(PulseAudioSource::Device::microphone, microphoneRate, microphoneChannels) {}
    ~PulseMicrophoneSession() override { stopRunning(); }

    void startRunning() override {
        source_.start([this](AudioBuffer buffer) { output_.didOutputMicrophone(std::move(buffer)); });
    }
    void stopRunning() override { source_.stop(); }

private:
    MicrophoneOutput& output_;
    PulseAudioSource source_;
};

}  // namespace

std::unique_ptr<PulseAudioSource> LinuxCapturePlatform::systemAudio(
    const ContentFilter& filter, const StreamConfiguration& configuration) {
    if (!configuration.capturesAudio) {
        return nullptr;
    }
    if (filter.kind == ContentFilter::Kind::includingWindows) {
        // The windows' applications by the identifiers and processes that named the windows, and by the
        // names their sound streams give: the program's own (Wine's first command word names the game's
        // executable, while its loader runs it), and for the game its product name, which Wine gives.
        const tavrin::ProcessTable processes;
        std::vector<std::string> identifiers;
        std::vector<tavrin::ProcessStart> windowProcesses;
        PulseAudioSource::Application application;
        for (const auto& window : filter.includedWindows) {
            if (const auto& owner = window.owningApplication) {
                identifiers.push_back(owner->bundleIdentifier);
                if (const auto start = processes.start(owner->pid)) {
                    windowProcesses.push_back(*start);
                }
                if (const auto word = processes.firstCommandWord(owner->pid)) {
                    application.names.emplace_back(tavrin::commandWordFileName(*word));
                }
                if (owner->bundleIdentifier == tavrin::gameBundleIdentifier) {
                    application.names.emplace_back(tavrin::gameProductName);
                }
            }
        }
        std::erase(identifiers, std::string());
        std::erase(application.names, std::string());
        std::sort(application.names.begin(), application.names.end());
        application.names.erase(std::unique(application.names.begin(), application.names.end()),
                                application.names.end());
        application.owns = [identifiers, windowProcesses, processes](pid_t pid) {
            return tavrin::belongsToApplications(processes, pid, identifiers, windowProcesses);
        };
        return std::make_unique<PulseAudioSource>(std::move(application), configuration.sampleRate,
                                                  configuration.channelCount);
    }
    return std::make_unique<PulseAudioSource>(PulseAudioSource::Device::systemAudio, configuration.sampleRate,
                                              configuration.channelCount);
}

std::unique_ptr<CaptureStream> LinuxCapturePlatform::makeStream(const ContentFilter& filter,
                                                                const StreamConfiguration& configuration,
                                                                StreamOutput& output) {
    ContentFilter heard = filter;
    if (wholeSystemSound_) {
        heard.kind = ContentFilter::Kind::excludingApplications;
    }
    return std::make_unique<X11CaptureStream>(filter, configuration, output,
                                              systemAudio(heard, configuration));
}

std::unique_ptr<MicrophoneSession> LinuxCapturePlatform::makeMicrophone(MicrophoneOutput& output) {
    if (!PulseAudioSource::findDevice(PulseAudioSource::Device::microphone, serverAnswerTime)) {
        return nullptr;
    }
    return std::make_unique<PulseMicrophoneSession>(output);
}

}  // namespace vidora
