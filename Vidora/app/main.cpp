// SPDX-License-Identifier: GPL-3.0-or-later
// Vidora, the recorder: records a display or the game's windows with its sound and the microphone,
// by hand or when the proxy's command files say a match starts and ends.
#include <QApplication>
#include <QFileInfo>

#include "HelperPrograms.h"
#include "ProcWorkspace.h"
#include "ProgramStart.h"
#include "QuitSignals.h"
#include "RecorderApplication.h"
#include "common/StandardErrorLog.h"
#include "linux/LargeBlocks.h"
#include "writer/FfmpegLog.h"

int main(int argc, char** argv) {
    const QCommandLineOption matches(QStringLiteral("matches"), QStringLiteral("Opens the Matches window."));
    const QCommandLineOption play(QStringLiteral("play"), QStringLiteral("Plays the movie FILE."),
                                  QStringLiteral("FILE"));
    tavrin::ProgramStart start(
        argc, argv, QStringLiteral("Vidora"),
        QStringLiteral("Records a display or the game's windows with the system's sound and the\n"
                       "microphone, by hand or when Parlan says an arena match starts and ends."),
        {matches, play});
    if (const auto status = start.exitStatus()) {
        return *status;
    }
    if (start.isSet(QStringLiteral("matches")) || start.isSet(QStringLiteral("play"))) {
        // The window is a program of its own: it opens whether or not a recorder runs, and starts none.
        const QCoreApplication helper(start.argc(), start.argv());
        const QString movie = start.value(QStringLiteral("play"));
        const QStringList arguments =
            movie.isEmpty() ? QStringList()
                            : QStringList{QStringLiteral("--play"), QFileInfo(movie).absoluteFilePath()};
        return vidora::startMatches(arguments) ? 0 : 1;
    }
    const tavrin::SystemClock clock;
    const tavrin::StandardErrorLog log(tavrin::getStatePath("/tavrin/Vidora.log"), clock);
    tavrin::logQtMessages();
    vidora::logFfmpegWarnings();
    vidora::mapLargeBlocksOnTheirOwn();
    QApplication application(start.argc(), start.argv());
    QGuiApplication::setDesktopFileName(QStringLiteral("net.tavrinworks.Vidora"));

    const tavrin::ProcWorkspace work;
    vidora::RecorderApplication::Options options;
    if (const QString site = qEnvironmentVariable("TAVRIN_SITE"); !site.isEmpty()) {
        options.webSite = site;  // a test server or a mirror
    }
    options.loadVersionPage = qEnvironmentVariable("TAVRIN_NO_VERSION_PAGE") != QLatin1String("1");
    vidora::RecorderApplication recorder(work, options);
    if (!recorder.launch()) {
        return 0;  // another copy runs; its proxy stays
    }
    tavrin::QuitSignals quitSignals;
    QObject::connect(&quitSignals, &tavrin::QuitSignals::quitRequested, &application, &QApplication::quit);
    const int result = QApplication::exec();
    recorder.quit();
    return result;
}
