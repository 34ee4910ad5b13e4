// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlayerWindow.h"

#include <sys/stat.h>

#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QVBoxLayout>
#include <chrono>

#include "MpvPlayer.h"
#include "MpvSoftwareWidget.h"
#include "MpvWidget.h"
#include "SeekBar.h"
#include "capture/MovieLocations.h"
#include "player/PlayerControls.h"

namespace vidora {

namespace {

using Action = PlayerCommand::Action;

QString clock(double seconds) {
    return QString::fromStdString(MatchRow::formatLength(seconds));
}

QString seconds(double value) {
    return QString::number(value, 'f', 3);
}

// mpv's software renderer where OpenGL itself runs on the processor (Mesa's llvmpipe, softpipe or swrast,
// as without a graphics card or under Xvfb), or no OpenGL opens: there it keeps 1080p30 in real time where
// OpenGL drops frames. TAVRIN_PLAYER_PICTURE=software or opengl chooses by hand.
bool softwarePicture() {
    const QString chosen = qEnvironmentVariable("TAVRIN_PLAYER_PICTURE");
    if (chosen == QLatin1String("software") || chosen == QLatin1String("opengl")) {
        return chosen == QLatin1String("software");
    }
    QOpenGLContext context;
    QOffscreenSurface surface;
    surface.create();
    if (!context.create() || !context.makeCurrent(&surface)) {
        return true;
    }
    const auto* renderer = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    const QString name = QString::fromLatin1(renderer ? renderer : "").toLower();
    context.doneCurrent();
    return name.isEmpty() || name.contains(QLatin1String("llvmpipe")) ||
           name.contains(QLatin1String("softpipe")) || name.contains(QLatin1String("swrast")) ||
           name.contains(QLatin1String("software"));
}

MovieFile movieFile(const QString& path) {
    MovieFile file;
    file.path = path.toStdString();
    const std::string name = QFileInfo(path).fileName().toStdString();
    file.stamp = MovieLocations::isMovieName(name, "mp4") || MovieLocations::isMovieName(name, "mp0")
                     ? name.substr(0, MovieLocations::stampLength)
                     : QFileInfo(path).completeBaseName().toStdString();
    struct stat status {};
    if (::stat(file.path.c_str(), &status) == 0) {
        file.size = static_cast<std::uint64_t>(status.st_size);
        file.modified = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::seconds(status.st_mtim.tv_sec) +
                            std::chrono::nanoseconds(status.st_mtim.tv_nsec))
                            .count();
    }
    file.recording = path.endsWith(QLatin1String(".mp0"));
    return file;
}

}  // namespace

PlayerWindow::PlayerWindow(QWidget* parent)
    : QWidget(parent),
      player_(new MpvPlayer(this)),
      picture_(nullptr),
      seekBar_(new SeekBar(this)),
      playButton_(new QPushButton(QStringLiteral("Pause"), this)),
      time_(new QLabel(this)),
      speed_(new QComboBox(this)),
      gameSound_(new QCheckBox(QStringLiteral("Game sound"), this)),
      microphone_(new QCheckBox(QStringLiteral("Microphone"), this)),
      events_(new QListWidget(this)),
      message_(new QLabel(this)) {
    if (softwarePicture()) {
        auto* picture = new MpvSoftwareWidget(*player_, this);
        renderReady_ = [picture] { return picture->renderReady(); };
        picture_ = picture;
    } else {
        auto* picture = new MpvWidget(*player_, this);
        renderReady_ = [picture] { return picture->renderReady(); };
        // A movie opened before the window first showed is loaded once mpv can draw.
        connect(picture, &MpvWidget::becameReady, this, [this] {
            if (!movie_.isEmpty() && QFileInfo::exists(movie_) && !movie_.endsWith(QLatin1String(".mp0"))) {
                player_->load(movie_);
            }
        });
        picture_ = picture;
    }
    setWindowTitle(QStringLiteral("Player"));
    resize(1280, 760);
    picture_->setMinimumSize(320, 180);
    for (double speed : playerSpeeds) {
        speed_->addItem(QStringLiteral("%1x").arg(speed), speed);
    }
    speed_->setCurrentIndex(speed_->findData(1.0));
    gameSound_->setChecked(true);
    microphone_->setChecked(true);
    message_->setWordWrap(true);
    // The keys belong to the player, not to whichever control was clicked last.
    for (QWidget* control :
         std::initializer_list<QWidget*>{playButton_, speed_, gameSound_, microphone_, events_}) {
        control->setFocusPolicy(Qt::NoFocus);
    }
    picture_->installEventFilter(this);

    auto* controls = new QHBoxLayout;
    controls->addWidget(playButton_);
    controls->addWidget(time_);
    controls->addStretch(1);
    controls->addWidget(gameSound_);
    controls->addWidget(microphone_);
    controls->addWidget(speed_);
    auto* left = new QVBoxLayout;
    left->addWidget(picture_, 1);
    left->addWidget(seekBar_);
    left->addLayout(controls);
    left->addWidget(message_);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    events_->setFixedWidth(280);
    layout->addWidget(events_);

    connect(player_, &MpvPlayer::positionChanged, this, &PlayerWindow::showPosition);
    connect(player_, &MpvPlayer::lengthChanged, this, [this](double length) {
        seekBar_->setLength(length);
        showPosition();
    });
    connect(player_, &MpvPlayer::pausedChanged, this, [this](bool paused) {
        playButton_->setText(paused ? QStringLiteral("Play") : QStringLiteral("Pause"));
    });
    connect(player_, &MpvPlayer::speedChanged, this, [this](double speed) {
        const QSignalBlocker quiet(speed_);
        speed_->setCurrentIndex(std::max(0, speed_->findData(speed)));
    });
    connect(player_, &MpvPlayer::loaded, this, &PlayerWindow::showSound);
    connect(player_, &MpvPlayer::failed, this,
            [this](const QString& why) { say(QStringLiteral("This movie cannot be played: %1.").arg(why)); });
    connect(seekBar_, &SeekBar::seekRequested, this, [this](double to) {
        player_->command({QStringLiteral("seek"), seconds(to), QStringLiteral("absolute")});
    });
    connect(playButton_, &QPushButton::clicked, this, [this] {
        player_->command({QStringLiteral("cycle"), QStringLiteral("pause")});
    });
    connect(speed_, &QComboBox::currentIndexChanged, this,
            [this] { setSpeed(speed_->currentData().toDouble()); });
    for (QCheckBox* track : {gameSound_, microphone_}) {
        connect(track, &QCheckBox::toggled, this,
                [this] { player_->chooseSound(gameSound_->isChecked(), microphone_->isChecked()); });
    }
    connect(events_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        player_->command({QStringLiteral("seek"), seconds(item->data(Qt::UserRole).toDouble()),
                          QStringLiteral("absolute+exact")});
    });
    connect(&movieWatch_, &QFileSystemWatcher::fileChanged, this, [this] {
        if (!QFileInfo::exists(movie_)) {
            say(QStringLiteral(
                "The movie was deleted or moved while it played; it plays on until it is closed."));
        }
    });
    if (!player_->ready()) {
        say(QStringLiteral("The player could not be started."));
    }
}

