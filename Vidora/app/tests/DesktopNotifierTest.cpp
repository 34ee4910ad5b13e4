// SPDX-License-Identifier: GPL-3.0-or-later
// The notifications on a session bus of the test's own, with a notification server and a file manager
// that only note what they are asked.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <filesystem>

#include "ChildProcess.h"
#include "DesktopNotifier.h"
#include "DesktopServices.h"
#include "FakeRecorder.h"
#include "ManualClock.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using tavrin::testing::waitUntil;

const std::string game = "com.blizzard.worldofwarcraft";

// org.freedesktop.Notifications and org.freedesktop.FileManager1 as far as the recorder uses them.
class FakeDesktop final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == "GetCapabilities") {
            connection.send(message.createReply(capabilities));
            return true;
        }
        calls.push_back(message);
        connection.send(message.member() == "Notify"
                            ? message.createReply(QVariant::fromValue(uint(calls.size())))
                            : message.createReply());
        return true;
    }
    std::vector<QDBusMessage> calls;
    QStringList capabilities{"actions", "body", "body-markup"};
};

bool answered(std::vector<QDBusMessage>& calls, std::size_t count) {
    return waitUntil(
        [&] {
            QCoreApplication::processEvents();
            return calls.size() >= count;
        },
        10s);
}

TEST(DesktopNotifier, ARecordedMatchIsShownInTheFileManagerAndAGameWithoutWindowIsTold) {
    tavrin::testing::TemporaryFolder folder;
    const std::string address = "unix:path=" + folder.file("bus");
    tavrin::testing::ChildProcess bus(
        {"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=" + address}, {});
    // The socket appears at bind, a moment before the daemon listens and answers Hello.
    ASSERT_TRUE(waitUntil(
        [&] {
            if (QDBusConnection::connectToBus(QString::fromStdString(address), "fake-desktop")
                    .isConnected()) {
                return true;
            }
            QDBusConnection::disconnectFromBus("fake-desktop");
            return false;
        },
        10s));
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    FakeDesktop desktop;
    QDBusConnection services("fake-desktop");
    for (const QString name : {"Notifications", "FileManager1"}) {
        ASSERT_TRUE(services.registerService("org.freedesktop." + name));
        ASSERT_TRUE(services.registerVirtualObject("/org/freedesktop/" + name, &desktop));
    }

    // The controller on fakes, its recordings told as the program tells them.
    testing::Seams seams;
    tavrin::testing::ManualClock clock;
    LogFiles commands{clock, seams.locations};
    QStringList watched;
    DesktopNotifier notifier(revealFile, [&watched](const QString& movie) { watched.append(movie); });
    auto platform = seams.platform(commands, clock);
    platform.screenNames = [] { return std::vector<std::string>{"Screen"}; };
    platform.recordingEnded = [&](const RecordingResult& result, bool byHand) {
        if (const auto notice = describeRecording(result, byHand)) {
            notifier.show(*notice);
        }
    };
    ContentView view(platform);
    seams.desktop.applications = {testing::app(game, "World of Warcraft")};
    view.searchApps({{7, 1920, 1080}}, ContentView::applicationEntries(seams.desktop));

    const std::string movies = seams.home.path() + "/Videos/TavrinMovies/";
    view.onNewCommands({"2025-03-07 21.04.07", "BID: " + game, "CMD: Start"});
    ASSERT_TRUE(waitUntil([&] { return seams.recorder.recording.load(); }, 5s));
    tavrin::testing::writeFile(movies + "2025-03-07 21.04.07.srt",
                               "1\r\n00:00:00,000 --> 00:00:02,000\r\nStart: Nagrand Arena\r\n\r\n"
                               "2\r\n00:03:03,000 --> 00:03:03,000\r\nArenaType: 3v3\r\n\r\n"
                               "3\r\n00:03:03,000 --> 00:03:03,000\r\nZoneName: Nagrand Arena\r\n\r\n");
    seams.recorder.result = RecordingResult{.movie = movies + "2025-03-07 21.04.07.mp4",
                                            .fileKept = true,
                                            .seconds = 183,
                                            .problem = std::nullopt,
                                            .target = {}};
    view.onNewCommands({"2025-03-07 21.04.07", "CMD: End"});
    ASSERT_TRUE(answered(desktop.calls, 1));
    const auto notify = desktop.calls[0].arguments();  // app, replaces, icon, summary, body, actions, ...
    EXPECT_EQ(notify.value(3).toString(), "3v3 in Nagrand Arena recorded");
    EXPECT_EQ(notify.value(5).toStringList(), (QStringList{"default", "Show in Files", "watch", "Watch"}));
    // The player clicks it: the file manager shows the movie.
    QDBusMessage click = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                    "org.freedesktop.Notifications", "ActionInvoked");
    click << uint(1) << QString("default");
    services.send(click);
    ASSERT_TRUE(answered(desktop.calls, 2));
    EXPECT_EQ(desktop.calls[1].member(), "ShowItems");
    EXPECT_EQ(desktop.calls[1].arguments().value(0).toStringList(),
              QStringList{"file://" + QString::fromStdString(movies) + "2025-03-07%2021.04.07.mp4"});
    // Watch plays it.
    QDBusMessage watch = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                    "org.freedesktop.Notifications", "ActionInvoked");
    watch << uint(1) << QString("watch");
    services.send(watch);
    ASSERT_TRUE(waitUntil(
        [&] {
            QCoreApplication::processEvents();
            return !watched.isEmpty();
        },
        10s));
    EXPECT_EQ(watched, QStringList{QString::fromStdString(movies) + "2025-03-07 21.04.07.mp4"});

    // The next match's game has no window: the player is told, and nothing is recorded.
    seams.desktop.applications.clear();
    view.searchApps({{7, 1920, 1080}}, ContentView::applicationEntries(seams.desktop));
    view.onNewCommands({"2025-03-07 21.10.00", "BID: " + game, "CMD: Start"});
    ASSERT_TRUE(answered(desktop.calls, 3));
    EXPECT_EQ(desktop.calls[2].arguments().value(4).toString(), "World of Warcraft has no window to record.");
    EXPECT_EQ(seams.recorder.starts.size(), 1U);
    EXPECT_FALSE(std::filesystem::exists(movies + "2025-03-07 21.10.00.mp0"));

    // A path in the body is escaped for a server that reads the body as markup, and only for one; the
    // summary is plain text to every server.
    const RecordingNotice notice{.title = "R&D <1>", .body = "in /R&D <1>/", .movie = std::nullopt};
    notifier.show(notice);
    ASSERT_TRUE(answered(desktop.calls, 4));
    desktop.capabilities = QStringList{"actions", "body"};
    notifier.show(notice);
    ASSERT_TRUE(answered(desktop.calls, 5));
    EXPECT_EQ(desktop.calls[3].arguments().value(3).toString(), "R&D <1>");
    EXPECT_EQ(desktop.calls[3].arguments().value(4).toString(), "in /R&amp;D &lt;1&gt;/");
    EXPECT_EQ(desktop.calls[4].arguments().value(4).toString(), "in /R&D <1>/");
    QDBusConnection::disconnectFromBus("fake-desktop");
}

}  // namespace
}  // namespace vidora
