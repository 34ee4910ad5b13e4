#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <vector>

#include "UpdateCheck.h"

namespace vidora {
namespace {

// A loopback web server answering every request with one canned response.
class VersionServer {
public:
    explicit VersionServer(const QByteArray& body, const QByteArray& status = "200 OK") {
        response_ = "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                    if (socket->readAll().contains("\r\n\r\n")) {
                        socket->write(response_);
                        socket->disconnectFromHost();
                    }
                });
            }
        });
    }
    QUrl url() const { return QUrl(QString("http://127.0.0.1:%1/version.json").arg(server_.serverPort())); }

private:
    QTcpServer server_;
    QByteArray response_;
};

QByteArray answer(const QString& version, const QString& url = "https://tavrinworks.net/download") {
    return QString(R"({"title": "Vidora", "version": "%1", "url": "%2"})").arg(version, url).toUtf8();
}

// What one check did: the window's title, each alert's texts and buttons, and the addresses opened.
struct Outcome {
    std::string title;
    std::vector<QStringList> alerts;
    std::vector<QUrl> opened;
};

// Runs `checks` checks with one checker, answering each alert with the button named `choice`.
Outcome check(const QUrl& versionFile, const QString& ownVersion, const QString& choice = "Close",
              int checks = 1) {
    Outcome outcome;
    QWidget window;
    UpdateCheck checker(versionFile, ownVersion, [&](const QUrl& url) { outcome.opened.push_back(url); });
    QEventLoop loop;
    int finished = 0;
    QObject::connect(&checker, &UpdateCheck::finished, [&] {
        if (++finished == checks) {
            loop.quit();
        }
    });
    std::function<void()> answerAlert = [&] {
        if (auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            QStringList texts{alert->text(), alert->informativeText()};
            QAbstractButton* chosen = nullptr;
            for (QAbstractButton* button : alert->buttons()) {
                texts << button->text();
                chosen = button->text() == choice ? button : chosen;
            }
            outcome.alerts.push_back(texts);
            if (chosen) {
                chosen->click();
            }
        }
        QTimer::singleShot(20, &loop, answerAlert);
    };
    QTimer::singleShot(0, &loop, answerAlert);
    QTimer::singleShot(15'000, &loop, &QEventLoop::quit);
    for (int i = 0; i < checks; ++i) {
        checker.checkVersion(&window);
    }
    loop.exec();
    outcome.title = window.windowTitle().toStdString();
    return outcome;
}

const QStringList newVersionAlert{"Notification", "A new version 1.2.0 has been detected.", "Close",
                                  "Download"};

TEST(UpdateCheck, NewerVersionOffersItsDownload) {
    VersionServer server(answer("1.2.0"));
    const Outcome download = check(server.url(), "1.1.9", "Download");
    EXPECT_EQ(download.title, "Vidora-1.1.9*");
    ASSERT_EQ(download.alerts.size(), 1u);
    EXPECT_EQ(download.alerts[0], newVersionAlert);
    EXPECT_EQ(download.opened, std::vector<QUrl>{QUrl("https://tavrinworks.net/download")});

    const Outcome close = check(server.url(), "1.1.9", "Close");
    EXPECT_EQ(close.alerts.size(), 1u);
    EXPECT_TRUE(close.opened.empty());

    // One checker per launch, one alert at most.
    EXPECT_EQ(check(server.url(), "1.1.9", "Close", 2).alerts.size(), 1u);
}

TEST(UpdateCheck, DownloadOpensOnlyWebAddresses) {
    for (const QString url : {"file:///etc/passwd", "javascript:x", "http://[bad", ""}) {
        VersionServer server(answer("1.2.0", url));
        const Outcome outcome = check(server.url(), "1.1.9", "Download");
        EXPECT_EQ(outcome.alerts.size(), 1u) << url.toStdString();
        EXPECT_TRUE(outcome.opened.empty()) << url.toStdString();
    }
}

TEST(UpdateCheck, SameOlderOrOddVersionOnlyMarksTheTitle) {
    for (const QString version : {"1.1.9", "1.1.8", "0.9.99", "1.2", "1.2.x", "2.0.0.0"}) {
        VersionServer server(answer(version));
        const Outcome outcome = check(server.url(), "1.1.9");
        EXPECT_EQ(outcome.title, "Vidora-1.1.9*") << version.toStdString();
        EXPECT_TRUE(outcome.alerts.empty()) << version.toStdString();
    }
}

TEST(UpdateCheck, NoUsableAnswerLeavesTheTitleUnmarked) {
    const QByteArray padded = answer("9.0.0") + QByteArray(UpdateCheck::maximumAnswer, ' ');
    for (const QByteArray& body :
         {QByteArray(R"({"version": "9.0.0", "url": "https://a.b/"})"),
          QByteArray(R"({"title": "t", "version": 90000, "url": "https://a.b/"})"),
          QByteArray(R"({"title": "t", "version": "9.0.0"})"),
          QByteArray(R"([{"title": "t", "version": "9.0.0", "url": "https://a.b/"}])"),
          QByteArray("not json"), QByteArray(), padded}) {
        VersionServer server(body);
        const Outcome outcome = check(server.url(), "1.0.0");
        EXPECT_EQ(outcome.title, "Vidora-1.0.0") << body.left(80).toStdString();
        EXPECT_TRUE(outcome.alerts.empty());
    }
    VersionServer missing(answer("9.0.0"), "404 Not Found");
    EXPECT_EQ(check(missing.url(), "1.0.0").title, "Vidora-1.0.0");

    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const QUrl nobody(QString("http://127.0.0.1:%1/version.json").arg(closed.serverPort()));
    closed.close();
    EXPECT_EQ(check(nobody, "1.0.0").title, "Vidora-1.0.0");
}

}  // namespace
}  // namespace vidora
