// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

struct mpv_handle;

namespace vidora {

// One libmpv player: the movie decoded (by the graphics card where it can, "hwdec=auto-safe"), its
// subtitles loaded from beside it, its picture drawn by an MpvWidget. mpv wakes the GUI thread through
// its wakeup callback and the events are read there; the position, length, pause and speed are
// observed, not polled; every command is sent without waiting for it. A movie that cannot be played
// is reported by `failed`, never by a stop. GUI thread only.
class MpvPlayer final : public QObject {
    Q_OBJECT

public:
    explicit MpvPlayer(QObject* parent = nullptr);
    ~MpvPlayer() override;

    mpv_handle* handle() const { return mpv_; }
    bool ready() const { return mpv_ != nullptr; }

    void load(const QString& movie);
    // An mpv command ("seek", "10", "relative") and a property set, both asynchronous.
    void command(const QStringList& words);
    void set(const char* property, const QString& value);
    // Plays both sound tracks, or the one heard, or none.
    void chooseSound(bool firstHeard, bool secondHeard);

    double position() const { return position_; }
    double length() const { return length_; }
    bool paused() const { return paused_; }
    double speed() const { return speed_; }
    int soundTracks() const { return soundTracks_; }
    // A property's value as text, asked of mpv at once; empty when it has none.
    QString property(const char* name) const;
    // mpv's own counts of the frames it dropped, at the output and in the decoder.
    qint64 droppedFrames() const;
    qint64 decoderDroppedFrames() const;

signals:
    void positionChanged(double seconds);
    void lengthChanged(double seconds);
    void pausedChanged(bool paused);
    void speedChanged(double speed);
    void loaded();
    // A seek or a load has landed and the picture plays (or stands) there.
    void restarted();
    void failed(const QString& why);

private:
    void readEvents();
    qint64 count(const char* property) const;

    mpv_handle* mpv_ = nullptr;
    double position_ = 0;
    double length_ = 0;
    bool paused_ = false;
    double speed_ = 1;
    int soundTracks_ = 0;
    bool firstHeard_ = true;
    bool secondHeard_ = true;
};

}  // namespace vidora
