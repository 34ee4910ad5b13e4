// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "DesktopNotifier.h"
#include "RecorderWindow.h"
#include "UpdateCheck.h"
#include "VersionPage.h"
#include "capture/MovieStorage.h"
#include "capture/ScreenCaptureRecorder.h"
#include "common/InterruptibleClock.h"
#include "common/SerialQueue.h"
#include "common/Workspace.h"
#include "control/ContentView.h"
#include "control/LogFiles.h"
#include "control/ProxySupervisor.h"
#include "linux/X11ContentProvider.h"
#include "linux/X11DesktopWorkspace.h"
#include "wayland/SessionCapturePlatform.h"

namespace vidora {

// The running recorder: its engine, its controller and window, the update check and the proxy it
// starts. Main thread only.
class RecorderApplication {
public:
    struct Options {
        // The maker's site: the version page and file are found under it.
        QString webSite = QString::fromUtf8(AppInfo::webSite.data(), AppInfo::webSite.size());
        // Whether the version page is visited at launch.
        bool loadVersionPage = true;
        // The platform seams, for tests: a recorder in place of the capture engine, the free space on the
        // movies folder's disk, and where notices go in place of the desktop's notifications.
        Recorder* recorder = nullptr;
        MovieStorage::FreeSpace freeSpace = MovieStorage::systemFreeSpace;
        std::function<void(const RecordingNotice&)> notify;
    };

    RecorderApplication(const tavrin::Workspace& work, Options options);
    ~RecorderApplication();

    // Checks for another copy first: false when one runs, and this copy must quit without touching
    // the proxy that copy started. Otherwise shows the window, checks the version, starts the proxy
    // (and again whenever it stops) and the controller's loops.
    bool launch();
    // Finishes a recording in progress and asks the proxies to quit. Only after a launch that
    // returned true.
    void quit();

    RecorderWindow& window() { return *window_; }
    ContentView& view() { return *view_; }

private:
    // Starts the proxy from beside the program: its pid, nothing when there is none or it cannot be started.
    std::optional<pid_t> runProxyApps() const;
    void stopApplication(std::string_view prefix) const;
    // The movies folder chosen in the settings, read at each use, except while a recording keeps the one
    // it began in: its match's commands and subtitles are there. Any thread.
    std::optional<std::string> moviesFolder();
    void keepMoviesFolder(bool kept);
    // The storage limit in bytes; nothing while the settings file holds one that cannot be read, which the
    // log then names once.
    std::optional<std::uint64_t> storageLimit();
    // At launch, off the main thread: the recovery of unfinished movies in the movies folder and those used
    // before it, then the limit, so that the movies saved count.
    void recoverAndKeepLimit();
    void keepLimitAfter(const std::string& movie);
    void tell(const RecordingNotice& notice);
    void openSettings();
    void saveChoices() const;

    const tavrin::Workspace& work_;
    Options options_;
    bool launched_ = false;
    tavrin::SystemClock systemClock_;
    tavrin::InterruptibleClock loopClock_;
    std::mutex folderMutex_;
    std::optional<std::string> folderInUse_;
    bool folderKept_ = false;
    // Every copy of these reads the folder in use.
    MovieLocations locations_{tavrin::processEnvironment(), [this] { return moviesFolder(); }};
    MovieStorage storage_{options_.freeSpace};
    std::optional<QString> unreadLimit_;
    bool limitTold_ = false;
    X11ContentProvider content_;
    SessionCapturePlatform platform_;
    X11DesktopWorkspace desktop_;
    std::unique_ptr<ScreenCaptureRecorder> recorder_;
    std::unique_ptr<LogFiles> commands_;
    std::unique_ptr<ContentView> view_;
    std::unique_ptr<RecorderWindow> window_;
    std::unique_ptr<UpdateCheck> updateCheck_;
    std::unique_ptr<VersionPage> versionPage_;
    std::unique_ptr<DesktopNotifier> notifier_;
    std::unique_ptr<ProxySupervisor> supervisor_;
    // Work posted to the main thread runs only while this lives: what the queue below posts as the
    // application ends is dropped with it.
    QObject mainContext_;
    // The storage's reading and deleting, off the main thread, one piece after the other; declared last, so
    // that its work is done before anything it uses goes.
    tavrin::SerialQueue storageQueue_{"Tavrinworks.Storage"};
};

}  // namespace vidora
