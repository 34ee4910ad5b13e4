// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/ShareableContent.h"

class QThread;

namespace vidora {

class PortalSession;

// The cursor mode asked for of a portal that offers `available` (AvailableCursorModes): drawn into the
// picture where offered, else hidden; nothing (the portal's own choice) where neither is offered, since
// a portal refuses a mode it does not offer.
std::optional<std::uint32_t> cursorModeFor(std::uint32_t available);

// Where the portal says a stream's monitor lies, in the compositor's pixels; it may say neither.
struct StreamPlace {
    std::optional<std::pair<int, int>> position;
    std::optional<std::pair<int, int>> size;
};

// Whether a restored stream at `place` shows `monitor` and could show no other of `monitors` (all of
// them, `monitor` among them, where the X server places them). The position decides, compared in the
// scale of `monitor`'s size to the stream's (an X server may count every monitor in other pixels than
// the compositor); a position no monitor has (xdg-desktop-portal-wlr 0.7 says (0, 0) for every output),
// or none, leaves it to the size, which decides only where no other monitor has it; with neither, only a
// single monitor is sure.
bool showsOnly(const StreamPlace& place, const Rect& monitor, const std::vector<Rect>& monitors);

// A session of the desktop's org.freedesktop.portal.ScreenCast: one monitor, with the cursor drawn in
// where the portal offers that, streamed through PipeWire. The person chooses once for each display;
// the restore token the portal hands back is kept in a file per display, so later sessions for that
// display start without asking.
//
// Threads: the exchange and the session's signals run on a thread of the object's own with its own
// event loop and a private bus connection, so it needs a QCoreApplication but never the main loop.
// open blocks its caller until the portal and the person have answered, or until cancel() from
// another thread. The session lives, and its connection stays open, until close() or the destructor,
// neither of which waits for the portal.
class ScreenCastPortal {
public:
    ScreenCastPortal();
    ~ScreenCastPortal();
    ScreenCastPortal(const ScreenCastPortal&) = delete;
    ScreenCastPortal& operator=(const ScreenCastPortal&) = delete;

    // Starts a session showing `monitor` of `monitors` (where the X server places them), asking the
    // person when no kept choice for it is sure to restore that monitor (showsOnly). False, with `why`
    // said, when the portal is missing, the choice is refused or cancelled, or cancel() was called. Once
    // per object.
    bool open(const Rect& monitor, const std::vector<Rect>& monitors,
              const std::optional<std::filesystem::path>& tokenFolder, std::string& why);
    // Ends a waiting open at once, closing the portal's request and with it its dialog; an open that
    // has not begun yet fails straight away. Any thread.
    void cancel();
    // Whether cancel() ended the last open while the desktop waited for the person's choice.
    bool wasUnanswered() const;
    // Ends the session without waiting for the portal's answer; the destructor does it too. From the
    // thread that opened it.
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
