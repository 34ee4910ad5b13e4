#include "DesktopServices.h"

#include <canberra.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <memory>

namespace vidora {

namespace {

void openFolderOf(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

}  // namespace

void openWebAddress(const QUrl& address) {
    QDesktopServices::openUrl(address);
}

void revealFile(const QString& path) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolderOf(path);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString()} << QString();
    // Asynchronous: a file manager that is slow to start must not hold the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [path](QDBusPendingCallWatcher* finished) {
        if (finished->isError()) {
            openFolderOf(path);
        }
        finished->deleteLater();
    });
}

void alertSound() {
    // One context for the program's life: creating one connects to the sound server.
    static const std::unique_ptr<ca_context, decltype(&ca_context_destroy)> context = [] {
        ca_context* created = nullptr;
        return std::unique_ptr<ca_context, decltype(&ca_context_destroy)>(
            ca_context_create(&created) == CA_SUCCESS ? created : nullptr, &ca_context_destroy);
    }();
    if (!context || ca_context_play(context.get(), 0, CA_PROP_EVENT_ID, "bell", nullptr) != CA_SUCCESS) {
        QApplication::beep();
    }
}

}  // namespace vidora
