// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdlib>
#include <memory>
#include <vector>

#include "UpdateCheck.h"

namespace vidora {
namespace {

// A loopback web server that answers each request with `opening`, then every 20 ms with what `more`
// gives for the bytes it has sent after the opening (nothing: silence).
class Server {
public:
    explicit Server(const QByteArray& opening, std::function<QByteArray(qint64)> more = {}) {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this, opening, more] {
            QTcpSocket* socket = server_.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket, opening, more] {
                if (!socket->readAll().contains("\r\n\r\n")) {
                    return;
                }
                socket->write(opening);
                auto* pace = new QTimer(socket);
                QObject::connect(pace, &QTimer::timeout, socket, [this, socket, more] {
                    // Streamed: never more than a little waits in the socket.
                    if (more && socket->state() == QAbstractSocket::ConnectedState &&
                        socket->bytesToWrite() < (1 << 20)) {
                        sent += socket->write(more(sent));
                    }
                });
                pace->start(20);
            });
        });
    }
    QUrl url() const { return QUrl(QString("http://127.0.0.1:%1/version.json").arg(server_.serverPort())); }

    qint64 sent = 0;

private:
    QTcpServer server_;
};

const QByteArray headers = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n";

QByteArray response(const QByteArray& body, const QByteArray& headerLines = headers) {
    return headerLines + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray answer(const QString& version, const QString& url = "https://tavrinworks.net/download") {
    return QString(R"({"title": "Vidora", "version": "%1", "url": "%2"})").arg(version, url).toUtf8();
}

// One check by version 1.1.9 in a window of its own: the alerts it showed, and what it opened.
struct Check {
    explicit Check(const QUrl& versionFile)
        : checker(std::make_unique<UpdateCheck>(versionFile, "1.1.9",
                                                [this](const QUrl& url) { opened.push_back(url); })) {
        QObject::connect(checker.get(), &UpdateCheck::finished, [this] { finished = true; });
        checker->checkVersion(&window);
    }
    // Runs the event loop, beside a 20 ms timer, until the check is over or for at most `timeout` ms,
    // pressing `choice` on each alert; whether the check ended.
    bool run(int timeout, const QString& choice = "Close") {
        QElapsedTimer clock, sinceTick;
        clock.start();
        sinceTick.start();
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, sinceTick.restart());
            if (auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                alerts.push_back(alert->informativeText());
                for (QAbstractButton* button : alert->buttons()) {
                    if (button->text() == choice) {
                        button->click();
                    }
                }
            }
        });
        tick.start(20);
        while (!finished && clock.elapsed() < timeout) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return finished;
    }

    QStringList alerts;
    std::vector<QUrl> opened;
    QWidget window;
    std::unique_ptr<UpdateCheck> checker;
    bool finished = false;
    qint64 longestGap = 0;
};

TEST(UpdateCheck, AnswersAndWhatTheyShow) {
    const QUrl download("https://tavrinworks.net/download");
    const struct {
        QByteArray response;
        bool marked;
        bool alerted = false;
        std::vector<QUrl> opened = {};
        QString choice = "Download";
    } cases[] = {
        // A newer version: the alert, and its download only when chosen and only a web address.
        {response(answer("1.2.0")), true, true, {download}},
        {response(answer("1.2.0")), true, true, {}, "Close"},
        {response(answer("1.2.0", "file:///etc/passwd")), true, true},
        // The same, an older or an odd version only marks the title.
        {response(answer("1.1.9")), true},
        {response(answer("0.9.99")), true},
        {response(answer("1.2.x")), true},
        // No usable answer leaves the title as it is.
        {response(R"({"version": "1.2.0", "url": "https://a.b/"})"), false},
        {response(R"({"title": "t", "version": 10200, "url": "https://a.b/"})"), false},
        {response(R"({"title": "t", "version": "1.2.0"})"), false},
        {response(R"([{"title": "t", "version": "1.2.0", "url": "https://a.b/"}])"), false},
        {response("not json"), false},
        {response(answer("1.2.0"), "HTTP/1.1 404 Not Found\r\n"), false},
        {response(answer("1.2.0") + QByteArray(UpdateCheck::maximumAnswer, ' ')), false},  // beyond 1 MiB
    };
    for (const auto& [served, marked, alerted, opened, choice] : cases) {
        SCOPED_TRACE(served.left(120).toStdString());
        Server server(served);
        Check check(server.url());
        EXPECT_TRUE(check.run(15'000, choice));
        EXPECT_EQ(check.window.windowTitle(), marked ? "Vidora-1.1.9*" : "Vidora-1.1.9");
        EXPECT_EQ(check.alerts,
                  alerted ? QStringList{"A new version 1.2.0 has been detected."} : QStringList());
        EXPECT_EQ(check.opened, opened);
    }
}

// A server that takes the request and never answers: the loop runs on, the headers are given up on
// after five seconds, and a check can go while its request waits.
TEST(UpdateCheck, SilentServer) {
    Server server{QByteArray()};
    Check gone(server.url());
    Check waiting(server.url());
    EXPECT_FALSE(waiting.run(1'000));
    gone.checker.reset();
    EXPECT_TRUE(waiting.run(10'000));
    EXPECT_EQ(waiting.window.windowTitle(), "Vidora-1.1.9");
    EXPECT_LT(waiting.longestGap, 500);
}

// A valid answer padded with blanks without end is cut off soon after the size limit (at 32 KiB every
// 20 ms, 100 MiB would take a minute).
TEST(UpdateCheck, EndlessAnswerIsCutOff) {
    Server flood(headers + "\r\n" + answer("1.1.9"),
                 [](qint64 sent) { return sent < (100 << 20) ? QByteArray(32 << 10, ' ') : QByteArray(); });
    Check check(flood.url());
    ASSERT_TRUE(check.run(30'000));
    EXPECT_EQ(check.window.windowTitle(), "Vidora-1.1.9");
    EXPECT_LT(flood.sent, 4 * UpdateCheck::maximumAnswer);
}

}  // namespace
}  // namespace vidora

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
