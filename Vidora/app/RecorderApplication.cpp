#include "RecorderApplication.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include "QtMainThread.h"
#include "writer/FfmpegMovieWriter.h"

namespace vidora {

namespace {

constexpr std::string_view proxyPrefix = "net.tavrinworks.proxy.";

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
    // The proxy makes the movies folder only once it finds the game, and a Linux home may have no
    // Videos folder at all: without it a recording by hand would find nowhere to write.
    if (const auto movies = locations_.moviesURL()) {
        tavrin::createDirectory(*movies);
    }
    recorder_ = std::make_unique<ScreenCaptureRecorder>(
        content_, platform_, [] { return std::make_unique<FfmpegMovieWriter>(); }, systemClock_,
        runOnMainThread);
    commands_ = std::make_unique<LogFiles>(systemClock_, locations_);
    notifier_ = std::make_unique<DesktopNotifier>(revealFile);
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
                            .recordingEnded =
                                [this](const RecordingResult& result, bool byHand) {
                                    if (const auto notice = describeRecording(result, byHand)) {
                                        notifier_->show(*notice);
                                    }
                                }});
    window_ = std::make_unique<RecorderWindow>(
        *view_,
        MenuActions{.addonArchive = findAddonArchive(),
                    .locations = locations_,
                    .reveal = revealFile,
                    .open = openWebAddress,
                    .gameFolder = [this] { return tavrin::getAppPath(work_, tavrin::gameBundleIdentifier); },
                    .logFolder = tavrin::getStatePath("/tavrin")},
        options_.loadVersionPage
            ? QString::fromStdString(AppInfo::current().versionUrl(options_.webSite.toStdString()))
            : QString());
    view_->changed = [this] { window_->content().render(); };
    window_->show();
    view_->onAppear();

    updateCheck_ = std::make_unique<UpdateCheck>(
        QUrl(QString::fromStdString(AppInfo::current().versionJson(options_.webSite.toStdString()))));
    updateCheck_->checkVersion(window_.get());
    launched_ = true;
    if (!runProxyApps()) {
        return true;  // no proxy beside the program: recording by hand still works
    }
    supervisor_ = std::make_unique<ProxySupervisor>(
        work_, loopClock_,
        ProxySupervisor::Options{.startProxy = [this] { runProxyApps(); },
                                 .statusFile = tavrin::getStatePath("/tavrin/Parlan.status"),
                                 .stateChanged =
                                     [content = &window_->content()](const std::string& state) {
                                         QMetaObject::invokeMethod(
                                             content,
                                             [content, text = QString::fromStdString(state)] {
                                                 content->setToolTip(text);
                                             },
                                             Qt::QueuedConnection);
                                     }});
    supervisor_->start();
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

bool RecorderApplication::runProxyApps() const {
    const QString proxy = QCoreApplication::applicationDirPath() + QStringLiteral("/Parlan");
    if (!QFileInfo(proxy).isExecutable()) {
        return false;
    }
    QProcess process;
    process.setProgram(proxy);
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TAVRIN_START_HIDDEN"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    return process.startDetached();
}

void RecorderApplication::stopApplication(std::string_view prefix) const {
    for (const auto& application : work_.runningApplications()) {
        if (application.bundleIdentifier && application.bundleIdentifier->starts_with(prefix)) {
            work_.terminate(application.pid);
        }
    }
}

}  // namespace vidora
