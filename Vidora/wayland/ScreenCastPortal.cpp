#include "wayland/ScreenCastPortal.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace vidora {
namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString screenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
constexpr uint monitorSource = 1;
constexpr uint embeddedCursor = 2;
constexpr uint persistUntilRevoked = 2;

std::atomic<int> sessionCount{0};

std::string readToken(const std::optional<std::filesystem::path>& file) {
    std::string token;
    if (file) {
        std::ifstream(*file) >> token;
    }
    return token;
}

void storeToken(const std::optional<std::filesystem::path>& file, const QString& token) {
    if (!file || token.isEmpty()) {
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(file->parent_path(), error);
    const std::filesystem::path fresh = file->string() + ".new";
    std::ofstream(fresh, std::ios::trunc) << token.toStdString() << '\n';
    std::filesystem::rename(fresh, *file, error);
}

}  // namespace

// The answers of portal requests, which come as Response signals of a request object. Lives on the
// exchange's thread; its slot runs there, inside the loop that waits for it.
class PortalResponse : public QObject {
    Q_OBJECT
public:
    std::optional<uint> code;
    QVariantMap results;
    QEventLoop* waiting = nullptr;

public Q_SLOTS:
    void respond(uint answer, const QVariantMap& values) {
        code = answer;
        results = values;
        if (waiting) {
            waiting->quit();
        }
    }
};

namespace {

// One exchange with the portal, on the calling thread; every wait ends by the deadline.
class Exchange {
public:
    Exchange(QDBusConnection bus, QDeadlineTimer deadline) : bus_(std::move(bus)), deadline_(deadline) {
        sender_ = bus_.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    }

    // Calls a method that answers through a request object; its results, or nothing with `why` said.
    std::optional<QVariantMap> request(const QString& method, QVariantList arguments, QVariantMap options) {
        const QString token = QStringLiteral("vidora%1").arg(++requests_);
        const QString path =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender_, token);
        options.insert(QStringLiteral("handle_token"), token);
        arguments.append(options);
        PortalResponse response;
        // Subscribed before the call, so an early answer is not missed.
        bus_.connect(portalService, path, QStringLiteral("org.freedesktop.portal.Request"),
                     QStringLiteral("Response"), &response, SLOT(respond(uint, QVariantMap)));
        QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, screenCast, method);
        call.setArguments(arguments);
        const QDBusMessage reply = bus_.call(call, QDBus::Block, remaining());
        if (reply.type() == QDBusMessage::ErrorMessage) {
            why = method.toStdString() + " failed: " + reply.errorMessage().toStdString();
        } else {
            QEventLoop loop;
            response.waiting = &loop;
            QTimer::singleShot(remaining(), &loop, &QEventLoop::quit);
            loop.exec();
            if (!response.code) {
                why = method.toStdString() + " got no answer in time";
            } else if (*response.code != 0) {
                why = method.toStdString() + (*response.code == 1 ? " was cancelled" : " was refused");
            }
        }
        bus_.disconnect(portalService, path, QStringLiteral("org.freedesktop.portal.Request"),
                        QStringLiteral("Response"), &response, SLOT(respond(uint, QVariantMap)));
        if (!response.code || *response.code != 0) {
            return std::nullopt;
        }
        return response.results;
    }

    int remaining() const { return static_cast<int>(std::max<qint64>(deadline_.remainingTime(), 1)); }

    std::string why;

private:
    QDBusConnection bus_;
    QDeadlineTimer deadline_;
    QString sender_;
    int requests_ = 0;
};

// The first stream's node in Start's "streams" (an array of node and properties).
std::optional<std::uint32_t> firstNode(const QVariant& streams) {
    const QDBusArgument argument = streams.value<QDBusArgument>();
    if (argument.currentType() != QDBusArgument::ArrayType) {
        return std::nullopt;
    }
    std::optional<std::uint32_t> node;
    argument.beginArray();
    while (!argument.atEnd()) {
        uint id = 0;
        QVariantMap properties;
        argument.beginStructure();
        argument >> id >> properties;
        argument.endStructure();
        if (!node) {
            node = id;
        }
    }
    argument.endArray();
    return node;
}

}  // namespace

ScreenCastPortal::ScreenCastPortal(QString connectionName, QString session, int remote, std::uint32_t node)
    : connectionName_(std::move(connectionName)),
      session_(std::move(session)),
      remote_(remote),
      node_(node) {}

