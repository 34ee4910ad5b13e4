// SPDX-License-Identifier: GPL-3.0-or-later
#include "DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <iostream>

namespace vidora {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString desktopEntry = QStringLiteral("net.tavrinworks.Vidora");

}  // namespace

DesktopNotifier::DesktopNotifier(std::function<void(const QString&)> reveal,
                                 std::function<void(const QString&)> watch, QObject* parent)
    : QObject(parent), reveal_(std::move(reveal)), watch_(std::move(watch)) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(QString(), path, service, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(QString(), path, service, QStringLiteral("NotificationClosed"), this,
                SLOT(notificationClosed(uint, uint)));
}

void DesktopNotifier::show(const RecordingNotice& notice) {
    std::clog << "Vidora: " << notice.title << ": " << notice.body << std::endl;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    // Asked each time: the server may have been replaced since. Asynchronous, as the notice is: a
    // notification server that is slow to start must not hold the window.
    auto* capabilities =
        new QDBusPendingCallWatcher(bus.asyncCall(QDBusMessage::createMethodCall(
                                        service, path, service, QStringLiteral("GetCapabilities"))),
                                    this);
    connect(capabilities, &QDBusPendingCallWatcher::finished, this,
            [this, notice](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<QStringList> reply = *finished;
                notify(notice, !reply.isError() && reply.value().contains(QStringLiteral("body-markup")));
                finished->deleteLater();
            });
}

void DesktopNotifier::notify(const RecordingNotice& notice, bool bodyMarkup) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    const QStringList actions = notice.movie
                                    ? QStringList{QStringLiteral("default"), QStringLiteral("Show in Files"),
                                                  QStringLiteral("watch"), QStringLiteral("Watch")}
                                    : QStringList{};
    // The summary is plain text; a body is read as markup where the server renders it, and a path or a
    // name may hold "&" or "<".
    const QString body = QString::fromStdString(notice.body);
    call << QStringLiteral("Vidora") << uint(0) << desktopEntry << QString::fromStdString(notice.title)
         << (bodyMarkup ? body.toHtmlEscaped() : body) << actions
         << QVariantMap{{QStringLiteral("desktop-entry"), desktopEntry}} << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    const QString movie = notice.movie ? QString::fromStdString(*notice.movie) : QString();
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, movie](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<uint> reply = *finished;
                if (!reply.isError() && !movie.isEmpty()) {
                    movies_.insert(reply.value(), movie);
                }
                finished->deleteLater();
            });
}

void DesktopNotifier::actionInvoked(uint id, const QString& action) {
    const auto movie = movies_.constFind(id);
    if (movie == movies_.constEnd()) {
        return;
    }
    if (action == QLatin1String("default")) {
        reveal_(*movie);
    } else if (action == QLatin1String("watch")) {
        watch_(*movie);
    }
}

void DesktopNotifier::notificationClosed(uint id, uint /*reason*/) {
    movies_.remove(id);
}

}  // namespace vidora
