// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>

#include "capture/CaptureStream.h"
#include "linux/LinuxCapturePlatform.h"

namespace vidora {

// The capture objects for the desktop the recorder runs on. On an X11 desktop, and for windows
// everywhere (X11 programs on a Wayland desktop run through Xwayland, whose windows Composite
// shows), they are LinuxCapturePlatform's. On a Wayland desktop Xwayland's root window holds no
// picture, so a display comes through the ScreenCast portal: the person picks the monitor once for each
// display, later recordings of that display restore the choice from its kept token. A start waits for
// the person as long as they take; a stop ends the wait. The portal's picture is the whole monitor: no
// window can be left out of it, the recorder's own included. Sound comes from PulseAudio either way, a
// display's from the whole system, windows' from their applications alone.
// Any thread, as LinuxCapturePlatform.
class SessionCapturePlatform final : public CapturePlatform {
public:
    struct PortalOptions {
        // How long a started stream may take for its first picture.
        std::chrono::milliseconds firstPictureTime{5000};
        // Where the restore tokens are kept, one for each display; nothing keeps none.
        std::optional<std::filesystem::path> tokenFolder;
    };

    SessionCapturePlatform();
    explicit SessionCapturePlatform(PortalOptions options) : portal_(std::move(options)) {}

    std::unique_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                              const StreamConfiguration& configuration,
                                              StreamOutput& output) override;
    std::unique_ptr<MicrophoneSession> makeMicrophone(MicrophoneOutput& output) override;

    // WAYLAND_DISPLAY is set, or XDG_SESSION_TYPE says wayland.
    static bool isWaylandSession();

private:
    PortalOptions portal_;
    LinuxCapturePlatform linux_;
};

}  // namespace vidora
