// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <functional>

#include "control/RecordingNotice.h"

namespace vidora {

// Desktop notifications through org.freedesktop.Notifications on the session bus. A notice with a
// movie gets the default action, which shows the movie in the file manager, and Watch, which plays it.
// The body is escaped where the server renders markup in it. Where no notification server runs, nothing
// happens beyond the log line every notice also gets. Main thread only.
class DesktopNotifier final : public QObject {
    Q_OBJECT

public:
    DesktopNotifier(std::function<void(const QString&)> reveal, std::function<void(const QString&)> watch,
                    QObject* parent = nullptr);

    void show(const RecordingNotice& notice);

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    void notify(const RecordingNotice& notice, bool bodyMarkup);

    std::function<void(const QString&)> reveal_;
    std::function<void(const QString&)> watch_;
    // The notifications on screen that show a movie.
    QMap<uint, QString> movies_;
};

}  // namespace vidora
