// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>

#include "DesktopServices.h"
#include "control/AppInfo.h"

namespace vidora {

// Asks the maker's site for the newest version once and offers its download when it is newer than
// this one. Lives on the main thread; the program makes one per launch, and one checker shows at
// most one alert. Every failure (no network, no or odd answer) ends the check silently.
class UpdateCheck : public QObject {
    Q_OBJECT
public:
    using OpenUrl = std::function<void(const QUrl&)>;

    explicit UpdateCheck(QUrl versionFile = QUrl(QString::fromStdString(AppInfo::current().versionJson())),
                         QString appVersion = QString::fromStdString(AppInfo::current().appVersion),
                         OpenUrl open = openWebAddress, QObject* parent = nullptr);

    // Titles the window with the name and version, then checks in the background; an answer adds
    // "*" to the title.
    void checkVersion(QWidget* window);

    // A version file is a few hundred bytes; anything beyond this is not one.
    static constexpr qint64 maximumAnswer = 1 << 20;
    // Qt gathers an answer's headers without a limit, so a server that never ends them would fill
    // memory; real headers follow the request within moments, later ones count as no answer.
    static constexpr int headersMilliseconds = 5'000;

signals:
    // The check is over, with or without an answer (after the alert closes).
    void finished();

private:
    void answered(const QByteArray& body, const QPointer<QWidget>& window);

    QNetworkAccessManager network_;
    QUrl versionFile_;
    QString appVersion_;
    OpenUrl open_;
    bool alerted_ = false;
};

}  // namespace vidora
