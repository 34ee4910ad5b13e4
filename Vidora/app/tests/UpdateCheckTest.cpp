#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <fstream>
#include <memory>
#include <string>
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

// A loopback server that answers each request with `opening`, then every 20 ms with what `more`
// gives for the bytes it has sent after the opening (nothing: silence).
class PacedServer {
public:
    PacedServer(const QByteArray& opening, std::function<QByteArray(qint64)> more) {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this, opening, more] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket, opening, more] {
                    if (!socket->readAll().contains("\r\n\r\n")) {
                        return;
                    }
                    ++requests_;
                    socket->write(opening);
                    auto* pace = new QTimer(socket);
                    QObject::connect(pace, &QTimer::timeout, socket, [this, socket, more] {
                        // Streamed: never more than a little waits in the socket.
                        if (socket->state() == QAbstractSocket::ConnectedState &&
                            socket->bytesToWrite() < (1 << 20)) {
                            sent_ += socket->write(more(sent_));
                        }
                    });
                    pace->start(20);
                });
            }
        });
    }
    QUrl url() const { return QUrl(QString("http://127.0.0.1:%1/version.json").arg(server_.serverPort())); }
    int requests() const { return requests_; }
    qint64 sent() const { return sent_; }

private:
    QTcpServer server_;
    int requests_ = 0;
    qint64 sent_ = 0;
};

// The process's resident size ("VmRSS") or its peak since the last reset ("VmHWM"), in kB.
long memoryKilobytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field + ":")) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return 0;
}

// Runs the event loop until `done` or for at most `timeout` ms, with a 20 ms timer beside it; whether
// `done` came true, and the longest gap between the timer's ticks in `longestGap`.
bool runUntil(const std::function<bool()>& done, int timeout, qint64* longestGap = nullptr) {
    QElapsedTimer clock;
    QElapsedTimer sinceTick;
    clock.start();
    sinceTick.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        if (longestGap) {
            *longestGap = std::max(*longestGap, gap);
        }
    });
    tick.start(20);
    while (!done() && clock.elapsed() < timeout) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

const QByteArray headers = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n";

TEST(UpdateCheck, SilentServerNeitherBlocksNorMarksAndTheCheckCanGo) {
    PacedServer server({}, [](qint64) { return QByteArray(); });
    QWidget window;
    auto checker = std::make_unique<UpdateCheck>(server.url(), "1.0.0", [](const QUrl&) {});
    bool finished = false;
    QObject::connect(checker.get(), &UpdateCheck::finished, [&] { finished = true; });
    checker->checkVersion(&window);
    qint64 longestGap = 0;
    ASSERT_TRUE(runUntil([&] { return server.requests() == 1; }, 5'000, &longestGap));
    runUntil([] { return false; }, 1'000, &longestGap);
    EXPECT_FALSE(finished);
    EXPECT_EQ(window.windowTitle().toStdString(), "Vidora-1.0.0");
    EXPECT_LT(longestGap, 500);
    // Gone while the request waits: whatever the connection still delivers reaches no one.
    checker.reset();
    runUntil([] { return false; }, 300);
    EXPECT_EQ(window.windowTitle().toStdString(), "Vidora-1.0.0");
}

TEST(UpdateCheck, TrickledAnswerArrivesWhileTheLoopRuns) {
    const QByteArray response = headers + "Content-Length: " + QByteArray::number(answer("1.1.9").size()) +
                                "\r\n\r\n" + answer("1.1.9");
    // About two seconds: a hundred pieces, one every 20 ms.
    PacedServer server({}, [&](qint64 sent) { return response.mid(sent, response.size() / 100 + 1); });
    QWidget window;
    UpdateCheck checker(server.url(), "1.1.9", [](const QUrl&) {});
    bool finished = false;
    QObject::connect(&checker, &UpdateCheck::finished, [&] { finished = true; });
    checker.checkVersion(&window);
    qint64 longestGap = 0;
    ASSERT_TRUE(runUntil([&] { return finished; }, 15'000, &longestGap));
    EXPECT_EQ(window.windowTitle().toStdString(), "Vidora-1.1.9*");
    EXPECT_LT(longestGap, 500);
}

TEST(UpdateCheck, EndlessAnswerIsCutOffWithoutFillingMemory) {
    constexpr qint64 flood = 100 << 20;
#if defined(__SANITIZE_ADDRESS__)
    constexpr long growthLimitKilobytes = 48 << 10;  // AddressSanitizer holds freed memory back a while
#else
    constexpr long growthLimitKilobytes = 20 << 10;
#endif
    // A valid answer padded with blanks (only cutting it off keeps the title unmarked), with and
    // without its length; and headers that never end. At 32 KiB every 20 ms, what arrives in a given
    // time is the same on every machine.
    for (const QByteArray& opening :
         {headers + "Content-Length: " + QByteArray::number(flood) + "\r\n\r\n" + answer("1.0.0"),
          headers + "\r\n" + answer("1.0.0"), headers + "X-Padding: "}) {
        PacedServer server(
            opening, [](qint64 sent) { return sent < flood ? QByteArray(32 << 10, ' ') : QByteArray(); });
        QWidget window;
        UpdateCheck checker(server.url(), "1.0.0", [](const QUrl&) {});
        bool finished = false;
        QObject::connect(&checker, &UpdateCheck::finished, [&] { finished = true; });
        const long before = memoryKilobytes("VmRSS");
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
        checker.checkVersion(&window);
        ASSERT_TRUE(runUntil([&] { return finished; }, 30'000)) << opening.left(100).toStdString();
        EXPECT_EQ(window.windowTitle().toStdString(), "Vidora-1.0.0");
        EXPECT_LT(server.sent(), flood);
        EXPECT_LT(memoryKilobytes("VmHWM") - before, growthLimitKilobytes) << opening.left(100).toStdString();
    }
}

}  // namespace
}  // namespace vidora
