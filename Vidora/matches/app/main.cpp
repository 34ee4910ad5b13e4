// SPDX-License-Identifier: GPL-3.0-or-later
// vidora-matches: the Matches window, or with --play the player alone. A program of its own, started by
// the recorder's menu, `Vidora --matches` and `Vidora --play`, and the notification's Watch action: a
// movie that crashes its decoder never costs a recording in progress, and a recorder that only records
// loads nothing of it.
#include <QApplication>
#include <QMessageBox>

#include "DesktopServices.h"
#include "MatchesWindow.h"
#include "ProgramStart.h"
#include "QuitSignals.h"
#include "RecorderSettings.h"
#include "capture/MovieLocations.h"
#include "common/Clock.h"
#include "common/StandardErrorLog.h"
#include "player/app/PlayerWindow.h"

int main(int argc, char** argv) {
    const QCommandLineOption play(QStringLiteral("play"), QStringLiteral("Plays the movie FILE."),
                                  QStringLiteral("FILE"));
    tavrin::ProgramStart start(
        argc, argv, QStringLiteral("vidora-matches"),
        QStringLiteral("Lists the recorded matches to find, play, keep or delete them."), {play});
    if (const auto status = start.exitStatus()) {
        return *status;
    }
    const tavrin::SystemClock clock;
    const tavrin::StandardErrorLog log(tavrin::getStatePath("/tavrin/Vidora.log"), clock);
    QApplication application(start.argc(), start.argv());
    QGuiApplication::setDesktopFileName(QStringLiteral("net.tavrinworks.Vidora"));
    tavrin::QuitSignals quitSignals;
    QObject::connect(&quitSignals, &tavrin::QuitSignals::quitRequested, &application, &QApplication::quit);

    if (start.isSet(QStringLiteral("play"))) {
        vidora::PlayerWindow player;
        player.open(start.value(QStringLiteral("play")));
        player.show();
        return QApplication::exec();
    }
    const vidora::MovieLocations locations(tavrin::processEnvironment(),
                                           [] { return tavrin::chosenMoviesFolder(); });
    vidora::MatchesWindow window(vidora::MatchesWindow::Options{
        .moviesFolder = QString::fromStdString(locations.moviesURL().value_or("")),
        .cacheFolder = QString::fromStdString(tavrin::getCachePath("/tavrin").value_or("/tmp")),
        .confirm =
            [&window](const QString& question) {
                return QMessageBox::question(&window, QStringLiteral("Matches"), question) ==
                       QMessageBox::Yes;
            },
        .reveal = vidora::revealFile,
        .openWith = [](const QString& movie) { vidora::openWebAddress(QUrl::fromLocalFile(movie)); }});
    window.show();
    return QApplication::exec();
}
