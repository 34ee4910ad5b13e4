// SPDX-License-Identifier: GPL-3.0-or-later
#include "UpdateCheck.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QTimer>
#include <memory>

namespace vidora {

namespace {

QString appName() {
    return QString::fromStdString(AppInfo::current().appName);
}

}  // namespace

UpdateCheck::UpdateCheck(QUrl versionFile, QString appVersion, OpenUrl open, QObject* parent)
    : QObject(parent),
      versionFile_(std::move(versionFile)),
      appVersion_(std::move(appVersion)),
      open_(std::move(open)) {}

void UpdateCheck::checkVersion(QWidget* window) {
    if (!window) {
        return;
    }
    window->setWindowTitle(appName() + "-" + appVersion_);
    QNetworkRequest request(versionFile_);
    request.setTransferTimeout(60'000);
    QNetworkReply* reply = network_.get(request);
    auto* headersDue = new QTimer(reply);
    headersDue->setSingleShot(true);
    headersDue->setInterval(headersMilliseconds);
    connect(headersDue, &QTimer::timeout, reply, &QNetworkReply::abort);
    connect(reply, &QNetworkReply::requestSent, headersDue, qOverload<>(&QTimer::start));
    connect(reply, &QNetworkReply::metaDataChanged, headersDue, &QTimer::stop);
    // The body is collected here rather than in the reply, so an endless answer is cut off early.
    auto body = std::make_shared<QByteArray>();
    connect(reply, &QNetworkReply::readyRead, this, [reply, body] {
        body->append(reply->readAll());
        if (body->size() > maximumAnswer) {
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, body, window = QPointer<QWidget>(window)] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) {
            emit finished();
            return;
        }
        body->append(reply->readAll());
        // Queued, so the alert's own event loop does not run inside the reply's signal.
        QTimer::singleShot(0, this, [this, body, window] { answered(*body, window); });
    });
}

void UpdateCheck::answered(const QByteArray& body, const QPointer<QWidget>& window) {
    const QJsonObject answer = QJsonDocument::fromJson(body).object();
    const QJsonValue title = answer.value("title");
    const QJsonValue version = answer.value("version");
    const QJsonValue url = answer.value("url");
    if (body.isEmpty() || !title.isString() || !version.isString() || !url.isString() || !window) {
        emit finished();
        return;
    }
    window->setWindowTitle(appName() + "-" + appVersion_ + "*");
    const auto local = versionToNumber(appVersion_.toStdString());
    const auto remote = versionToNumber(version.toString().toStdString());
    if (local < remote && !alerted_) {
        alerted_ = true;
        // On the heap and watched: closing the window during the alert takes the alert with it.
        QPointer<QMessageBox> alert = new QMessageBox(window);
        alert->setText("Notification");
        alert->setInformativeText("A new version " + version.toString() + " has been detected.");
        // One role for both keeps them in the order they were added.
        QPushButton* close = alert->addButton("Close", QMessageBox::ActionRole);
        QPushButton* download = alert->addButton("Download", QMessageBox::ActionRole);
        alert->setDefaultButton(close);
        alert->setEscapeButton(close);
        alert->exec();
        const bool chosen = alert && alert->clickedButton() == download;
        delete alert;
        const QUrl address(url.toString(), QUrl::StrictMode);
        if (chosen && address.isValid() && (address.scheme() == "http" || address.scheme() == "https")) {
            open_(address);
        }
    }
    emit finished();
}

}  // namespace vidora