ScreenCastPortal::~ScreenCastPortal() {
    if (remote_ >= 0) {
        ::close(remote_);
    }
    QDBusConnection bus(connectionName_);
    if (!session_.isEmpty()) {
        bus.call(QDBusMessage::createMethodCall(portalService, session_,
                                                QStringLiteral("org.freedesktop.portal.Session"),
                                                QStringLiteral("Close")),
                 QDBus::Block, 2000);
    }
    QDBusConnection::disconnectFromBus(connectionName_);
}

int ScreenCastPortal::takeRemote() {
    return std::exchange(remote_, -1);
}

std::optional<std::filesystem::path> ScreenCastPortal::tokenFile() {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path folder;
    if (state && state[0] == '/') {
        folder = state;
    } else if (home && home[0] != '\0') {
        folder = std::filesystem::path(home) / ".local/state";
    } else {
        return std::nullopt;
    }
    return folder / "vidora" / "screencast-restore-token";
}

std::unique_ptr<ScreenCastPortal> ScreenCastPortal::open(
    const std::optional<std::filesystem::path>& tokenFile, std::chrono::milliseconds timeout,
    std::string& why) {
    if (!QCoreApplication::instance()) {
        why = "no Qt application to talk to the bus with";
        return nullptr;
    }
    const QString name = QStringLiteral("vidora-screencast-%1").arg(++sessionCount);
    const QDeadlineTimer deadline(timeout.count());
    std::unique_ptr<ScreenCastPortal> opened;
    // QtDBus delivers signals through the receiver's event loop: a thread of our own runs one, so
    // whatever thread calls here, the main loop included, is never needed for the answer.
    std::unique_ptr<QThread> thread(QThread::create([&] {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        if (!bus.isConnected()) {
            why = "no session bus";
            return;
        }
        Exchange exchange(bus, deadline);
        const auto created = exchange.request(
            QStringLiteral("CreateSession"), {},
            {{QStringLiteral("session_handle_token"), QStringLiteral("vidora%1").arg(sessionCount.load())}});
        const QString session =
            created ? created->value(QStringLiteral("session_handle")).toString() : QString();
        QVariantMap choice{{QStringLiteral("types"), monitorSource},
                           {QStringLiteral("multiple"), false},
                           {QStringLiteral("cursor_mode"), embeddedCursor},
                           {QStringLiteral("persist_mode"), persistUntilRevoked}};
        if (const std::string token = readToken(tokenFile); !token.empty()) {
            choice.insert(QStringLiteral("restore_token"), QString::fromStdString(token));
        }
        const QDBusObjectPath sessionPath(session);
        std::optional<QVariantMap> started;
        if (created &&
            exchange.request(QStringLiteral("SelectSources"), {QVariant::fromValue(sessionPath)}, choice)) {
            started =
                exchange.request(QStringLiteral("Start"), {QVariant::fromValue(sessionPath), QString()}, {});
        }
        why = exchange.why;
        std::optional<std::uint32_t> node;
        if (started) {
            // The newest token is kept every time: a portal may hand out a new one on each start.
            storeToken(tokenFile, started->value(QStringLiteral("restore_token")).toString());
            node = firstNode(started->value(QStringLiteral("streams")));
            if (!node) {
                why = "Start gave no stream";
            }
        }
        int remote = -1;
        if (node) {
            QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, screenCast,
                                                               QStringLiteral("OpenPipeWireRemote"));
            call.setArguments({QVariant::fromValue(sessionPath), QVariantMap()});
            const QDBusMessage reply = bus.call(call, QDBus::Block, exchange.remaining());
            const auto descriptor = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
            remote = descriptor.isValid() ? ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
            if (remote < 0) {
                why = "OpenPipeWireRemote failed: " + reply.errorMessage().toStdString();
            }
        }
        // Made even on failure, so the session is closed and the connection let go the one way.
        opened.reset(new ScreenCastPortal(name, session, remote, node.value_or(0)));
    }));
    thread->start();
    thread->wait();
    if (opened && opened->remote_ < 0) {
        opened.reset();
    }
    if (!opened && why.empty()) {
        why = "the portal exchange failed";
    }
    if (!opened) {
        QDBusConnection::disconnectFromBus(name);
    }
    return opened;
}

}  // namespace vidora

#include "ScreenCastPortal.moc"
