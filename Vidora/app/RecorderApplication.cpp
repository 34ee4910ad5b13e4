// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecorderApplication.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <iostream>
#include <utility>

#include "HelperPrograms.h"
#include "QtMainThread.h"
#include "RecorderSettings.h"
#include "SettingsWindow.h"
#include "common/ProxyStatus.h"
#include "writer/FfmpegMovieWriter.h"

namespace vidora {

namespace {

constexpr std::string_view proxyPrefix = "net.tavrinworks.proxy.";
// The player's last choices in the settings file.
constexpr char microphoneKey[] = "recorder/microphone";
constexpr char targetKey[] = "recorder/target";

}  // namespace

RecorderApplication::RecorderApplication(const tavrin::Workspace& work, Options options)
    : work_(work), options_(std::move(options)) {}

RecorderApplication::~RecorderApplication() {
    loopClock_.interrupt();
    supervisor_.reset();
    window_.reset();
    view_.reset();
    recorder_.reset();
}

bool RecorderApplication::launch() {
    if (tavrin::anotherCopyRuns(work_)) {
        return false;
    }
    recoverAndKeepLimit();
    Recorder* recorder = options_.recorder;
    if (!recorder) {
        recorder_ = std::make_unique<ScreenCaptureRecorder>(
            content_, platform_, [] { return std::make_unique<FfmpegMovieWriter>(); }, systemClock_,
            runOnMainThread);
        recorder = recorder_.get();
    }
    commands_ = std::make_unique<LogFiles>(systemClock_, locations_);
    notifier_ = std::make_unique<DesktopNotifier>(revealFile, [](const QString& movie) {
        startMatches({QStringLiteral("--play"), movie});
    });
    view_ = std::make_unique<ContentView>(
        ContentViewPlatform{.recorder = *recorder,
                            .commands = *commands_,
                            .locations = locations_,
                            .clock = loopClock_,
                            .workspace = desktop_,
                            .getDisplays = [this] { return ScreenCaptureFilter(content_).getDisplays(); },
                            .screenNames = screenNames,
                            .mainQueue = runOnMainThread,
                            .startTimer = startSecondTimer,
                            .alertSound = alertSound,
                            .recordingStarts = [this]() -> std::optional<RecordingProblem> {
                                bool room = true;
                                if (const auto movies = locations_.moviesURL()) {
                                    // After the launch's recovery, which may have saved movies to count.
                                    storageQueue_.sync([&, limit = storageLimit()] {
                                        room = storage_.roomToRecord(*movies, limit);
                                    });
                                }
                                if (!room) {
                                    return RecordingProblem::noRoom;
                                }
                                if (recorder_) {
                                    recorder_->setMovieFormat(movieFormat());
                                }
                                keepMoviesFolder(true);
                                return std::nullopt;
                            },
                            .recordingStopped = [this](const std::string& movie) { keepLimitAfter(movie); },
                            .recordingEnded =
                                [this](const RecordingResult& result, bool byHand) {
                                    if (const auto notice = describeRecording(result, byHand)) {
                                        tell(*notice);
                                    }
                                }});
    const auto settings = tavrin::recorderSettings();
    view_->restoreChoices(settings->value(microphoneKey, false).toBool(),
                          settings->value(targetKey).toString().toStdString());
    view_->choicesChanged = [this] { saveChoices(); };
    window_ = std::make_unique<RecorderWindow>(
        *view_,
        MenuActions{.addonArchive = findAddonArchive(),
                    .locations = locations_,
                    .reveal = revealFile,
                    .open = openWebAddress,
                    .matches = [] { startMatches(); },
                    .settings = [this] { openSettings(); },
                    .gameFolder = [this] { return tavrin::getAppPath(work_, tavrin::gameBundleIdentifier); },
                    .logFolder = tavrin::getStatePath("/tavrin")});
    view_->changed = [this] { window_->content().render(); };
    window_->show();
    view_->onAppear();

    updateCheck_ = std::make_unique<UpdateCheck>(
        QUrl(QString::fromStdString(AppInfo::current().versionJson(options_.webSite.toStdString()))));
    updateCheck_->checkVersion(window_.get());
    if (options_.loadVersionPage) {
        versionPage_ = std::make_unique<VersionPage>(
            QString::fromStdString(AppInfo::current().versionUrl(options_.webSite.toStdString())));
    }
    launched_ = true;
    const auto proxy = runProxyApps();
    if (!proxy) {
        return true;  // no proxy beside the program: recording by hand still works
    }
    supervisor_ = std::make_unique<ProxySupervisor>(
        work_, loopClock_,
        ProxySupervisor::Options{.startProxy = [this] { return runProxyApps(); },
                                 .statusFile = tavrin::getStatePath(tavrin::proxyStatusFile),
                                 .logFile = tavrin::getStatePath(tavrin::proxyLogFile).value_or("Parlan.log"),
                                 .stateChanged =
                                     [content = &window_->content()](const std::string& state) {
                                         QMetaObject::invokeMethod(
                                             content,
                                             [content, text = QString::fromStdString(state)] {
                                                 content->setToolTip(text);
                                             },
                                             Qt::QueuedConnection);
                                     },
                                 .tell =
                                     [this](const RecordingNotice& notice) {
                                         runOnMainThread([this, notice] { notifier_->show(notice); });
                                     }});
    supervisor_->start(*proxy);
    return true;
}

void RecorderApplication::quit() {
    if (!launched_) {
        return;
    }
    loopClock_.interrupt();
    if (supervisor_) {
        supervisor_->stop();  // no proxy is started after the ones running are asked to quit
    }
    view_->stopRecorder();
    stopApplication(proxyPrefix);
}

std::optional<std::string> RecorderApplication::moviesFolder() {
    const std::scoped_lock lock(folderMutex_);
    if (!folderKept_) {
        folderInUse_ = tavrin::chosenMoviesFolder();
    }
    return folderInUse_;
}

void RecorderApplication::keepMoviesFolder(bool kept) {
    const std::scoped_lock lock(folderMutex_);
    folderKept_ = kept;
}

std::optional<std::uint64_t> RecorderApplication::storageLimit() {
    QString unread;
    const auto limit = storageLimitBytes(&unread);
    if (!limit && unread != unreadLimit_) {
        std::cerr << "Vidora: the storage limit in the settings file, \"" << unread.toStdString()
                  << "\", is not a number of GB: no movie is deleted until a limit is saved in Settings"
                  << std::endl;
    }
    unreadLimit_ = limit ? std::nullopt : std::optional(unread);
    return limit;
}

void RecorderApplication::recoverAndKeepLimit() {
    // A Linux home may have no Videos folder, and the proxy makes the default one only once it finds the
    // game: a recording by hand would find nowhere to write. A chosen folder is never made.
    locations_.prepareMoviesFolder();
    const auto movies = locations_.moviesURL();
    auto folders = earlierMoviesFolders();
    if (movies) {
        folders.insert(folders.begin(), *movies);
    }
    // The recovery reads a header per fragment: seconds on a cold disk.
    storageQueue_.async([this, folders, movies, limit = storageLimit()] {
        for (const auto& folder : folders) {
            storage_.recoverUnfinished(folder);
        }
        if (movies && limit) {
            storage_.keepWithin(*movies, *limit);
        }
    });
}

// The movie just recorded is never deleted for the limit; when it alone takes more, the player is told
// once.
void RecorderApplication::keepLimitAfter(const std::string& movie) {
    const auto movies = locations_.moviesURL();
    const auto limit = storageLimit();
    if (movies && limit) {
        storageQueue_.async([this, folder = *movies, limit = *limit, movie] {
            if (storage_.keepWithin(folder, limit, std::filesystem::path(movie).filename().string())) {
                QMetaObject::invokeMethod(
                    &mainContext_,
                    [this, movie, limit] {
                        if (!std::exchange(limitTold_, true)) {
                            tell(limitNotice(movie, limit));
                        }
                    },
                    Qt::QueuedConnection);
            }
        });
    }
    // After the rest of the batch that ended the recording, which clears its commands.
    QMetaObject::invokeMethod(
        &mainContext_, [this] { keepMoviesFolder(false); }, Qt::QueuedConnection);
}

void RecorderApplication::tell(const RecordingNotice& notice) {
    if (options_.notify) {
        options_.notify(notice);
    } else {
        notifier_->show(notice);
    }
}

void RecorderApplication::openSettings() {
    SettingsWindow settings(QString::fromStdString(MovieLocations().moviesURL().value_or("")), window_.get());
    settings.exec();
}

void RecorderApplication::saveChoices() const {
    const auto settings = tavrin::recorderSettings();
    settings->setValue(microphoneKey, view_->micEnable());
    if (const auto& target = view_->selected()) {
        settings->setValue(targetKey, QString::fromStdString(ContentView::targetKey(*target)));
    }
}

std::optional<pid_t> RecorderApplication::runProxyApps() const {
    const QString proxy = QCoreApplication::applicationDirPath() + QStringLiteral("/Parlan");
    if (!QFileInfo(proxy).isExecutable()) {
        return std::nullopt;
    }
    QProcess process;
    process.setProgram(proxy);
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TAVRIN_START_HIDDEN"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    qint64 pid = 0;
    return process.startDetached(&pid) ? std::optional(static_cast<pid_t>(pid)) : std::nullopt;
}

void RecorderApplication::stopApplication(std::string_view prefix) const {
    for (const auto& application : work_.runningApplications()) {
        if (application.bundleIdentifier && application.bundleIdentifier->starts_with(prefix)) {
            work_.terminate(application.pid);
        }
    }
}

}  // namespace vidora
