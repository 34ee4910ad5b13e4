// SPDX-License-Identifier: GPL-3.0-or-later
#include "QtMainThread.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

namespace vidora {

namespace {

class QtRepeatingTimer final : public RepeatingTimer {
public:
    explicit QtRepeatingTimer(std::function<void()> tick) {
        timer_.setInterval(1000);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [tick = std::move(tick)] { tick(); });
        timer_.start();
    }

private:
    QTimer timer_;
};

}  // namespace

void runOnMainThread(std::function<void()> work) {
    if (auto* application = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
    }
}

std::unique_ptr<RepeatingTimer> startSecondTimer(std::function<void()> tick) {
    return std::make_unique<QtRepeatingTimer>(std::move(tick));
}

std::vector<std::string> screenNames() {
    std::vector<std::string> names;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QString product = (screen->manufacturer() + QLatin1Char(' ') + screen->model()).trimmed();
        names.push_back((product.isEmpty() ? screen->name() : product).toStdString());
    }
    return names;
}

}  // namespace vidora
