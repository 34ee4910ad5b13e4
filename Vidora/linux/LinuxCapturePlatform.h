// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "capture/CaptureStream.h"

namespace vidora {

class PulseAudioSource;

// The capture objects of an X11 desktop with a PulseAudio (or pipewire-pulse) server: streams grab the
// display through X11CaptureStream, their sound and the microphone come from PulseAudioSource. A
// display's stream hears the whole system, an application's stream only that application's processes.
// Any thread; makeMicrophone asks the sound server and may wait up to a second for it.
class LinuxCapturePlatform final : public CapturePlatform {
public:
    // `wholeSystemSound`: an application's stream hears the whole system too (for comparing the costs).
    explicit LinuxCapturePlatform(bool wholeSystemSound = false) : wholeSystemSound_(wholeSystemSound) {}

    std::unique_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                              const StreamConfiguration& configuration,
                                              StreamOutput& output) override;
    // Nothing without a server or a default source that is a real input (not a sink's monitor).
    std::unique_ptr<MicrophoneSession> makeMicrophone(MicrophoneOutput& output) override;
    // The system audio a stream of `configuration` records: nothing when it records none; the sound of
    // the included windows' applications when `filter` includes windows, else the whole system's.
    static std::unique_ptr<PulseAudioSource> systemAudio(const ContentFilter& filter,
                                                         const StreamConfiguration& configuration);

private:
    bool wholeSystemSound_;
};

}  // namespace vidora
