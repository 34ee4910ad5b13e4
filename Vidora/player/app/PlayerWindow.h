// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <vector>

#include "matches/MatchRow.h"

namespace vidora {

class MpvPlayer;
class MpvWidget;
class SeekBar;

// The player's window: the picture with its subtitles, the seek bar with the match's deaths and
// rounds, the sound tracks, the speed, and the match's events beside the picture. The keys are those
// of PlayerControls. What goes wrong (a movie that cannot be opened, one deleted while it plays) is
// said in the window's message line. GUI thread only.
class PlayerWindow final : public QWidget {
    Q_OBJECT

public:
    explicit PlayerWindow(QWidget* parent = nullptr);
    ~PlayerWindow() override;

    // Opens a movie and reads its record (else its subtitles) for the marks; starts playing.
    void open(const QString& movie);

    MpvPlayer& player() { return *player_; }
    SeekBar& seekBar() { return *seekBar_; }
    QListWidget& events() { return *events_; }
    QCheckBox& microphone() { return *microphone_; }
    QString message() const { return message_->text(); }
    const std::vector<TimelineMark>& marks() const { return marks_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool handleKey(QKeyEvent* event);
    void showPosition();
    void showSound();
    void setSpeed(double speed);
    void say(const QString& text);

    MpvPlayer* player_;
    QWidget* picture_;
    std::function<bool()> renderReady_;
    SeekBar* seekBar_;
    QPushButton* playButton_;
    QLabel* time_;
    QComboBox* speed_;
    QCheckBox* gameSound_;
    QCheckBox* microphone_;
    QListWidget* events_;
    QLabel* message_;
    QFileSystemWatcher movieWatch_;
    QString movie_;
    std::vector<TimelineMark> marks_;
};

}  // namespace vidora
