// SPDX-License-Identifier: GPL-3.0-or-later
#include "wayland/ScreenCastPortal.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <system_error>

#include "common/Folders.h"

namespace vidora {
namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString screenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
constexpr uint monitorSource = 1;
constexpr std::uint32_t hiddenCursor = 1;
constexpr std::uint32_t embeddedCursor = 2;
constexpr uint persistUntilRevoked = 2;
// A portal that does not answer a call at all is broken; the person's answer has no such limit.
constexpr int callTimeout = 25000;

std::atomic<int> connectionCount{0};

// A display's token file is named by where the display lies, which the X server and the portal agree on.
std::optional<std::filesystem::path> tokenPath(const std::optional<std::filesystem::path>& folder,
                                               const Rect& monitor) {
    if (!folder) {
        return std::nullopt;
    }
    return *folder / (std::to_string(monitor.width) + "x" + std::to_string(monitor.height) + "+" +
                      std::to_string(monitor.x) + "+" + std::to_string(monitor.y));
}

QString readToken(const std::optional<std::filesystem::path>& file) {
    std::string token;
    if (file) {
        std::ifstream(*file) >> token;
    }
    return QString::fromStdString(token);
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

// The first stream of Start's "streams" (an array of node and properties), with where its monitor lies
// where the portal says so.
struct PortalStream {
    uint node = 0;
    StreamPlace place;
};

std::optional<std::pair<int, int>> pairOf(const QVariant& value) {
    if (!value.canConvert<QDBusArgument>()) {
        return std::nullopt;
    }
    const QDBusArgument argument = value.value<QDBusArgument>();
    int first = 0;
    int second = 0;
    argument.beginStructure();
    argument >> first >> second;
    argument.endStructure();
    return std::pair(first, second);
}

std::optional<PortalStream> firstStream(const QVariant& streams) {
    const QDBusArgument argument = streams.value<QDBusArgument>();
    if (argument.currentType() != QDBusArgument::ArrayType) {
        return std::nullopt;
    }
    std::optional<PortalStream> first;
    argument.beginArray();
    while (!argument.atEnd()) {
        PortalStream stream;
        QVariantMap properties;
        argument.beginStructure();
        argument >> stream.node >> properties;
        argument.endStructure();
        if (!first) {
            stream.place.position = pairOf(properties.value(QStringLiteral("position")));
            stream.place.size = pairOf(properties.value(QStringLiteral("size")));
            first = stream;
        }
    }
    argument.endArray();
    return first;
}

}  // namespace

std::optional<std::uint32_t> cursorModeFor(std::uint32_t available) {
    if ((available & embeddedCursor) != 0) {
        return embeddedCursor;
    }
    return (available & hiddenCursor) != 0 ? std::optional(hiddenCursor) : std::nullopt;
}

bool showsOnly(const StreamPlace& place, const Rect& monitor, const std::vector<Rect>& monitors) {
    // The scale is the chosen monitor's: another monitor's picture hardly lies where that scale puts it.
    const double scale =
        place.size && place.size->first > 0 ? static_cast<double>(monitor.width) / place.size->first : 1;
    const auto near = [scale](int value, int pixels) { return std::abs(value * scale - pixels) <= 1; };
    const auto sized = [&](const Rect& other) {
        return !place.size ||
               (near(place.size->first, other.width) && near(place.size->second, other.height));
    };
    const auto placed = [&](const Rect& other) {
        return near(place.position->first, other.x) && near(place.position->second, other.y) && sized(other);
    };
    std::vector<Rect> candidates;
    if (place.position) {
        std::ranges::copy_if(monitors, std::back_inserter(candidates), placed);
    }
    if (candidates.empty()) {
        std::ranges::copy_if(monitors, std::back_inserter(candidates), sized);
    }
    return candidates.size() == 1 && candidates.front() == monitor;
}

// The portal's side of one session, living on the portal's own thread: every exchange runs there,
// waiting in a nested event loop that an answer, a finished call or cancel() ends.
class PortalSession : public QObject {
    Q_OBJECT
public:
    // On the portal's thread.
    bool open(const Rect& monitor, const std::vector<Rect>& monitors,
              const std::optional<std::filesystem::path>& tokenFolder);
    void close();

