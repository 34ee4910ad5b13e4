// SPDX-License-Identifier: GPL-3.0-or-later
// vidora-page: loads the recorder's version page as a browser would, never shown, and quits once it has
// loaded. The site sees the launch without a web engine idling in the recorder all evening beside the
// game (its renderer, GPU and zygote processes take more memory than the recorder itself).
// usage: vidora-page URL
#include <unistd.h>

#include <QGuiApplication>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace std::chrono_literals;

namespace {

// Time for the page's own scripts after the load, and a limit for a site that never finishes.
constexpr auto lingerAfterLoad = 10s;
constexpr auto longestVisit = 60s;

}  // namespace

int main(int argc, char** argv) {
    const QUrl address = argc == 2 ? QUrl(QString::fromLocal8Bit(argv[1]), QUrl::StrictMode) : QUrl();
    if (!address.isValid() || address.isRelative()) {
        std::fputs("usage: vidora-page URL\n", stderr);
        return 2;
    }
    // The renderer refuses to run as root inside its sandbox.
    if (geteuid() == 0) {
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    }
    // Nothing is ever shown: no display is needed, whichever desktop the recorder runs on.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QGuiApplication application(argc, argv);
    QWebEnginePage page;
    QObject::connect(&page, &QWebEnginePage::loadFinished, &application, [&application] {
        QTimer::singleShot(lingerAfterLoad, &application, &QCoreApplication::quit);
    });
    QTimer::singleShot(longestVisit, &application, &QCoreApplication::quit);
    page.load(address);
    return QGuiApplication::exec();
}
