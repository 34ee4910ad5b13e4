// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "capture/ShareableContent.h"

class QThread;

namespace vidora {

class PortalSession;

// A session of the desktop's org.freedesktop.portal.ScreenCast: one monitor, with the cursor drawn in
// where the portal offers that, streamed through PipeWire. The person chooses once for each display;
// the restore token the portal hands back is kept in a file per display, so later sessions for that
// display start without asking.
//
// Threads: the exchange and the session's signals run on a thread of the object's own with its own
// event loop and a private bus connection, so it needs a QCoreApplication but never the main loop.
// open blocks its caller until the portal and the person have answered, or until cancel() from
// another thread. The session lives, and its connection stays open, until the object is destroyed.
class ScreenCastPortal {
public:
    ScreenCastPortal();
    ~ScreenCastPortal();
    ScreenCastPortal(const ScreenCastPortal&) = delete;
    ScreenCastPortal& operator=(const ScreenCastPortal&) = delete;

    // Starts a session showing the monitor at `monitor` (where the X server places it), asking the
    // person when no kept choice for it restores that monitor. False, with `why` said, when the portal
    // is missing, the choice is refused or cancelled, or cancel() was called. Once per object.
    bool open(const Rect& monitor, const std::optional<std::filesystem::path>& tokenFolder, std::string& why);
    // Ends a waiting open at once, closing the portal's request and with it its dialog; an open that
    // has not begun yet fails straight away. Any thread.
    void cancel();
    // Ends the session; the destructor does it too. From the thread that opened it.
    void close();
    // `closed` runs, on the portal's thread, when the desktop ends the session ("Stop sharing", the
    // monitor went away). Set before open.
    void onClosed(std::function<void()> closed);

    // The PipeWire remote's file descriptor (the caller owns it), and the stream's node on it.
    int takeRemote();
    std::uint32_t node() const;

    // Where restore tokens are kept: $XDG_STATE_HOME (default ~/.local/state)/vidora/screencast/;
    // nothing without a home.
    static std::optional<std::filesystem::path> tokenFolder();

private:
    std::unique_ptr<QThread> thread_;
    PortalSession* session_;  // lives on thread_
};

}  // namespace vidora
