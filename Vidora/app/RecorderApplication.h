// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
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
    MovieStorage storage_;
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
};

}  // namespace vidora
