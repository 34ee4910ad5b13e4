#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
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
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket, opening, more] {
                    if (!socket->readAll().contains("\r\n\r\n")) {
                        return;
                    }
                    ++requests;
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
            }
        });
    }
    QUrl url() const { return QUrl(QString("http://127.0.0.1:%1/version.json").arg(server_.serverPort())); }

    int requests = 0;
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

// Checks of one checker of version 1.1.9 with a window of their own: what they alerted (each alert's
// texts and buttons) and opened.
struct Check {
    explicit Check(const QUrl& versionFile, int count = 1)
        : checker(std::make_unique<UpdateCheck>(versionFile, "1.1.9",
                                                [this](const QUrl& url) { opened.push_back(url); })),
          checks(count) {
        QObject::connect(checker.get(), &UpdateCheck::finished, [this] { ++finished; });
        for (int i = 0; i < checks; ++i) {
            checker->checkVersion(&window);
        }
    }
    // Runs the event loop until the checks are over or for at most `timeout` ms, answering each alert
    // with `choice`, with a 20 ms timer beside it; whether they ended.
    bool run(int timeout, const QString& choice = "Close") {
        QElapsedTimer clock, sinceTick;
        clock.start();
        sinceTick.start();
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, sinceTick.restart());
            if (auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                QStringList texts{alert->text(), alert->informativeText()};
                for (QAbstractButton* button : alert->buttons()) {
                    texts << button->text();
                }
                alerts.push_back(texts);
                alert->buttons()[texts.indexOf(choice) - 2]->click();
            }
        });
        tick.start(20);
        while (finished < checks && clock.elapsed() < timeout) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return finished == checks;
    }

    std::vector<QStringList> alerts;
    std::vector<QUrl> opened;
    QWidget window;
    std::unique_ptr<UpdateCheck> checker;
    int checks;
    int finished = 0;
    qint64 longestGap = 0;
};

TEST(UpdateCheck, AnswersAndWhatTheyShow) {
    const QStringList alert{"Notification", "A new version 1.2.0 has been detected.", "Close", "Download"};
    const QUrl download("https://tavrinworks.net/download");
    const struct {
        QByteArray response;
        bool marked;
        int alerts = 0;
        std::vector<QUrl> opened = {};
        QString choice = "Download";
    } cases[] = {
        // A newer version: the alert, and its download only when chosen.
        {response(answer("1.2.0")), true, 1, {download}},
        {response(answer("1.2.0")), true, 1, {}, "Close"},
        // Only web addresses are opened.
        {response(answer("1.2.0", "file:///etc/passwd")), true, 1},
        {response(answer("1.2.0", "javascript:x")), true, 1},
        {response(answer("1.2.0", "http://[bad")), true, 1},
        {response(answer("1.2.0", "")), true, 1},
        // The same, an older or an odd version only marks the title.
        {response(answer("1.1.9")), true},
        {response(answer("1.1.8")), true},
        {response(answer("0.9.99")), true},
        {response(answer("1.2")), true},
        {response(answer("1.2.x")), true},
        {response(answer("2.0.0.0")), true},
        // No usable answer leaves the title as it is.
        {response(R"({"version": "1.2.0", "url": "https://a.b/"})"), false},
        {response(R"({"title": "t", "version": 10200, "url": "https://a.b/"})"), false},
        {response(R"({"title": "t", "version": "1.2.0"})"), false},
        {response(R"([{"title": "t", "version": "1.2.0", "url": "https://a.b/"}])"), false},
        {response("not json"), false},
        {response(""), false},
        {response(answer("1.2.0"), "HTTP/1.1 404 Not Found\r\n"), false},
        // A valid answer beyond the size limit is none.
        {response(answer("1.2.0") + QByteArray(UpdateCheck::maximumAnswer, ' ')), false},
    };
    for (const auto& [served, marked, alerts, opened, choice] : cases) {
        SCOPED_TRACE(served.left(120).toStdString());
        Server server(served);
        Check check(server.url());
        EXPECT_TRUE(check.run(15'000, choice));
        EXPECT_EQ(check.window.windowTitle(), marked ? "Vidora-1.1.9*" : "Vidora-1.1.9");
        EXPECT_EQ(check.alerts, std::vector(alerts, alert));
        EXPECT_EQ(check.opened, opened);
    }
    // One checker per launch, one alert at most.
    Server server(response(answer("1.2.0")));
    Check twice(server.url(), 2);
    EXPECT_TRUE(twice.run(15'000));
    EXPECT_EQ(twice.alerts.size(), 1u);
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    Check nobody(QString("http://127.0.0.1:%1/version.json").arg(closed.serverPort()));
    closed.close();
    EXPECT_TRUE(nobody.run(15'000));
    EXPECT_EQ(nobody.window.windowTitle(), "Vidora-1.1.9");
}

// A server that takes the request and never answers: the loop runs on, the headers are given up on
// after five seconds, and a check can go while its request waits.
TEST(UpdateCheck, SilentServer) {
    Server server{QByteArray()};
    Check gone(server.url());
    Check waiting(server.url());
    EXPECT_FALSE(waiting.run(1'000));
    EXPECT_EQ(server.requests, 2);
    gone.checker.reset();
    EXPECT_TRUE(waiting.run(10'000));
    EXPECT_EQ(waiting.window.windowTitle(), "Vidora-1.1.9");
    EXPECT_EQ(gone.window.windowTitle(), "Vidora-1.1.9");
    EXPECT_LT(waiting.longestGap, 500);
}

TEST(UpdateCheck, TrickledAnswerArrives) {
    const QByteArray served = response(answer("1.1.9"));
    // About two seconds: a hundred pieces, one every 20 ms.
    Server server({}, [&](qint64 sent) { return served.mid(sent, served.size() / 100 + 1); });
    Check check(server.url());
    ASSERT_TRUE(check.run(15'000));
    EXPECT_EQ(check.window.windowTitle(), "Vidora-1.1.9*");
}

// A valid answer padded with blanks without end, with and without its length: cut off soon after the
// size limit (at 32 KiB every 20 ms, the whole would take a minute).
TEST(UpdateCheck, EndlessAnswerIsCutOff) {
    constexpr qint64 flood = 100 << 20;
    for (const QByteArray& opening :
         {headers + "Content-Length: " + QByteArray::number(flood) + "\r\n\r\n" + answer("1.1.9"),
          headers + "\r\n" + answer("1.1.9")}) {
        Server server(opening,
                      [](qint64 sent) { return sent < flood ? QByteArray(32 << 10, ' ') : QByteArray(); });
        Check check(server.url());
        ASSERT_TRUE(check.run(30'000)) << opening.left(100).toStdString();
        EXPECT_EQ(check.window.windowTitle(), "Vidora-1.1.9");
        EXPECT_LT(server.sent, 4 * UpdateCheck::maximumAnswer);
    }
}

}  // namespace
}  // namespace vidora