    // Any thread.
    void cancel() {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
        if (waiting_) {
            QMetaObject::invokeMethod(waiting_, &QEventLoop::quit, Qt::QueuedConnection);
        }
    }
    void onClosed(std::function<void()> closed) {
        const std::lock_guard lock(mutex_);
        closed_ = std::move(closed);
    }

    std::string why;
    std::atomic<bool> unanswered = false;
    int remote = -1;
    uint node = 0;

public Q_SLOTS:
    void respond(uint answer, const QVariantMap& results) {
        answer_ = answer;
        results_ = results;
        wake();
    }
    void sessionClosed(const QVariantMap&) {
        std::function<void()> closed;
        {
            const std::lock_guard lock(mutex_);
            closed = closed_;
        }
        if (closed) {
            closed();
        }
    }
    void wake() {
        if (waiting_) {
            waiting_->quit();
        }
    }

private:
    bool waitFor(const std::function<bool()>& done);
    std::optional<QDBusMessage> call(const QString& path, const QString& interface, const QString& method,
                                     const QVariantList& arguments);
    std::optional<QVariantMap> request(const QString& method, QVariantList arguments, QVariantMap options);
    std::optional<PortalStream> start(const QString& token, std::optional<std::uint32_t> cursor,
                                      QVariantMap& results);
    void closeSession();

    QDBusConnection bus_{QString()};
    QString connectionName_;
    QString sender_;
    QString session_;
    int requests_ = 0;
    std::optional<uint> answer_;
    QVariantMap results_;

