// SPDX-License-Identifier: GPL-3.0-or-later
#include "MpvPlayer.h"

#include <mpv/client.h>

#include <QMetaObject>
#include <clocale>
#include <iostream>
#include <vector>

#include "player/PlayerControls.h"

namespace vidora {

namespace {

enum Observed : std::uint64_t { positionId = 1, lengthId, pauseId, speedId };

}  // namespace

MpvPlayer::MpvPlayer(QObject* parent) : QObject(parent) {
    // libmpv refuses to start under a locale whose numbers are not written as C writes them.
    std::setlocale(LC_NUMERIC, "C");
    mpv_ = mpv_create();
    if (!mpv_) {
        return;
    }
    for (const auto& [name, value] : std::initializer_list<std::pair<const char*, const char*>>{
             {"vo", "libmpv"},
             {"hwdec", "auto-safe"},
             {"keep-open", "yes"},
             {"sub-auto", "exact"},
             {"input-default-bindings", "no"},
             {"input-vo-keyboard", "no"},
             {"osc", "no"},
             {"idle", "yes"},
             {"hr-seek", "yes"},
             // Without a sound device the picture still plays, timed by the clock.
             {"audio-fallback-to-null", "yes"},
             {"config", "no"}}) {
        mpv_set_option_string(mpv_, name, value);
    }
    if (mpv_initialize(mpv_) < 0) {
        mpv_terminate_destroy(mpv_);
        mpv_ = nullptr;
        return;
    }
    mpv_request_log_messages(mpv_, "warn");
    mpv_observe_property(mpv_, positionId, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv_, lengthId, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv_, pauseId, "pause", MPV_FORMAT_FLAG);
    mpv_observe_property(mpv_, speedId, "speed", MPV_FORMAT_DOUBLE);
    // Called on mpv's own thread: the events are read on the GUI thread.
    mpv_set_wakeup_callback(
        mpv_,
        [](void* player) {
            QMetaObject::invokeMethod(static_cast<MpvPlayer*>(player), &MpvPlayer::readEvents,
                                      Qt::QueuedConnection);
        },
        this);
}

MpvPlayer::~MpvPlayer() {
    if (mpv_) {
        mpv_set_wakeup_callback(mpv_, nullptr, nullptr);
        mpv_terminate_destroy(mpv_);
    }
}

void MpvPlayer::load(const QString& movie) {
    soundTracks_ = 0;
    command({QStringLiteral("loadfile"), movie});
    set("pause", QStringLiteral("no"));
}

void MpvPlayer::command(const QStringList& words) {
    if (!mpv_) {
        return;
    }
    std::vector<QByteArray> texts;
    for (const QString& word : words) {
        texts.push_back(word.toUtf8());
    }
    std::vector<const char*> arguments;
    for (const QByteArray& text : texts) {
        arguments.push_back(text.constData());
    }
    arguments.push_back(nullptr);
    mpv_command_async(mpv_, 0, arguments.data());
}

void MpvPlayer::set(const char* property, const QString& value) {
    if (!mpv_) {
        return;
    }
    const QByteArray text = value.toUtf8();
    const char* data = text.constData();
    mpv_set_property_async(mpv_, 0, property, MPV_FORMAT_STRING, &data);
}

void MpvPlayer::chooseSound(bool firstHeard, bool secondHeard) {
    firstHeard_ = firstHeard;
    secondHeard_ = secondHeard;
    if (soundTracks_ == 0) {
        return;  // chosen once the movie's tracks are known
    }
    const SoundChoice choice = vidora::soundChoice(soundTracks_, firstHeard, secondHeard);
    set("lavfi-complex", QString::fromStdString(choice.filterGraph));
    if (choice.filterGraph.empty()) {
        set("aid", QString::fromStdString(choice.track));
    }
}

qint64 MpvPlayer::count(const char* property) const {
    std::int64_t value = 0;
    return mpv_ && mpv_get_property(mpv_, property, MPV_FORMAT_INT64, &value) >= 0 ? value : 0;
}

QString MpvPlayer::property(const char* name) const {
    char* value = mpv_ ? mpv_get_property_string(mpv_, name) : nullptr;
    const QString text = QString::fromUtf8(value);
    mpv_free(value);
    return text;
}

qint64 MpvPlayer::droppedFrames() const {
    return count("frame-drop-count");
}

qint64 MpvPlayer::decoderDroppedFrames() const {
    return count("decoder-frame-drop-count");
}

void MpvPlayer::readEvents() {
    while (mpv_) {
        const mpv_event* event = mpv_wait_event(mpv_, 0);
        switch (event->event_id) {
            case MPV_EVENT_NONE:
                return;
            case MPV_EVENT_PROPERTY_CHANGE: {
                const auto* property = static_cast<const mpv_event_property*>(event->data);
                if (property->format == MPV_FORMAT_DOUBLE) {
                    const double value = *static_cast<const double*>(property->data);
                    if (event->reply_userdata == positionId) {
                        position_ = value;
                        emit positionChanged(value);
                    } else if (event->reply_userdata == lengthId) {
                        length_ = value;
                        emit lengthChanged(value);
                    } else if (event->reply_userdata == speedId) {
                        speed_ = value;
                        emit speedChanged(value);
                    }
                } else if (property->format == MPV_FORMAT_FLAG && event->reply_userdata == pauseId) {
                    paused_ = *static_cast<const int*>(property->data) != 0;
                    emit pausedChanged(paused_);
                }
                break;
            }
            case MPV_EVENT_FILE_LOADED: {
                std::int64_t tracks = 0;
                mpv_get_property(mpv_, "track-list/count", MPV_FORMAT_INT64, &tracks);
                soundTracks_ = 0;
                for (std::int64_t track = 0; track < tracks; ++track) {
                    char* type = mpv_get_property_string(
                        mpv_, ("track-list/" + std::to_string(track) + "/type").c_str());
                    soundTracks_ += type && std::string_view(type) == "audio" ? 1 : 0;
                    mpv_free(type);
                }
                chooseSound(firstHeard_, secondHeard_);
                emit loaded();
                break;
            }
            case MPV_EVENT_PLAYBACK_RESTART:
                emit restarted();
                break;
            case MPV_EVENT_END_FILE: {
                const auto* end = static_cast<const mpv_event_end_file*>(event->data);
                if (end->reason == MPV_END_FILE_REASON_ERROR) {
                    emit failed(QString::fromUtf8(mpv_error_string(end->error)));
                }
                break;
            }
            case MPV_EVENT_LOG_MESSAGE: {
                const auto* message = static_cast<const mpv_event_log_message*>(event->data);
                std::clog << "Vidora player: " << message->prefix << ": " << message->text << std::flush;
                break;
            }
            default:
                break;
        }
    }
}

}  // namespace vidora
