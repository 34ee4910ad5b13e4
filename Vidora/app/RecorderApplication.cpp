// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecorderApplication.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

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
    if (const auto movies = locations_.moviesURL()) {
        // The proxy makes the movies folder only once it finds the game, and a Linux home may have no
        // Videos folder at all: without it a recording by hand would find nowhere to write.
        tavrin::createDirectory(*movies);
        storage_.recoverUnfinished(*movies);
        storage_.keepWithin(*movies, storageLimitBytes());
    }
    recorder_ = std::make_unique<ScreenCaptureRecorder>(
        content_, platform_, [] { return std::make_unique<FfmpegMovieWriter>(); }, systemClock_,
        runOnMainThread);
    commands_ = std::make_unique<LogFiles>(systemClock_, locations_);
    notifier_ = std::make_unique<DesktopNotifier>(revealFile, [](const QString& movie) {
        startMatches({QStringLiteral("--play"), movie});
    });
    view_ = std::make_unique<ContentView>(
        ContentViewPlatform{.recorder = *recorder_,
                            .commands = *commands_,
                            .locations = locations_,
                            .clock = loopClock_,
                            .workspace = desktop_,
                            .getDisplays = [this] { return ScreenCaptureFilter(content_).getDisplays(); },
                            .screenNames = screenNames,
                            .mainQueue = runOnMainThread,
                            .startTimer = startSecondTimer,
                            .alertSound = alertSound,
                            .recordingStarts =
                                [this] {
                                    const auto movies = locations_.moviesURL();
                                    if (movies && !storage_.roomToRecord(*movies, storageLimitBytes())) {
                                        return false;
                                    }
                                    keepMoviesFolder(true);
                                    return true;
                                },
                            .recordingStopped =
                                [this] {
                                    if (const auto movies = locations_.moviesURL()) {
                                        storage_.keepWithin(*movies, storageLimitBytes());
                                    }
                                    // After the rest of the batch that ended it, which clears its commands.
                                    runOnMainThread([this] { keepMoviesFolder(false); });
                                },
                            .recordingEnded =
                                [this](const RecordingResult& result, bool byHand) {
                                    if (const auto notice = describeRecording(result, byHand)) {
                                        notifier_->show(*notice);
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