    std::mutex mutex_;
    bool cancelled_ = false;
    QEventLoop* waiting_ = nullptr;  // set and cleared on the portal's thread under mutex_
    std::function<void()> closed_;
};

bool PortalSession::waitFor(const std::function<bool()>& done) {
    QEventLoop loop;
    {
        const std::lock_guard lock(mutex_);
        if (cancelled_) {
            return false;
        }
        waiting_ = &loop;
    }
    bool cancelled = false;
    while (!cancelled && !done()) {
        loop.exec();
        const std::lock_guard lock(mutex_);
        cancelled = cancelled_;
    }
    const std::lock_guard lock(mutex_);
    waiting_ = nullptr;
    return !cancelled;
}

// A method call whose reply is waited for as cancellably as an answer; nothing when cancelled.
std::optional<QDBusMessage> PortalSession::call(const QString& path, const QString& interface,
                                                const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(portalService, path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = bus_.asyncCall(message, callTimeout);
    QDBusPendingCallWatcher watcher(pending);
    connect(&watcher, &QDBusPendingCallWatcher::finished, this, &PortalSession::wake);
    if (!waitFor([&] { return pending.isFinished(); })) {
        return std::nullopt;
    }
    return pending.reply();
}

// Calls a method that answers through a request object; its results, or nothing with `why` said.
std::optional<QVariantMap> PortalSession::request(const QString& method, QVariantList arguments,
                                                  QVariantMap options) {
    const QString token = QStringLiteral("vidora%1").arg(++requests_);
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender_, token);
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    answer_.reset();
    // Subscribed before the call, so an early answer is not missed.
    bus_.connect(portalService, path, requestInterface, QStringLiteral("Response"), this,
                 SLOT(respond(uint, QVariantMap)));
    const auto reply = call(portalPath, screenCast, method, arguments);
    if (!reply) {
        why = "stopped before the portal answered";
    } else if (reply->type() == QDBusMessage::ErrorMessage) {
        why = method.toStdString() + " failed: " + reply->errorMessage().toStdString();
    } else if (!waitFor([&] { return answer_.has_value(); })) {
        why = "stopped before the desktop answered";
        // The person is asked in SelectSources (xdg-desktop-portal-wlr's chooser) or Start (GNOME's dialog).
        unanswered = method != QStringLiteral("CreateSession");
        // Takes the desktop's dialog away with the request.
        bus_.asyncCall(
            QDBusMessage::createMethodCall(portalService, path, requestInterface, QStringLiteral("Close")));
    } else if (*answer_ != 0) {
        why = method.toStdString() + (*answer_ == 1 ? " was cancelled" : " was refused");
    }
    bus_.disconnect(portalService, path, requestInterface, QStringLiteral("Response"), this,
                    SLOT(respond(uint, QVariantMap)));
    if (!reply || reply->type() == QDBusMessage::ErrorMessage || answer_.value_or(1) != 0) {
        return std::nullopt;
    }
    return results_;
}

// One session from its creation to its start: the stream it shows, with Start's results.
std::optional<PortalStream> PortalSession::start(const QString& token, std::optional<std::uint32_t> cursor,
                                                 QVariantMap& results) {
    const QString sessionToken = QStringLiteral("vidorasession%1").arg(requests_);
    const auto created = request(QStringLiteral("CreateSession"), {},
                                 {{QStringLiteral("session_handle_token"), sessionToken}});
    session_ = created ? created->value(QStringLiteral("session_handle")).toString() : QString();
    if (session_.isEmpty()) {
        return std::nullopt;
    }
    // Subscribed before Start, so a session the desktop ends at once is seen ended.
    bus_.connect(portalService, session_, sessionInterface, QStringLiteral("Closed"), this,
                 SLOT(sessionClosed(QVariantMap)));
    QVariantMap choice{{QStringLiteral("types"), monitorSource},
                       {QStringLiteral("multiple"), false},
                       {QStringLiteral("persist_mode"), persistUntilRevoked}};
    if (cursor) {
        choice.insert(QStringLiteral("cursor_mode"), *cursor);
    }
    if (!token.isEmpty()) {
        choice.insert(QStringLiteral("restore_token"), token);
    }
    const QDBusObjectPath sessionPath(session_);
    if (!request(QStringLiteral("SelectSources"), {QVariant::fromValue(sessionPath)}, choice)) {
        return std::nullopt;
    }
    const auto started = request(QStringLiteral("Start"), {QVariant::fromValue(sessionPath), QString()}, {});
    if (!started) {
        return std::nullopt;
    }
    results = *started;
    auto stream = firstStream(started->value(QStringLiteral("streams")));
    if (!stream) {
        why = "Start gave no stream";
    }
    return stream;
}

bool PortalSession::open(const Rect& monitor, const std::vector<Rect>& monitors,
                         const std::optional<std::filesystem::path>& tokenFolder) {
    connectionName_ = QStringLiteral("vidora-screencast-%1").arg(++connectionCount);
    bus_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_);
    if (!bus_.isConnected()) {
        why = "no session bus";
        return false;
    }
    sender_ = bus_.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    // Whether the desktop casts screens at all, and whether it can draw the cursor in.
    const auto modes = call(portalPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("Get"), {screenCast, QStringLiteral("AvailableCursorModes")});
    if (!modes) {
        why = "stopped before the portal answered";
        return false;
    }
    if (modes->type() == QDBusMessage::ErrorMessage) {
        why = "the desktop offers no screen casting (" + modes->errorMessage().toStdString() + ")";
        return false;
    }
    const uint available = modes->arguments().value(0).value<QDBusVariant>().variant().toUInt();
    const auto cursor = cursorModeFor(available);

