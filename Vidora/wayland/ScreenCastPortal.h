#pragma once

#include <QDBusConnection>
#include <QString>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace vidora {

// A session of the desktop's org.freedesktop.portal.ScreenCast: one monitor with the cursor drawn in,
// streamed through PipeWire. The person chooses the monitor once; the restore token the portal hands
// back is kept in a file, so later sessions start without asking.
//
// Threads: open from any thread but the Qt main thread's callers need not fear it: the exchange runs on
// a thread of its own with its own event loop and a private bus connection, so it needs a
// QCoreApplication but never the main loop. The session lives, and its connection stays open, until
// the object is destroyed (from any one thread).
class ScreenCastPortal {
public:
    ~ScreenCastPortal();
    ScreenCastPortal(const ScreenCastPortal&) = delete;
    ScreenCastPortal& operator=(const ScreenCastPortal&) = delete;

    // Starts a session, waiting at most `timeout` for the portal and the person. Nothing, with `why`
    // said, when the portal is missing, the choice is refused or cancelled, or time runs out.
    static std::unique_ptr<ScreenCastPortal> open(const std::optional<std::filesystem::path>& tokenFile,
                                                  std::chrono::milliseconds timeout, std::string& why);

    // The PipeWire remote's file descriptor (the caller owns it), and the stream's node on it.
    int takeRemote();
    std::uint32_t node() const { return node_; }

    // Where the restore token is kept: $XDG_STATE_HOME (default ~/.local/state)/vidora/; nothing
    // without a home.
    static std::optional<std::filesystem::path> tokenFile();

private:
    ScreenCastPortal(QString connectionName, QString session, int remote, std::uint32_t node);

    QString connectionName_;
    QString session_;
    int remote_;
    std::uint32_t node_;
};

}  // namespace vidora
