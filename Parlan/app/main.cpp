// SPDX-License-Identifier: GPL-3.0-or-later
// Parlan, the combat-log proxy: follows the game's newest combat log and drops command, subtitle and
// match-log files for the recorder.
#include <QApplication>

#include "ProcWorkspace.h"
#include "ProgramStart.h"
#include "ProxyApplication.h"
#include "QuitSignals.h"
#include "common/Folders.h"
#include "common/ProxyStatus.h"
#include "common/StandardErrorLog.h"

namespace {

// The recorder starts the proxy with this set: the window comes up minimised and takes no focus.
constexpr const char* startHiddenVariable = "TAVRIN_START_HIDDEN";

}  // namespace

int main(int argc, char** argv) {
    tavrin::ProgramStart start(
        argc, argv, QStringLiteral("Parlan"),
        QStringLiteral("Follows the game's newest combat log and drops command, subtitle and\n"
                       "match-log files for Vidora at each arena match."));
    if (const auto status = start.exitStatus()) {
        return *status;
    }
    const tavrin::SystemClock clock;
    const tavrin::StandardErrorLog log(tavrin::getStatePath(tavrin::proxyLogFile), clock);
    tavrin::logQtMessages();
    const bool startHidden = qEnvironmentVariable(startHiddenVariable) == QLatin1String("1");
    qunsetenv(startHiddenVariable);  // not handed on to anything this process starts

    QApplication application(start.argc(), start.argv());

    const tavrin::ProcWorkspace work;
    if (tavrin::anotherCopyRuns(work)) {
        return 0;  // the copy that runs already stays
    }
    tavrin::QuitSignals quitSignals;
    QObject::connect(&quitSignals, &tavrin::QuitSignals::quitRequested, &application, &QApplication::quit);

    parlan::ProxyApplication proxy(work, tavrin::getMoviesPath(""),
                                   tavrin::getStatePath(tavrin::proxyStatusFile));
    proxy.start(startHidden);
    const int result = QApplication::exec();
    proxy.quit();
    return result;
}