    const auto tokenFile = tokenPath(tokenFolder, monitor);
    const QString token = readToken(tokenFile);
    QVariantMap results;
    auto stream = start(token, cursor, results);
    if (stream && !token.isEmpty() && !showsOnly(stream->place, monitor, monitors)) {
        // The kept choice shows another monitor now (they were rearranged), or may: the person chooses
        // again, which takes a session of its own.
        std::clog << "Vidora: the kept screen-share choice may show another monitor; asking again"
                  << std::endl;
        closeSession();
        stream = start(QString(), cursor, results);
    }
    if (!stream) {
        return false;
    }
    // The newest token is kept every time: a portal may hand out a new one on each start.
    storeToken(tokenFile, results.value(QStringLiteral("restore_token")).toString());
    const auto reply = call(portalPath, screenCast, QStringLiteral("OpenPipeWireRemote"),
                            {QVariant::fromValue(QDBusObjectPath(session_)), QVariantMap()});
    if (!reply) {
        why = "stopped before the portal answered";
        return false;
    }
    const auto descriptor = reply->arguments().value(0).value<QDBusUnixFileDescriptor>();
    remote = descriptor.isValid() ? ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
    if (remote < 0) {
        why = "OpenPipeWireRemote failed: " + reply->errorMessage().toStdString();
        return false;
    }
    node = stream->node;
    return true;
}

void PortalSession::closeSession() {
    if (session_.isEmpty()) {
        return;
    }
    bus_.disconnect(portalService, session_, sessionInterface, QStringLiteral("Closed"), this,
                    SLOT(sessionClosed(QVariantMap)));
    // Not waited for: a portal that hangs must hold up neither a stop nor the next question, and cancel()
    // could not end the wait. A session whose Close is lost ends with the connection.
    bus_.send(
        QDBusMessage::createMethodCall(portalService, session_, sessionInterface, QStringLiteral("Close")));
    session_.clear();
}

void PortalSession::close() {
    closeSession();
    if (remote >= 0) {
        ::close(std::exchange(remote, -1));
    }
    if (!connectionName_.isEmpty()) {
        bus_ = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(connectionName_);
    }
}

ScreenCastPortal::ScreenCastPortal() : thread_(std::make_unique<QThread>()), session_(new PortalSession) {
    thread_->setObjectName(QStringLiteral("vidora-portal"));
    session_->moveToThread(thread_.get());
}

ScreenCastPortal::~ScreenCastPortal() {
    session_->cancel();
    close();
    delete session_;
}

void ScreenCastPortal::close() {
    if (thread_->isRunning()) {
        QMetaObject::invokeMethod(
            session_, [this] { session_->close(); }, Qt::BlockingQueuedConnection);
        thread_->quit();
        thread_->wait();
    }
}

bool ScreenCastPortal::open(const Rect& monitor, const std::vector<Rect>& monitors,
                            const std::optional<std::filesystem::path>& tokenFolder, std::string& why) {
    // QtDBus delivers answers through the receiver's event loop: the portal's own thread runs one, so
    // whatever thread calls here, the main thread included, is never needed for the answer.
    if (!QCoreApplication::instance()) {
        why = "no Qt application to talk to the bus with";
        return false;
    }
    if (thread_->isRunning()) {
        why = "the session was opened before";
        return false;
    }
    thread_->start();
    bool opened = false;
    QMetaObject::invokeMethod(
        session_, [&] { opened = session_->open(monitor, monitors, tokenFolder); },
        Qt::BlockingQueuedConnection);
    why = session_->why;
    return opened;
}

void ScreenCastPortal::cancel() {
    session_->cancel();
}

bool ScreenCastPortal::wasUnanswered() const {
    return session_->unanswered;
}

void ScreenCastPortal::onClosed(std::function<void()> closed) {
    session_->onClosed(std::move(closed));
}

int ScreenCastPortal::takeRemote() {
    return std::exchange(session_->remote, -1);
}

std::uint32_t ScreenCastPortal::node() const {
    return session_->node;
}

std::optional<std::filesystem::path> ScreenCastPortal::tokenFolder() {
    const auto folder = tavrin::getStatePath("/vidora/screencast");
    return folder ? std::optional<std::filesystem::path>(*folder) : std::nullopt;
}

}  // namespace vidora

#include "ScreenCastPortal.moc"