PlayerWindow::~PlayerWindow() {
    // mpv's picture goes before mpv itself.
    delete picture_;
}

void PlayerWindow::open(const QString& movie) {
    const MovieFile file = movieFile(movie);
    message_->clear();
    if (!movie_.isEmpty()) {
        movieWatch_.removePath(movie_);
    }
    movie_ = movie;
    setWindowTitle(QFileInfo(movie).completeBaseName() + QStringLiteral(" - Player"));
    events_->clear();
    marks_.clear();
    seekBar_->setMatch(0, {});
    if (file.recording) {
        say(QStringLiteral("This match is still being recorded; it can be played once it has ended."));
        return;
    }
    if (!QFileInfo::exists(movie)) {
        say(QStringLiteral("The movie %1 is not there.").arg(movie));
        return;
    }
    movieWatch_.addPath(movie);
    const MatchRow summary = summarize(file);
    marks_ = summary.marks;
    seekBar_->setMatch(summary.length.value_or(0), marks_);
    for (const auto& mark : marks_) {
        auto* item = new QListWidgetItem(
            clock(mark.time) + QStringLiteral("  ") + QString::fromStdString(mark.label), events_);
        item->setData(Qt::UserRole, mark.time);
        if (mark.kind == TimelineMark::Kind::friendlyDeath) {
            item->setForeground(SeekBar::friendlyColour);
        } else if (mark.kind == TimelineMark::Kind::enemyDeath) {
            item->setForeground(SeekBar::enemyColour);
        }
    }
    if (!summary.note.empty()) {
        say(QString::fromStdString(summary.note));
    }
    if (renderReady_()) {
        player_->load(movie);
    }
    picture_->setFocus();
}

void PlayerWindow::say(const QString& text) {
    message_->setText(text);
}

void PlayerWindow::showPosition() {
    seekBar_->setPosition(player_->position());
    time_->setText(clock(player_->position()) + QStringLiteral(" / ") + clock(player_->length()));
}

void PlayerWindow::showSound() {
    const int tracks = player_->soundTracks();
    gameSound_->setEnabled(tracks >= 1);
    microphone_->setEnabled(tracks >= 2);
}

void PlayerWindow::setSpeed(double speed) {
    player_->set("speed", QString::number(speed));
}

bool PlayerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == picture_ && event->type() == QEvent::KeyPress &&
        handleKey(static_cast<QKeyEvent*>(event))) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
    if (!handleKey(event)) {
        QWidget::keyPressEvent(event);
    }
}

bool PlayerWindow::handleKey(QKeyEvent* event) {
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return false;
    }
    const auto command =
        commandForKey(QKeySequence(event->key()).toString(QKeySequence::PortableText).toStdString());
    if (!command) {
        return false;
    }
    const double now = player_->position();
    const auto seekTo = [this](std::optional<double> to) {
        if (to) {
            player_->command({QStringLiteral("seek"), seconds(*to), QStringLiteral("absolute+exact")});
        }
    };
    switch (command->action) {
        case Action::togglePause:
            player_->command({QStringLiteral("cycle"), QStringLiteral("pause")});
            break;
        case Action::seekBy:
            player_->command({QStringLiteral("seek"), seconds(command->seconds), QStringLiteral("relative")});
            break;
        case Action::stepFrame:
            player_->command(
                {command->seconds > 0 ? QStringLiteral("frame-step") : QStringLiteral("frame-back-step")});
            break;
        case Action::nextDeath:
            seekTo(nextDeath(marks_, now));
            break;
        case Action::previousDeath:
            seekTo(previousDeath(marks_, now));
            break;
        case Action::toStart:
            seekTo(0.0);
            break;
        case Action::toEnd:
            player_->command(
                {QStringLiteral("seek"), QStringLiteral("100"), QStringLiteral("absolute-percent+exact")});
            break;
        case Action::fullScreen:
            isFullScreen() ? showNormal() : showFullScreen();
            break;
        case Action::leaveFullScreen:
            if (isFullScreen()) {
                showNormal();
            }
            break;
        case Action::slower:
        case Action::faster:
            setSpeed(nextSpeed(player_->speed(), command->action == Action::faster ? 1 : -1));
            break;
        case Action::normalSpeed:
            setSpeed(1.0);
            break;
    }
    return true;
}

}  // namespace vidora
