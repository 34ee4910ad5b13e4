// Vidora, the recorder: records a display or the game's windows with its sound and the microphone,
// by hand or when the proxy's command files say a match starts and ends.
#include <unistd.h>

#include <QApplication>
#include <cstdlib>

#include "ProcWorkspace.h"
#include "QuitSignals.h"
#include "RecorderApplication.h"
#include "common/StandardErrorLog.h"
#include "linux/LargeBlocks.h"

int main(int argc, char** argv) {
    vidora::mapLargeBlocksOnTheirOwn();
    const tavrin::SystemClock clock;
    const tavrin::StandardErrorLog log(tavrin::getStatePath("/tavrin/Vidora.log"), clock);
    // The page view's renderer refuses to run as root inside its sandbox.
    if (geteuid() == 0) {
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vidora"));

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
