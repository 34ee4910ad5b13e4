// SPDX-License-Identifier: GPL-3.0-or-later
#include "DesktopServices.h"

#include <canberra.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>

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
    // Encoded, as a URI must be: movies are named with blanks.
    call << QStringList{QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded)}
         << QString();
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
    // One context for the program's life: creating one connects to the sound server. It is never
    // destroyed: destroying it unloads the backend while a sound may still play in the backend's own
    // thread, which then crashes the program as it quits.
    static ca_context* const context = [] {
        ca_context* created = nullptr;
        return ca_context_create(&created) == CA_SUCCESS ? created : nullptr;
    }();
    if (!context || ca_context_play(context, 0, CA_PROP_EVENT_ID, "bell", nullptr) != CA_SUCCESS) {
        QApplication::beep();
    }
}

}  // namespace vidora
