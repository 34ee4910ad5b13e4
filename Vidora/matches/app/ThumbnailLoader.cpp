// SPDX-License-Identifier: GPL-3.0-or-later
#include "ThumbnailLoader.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <algorithm>

namespace vidora {

namespace {

// Requests kept waiting: about two screens of rows.
constexpr std::size_t pendingLimit = 48;

}  // namespace

ThumbnailLoader::ThumbnailLoader(QString cacheFolder, QObject* parent)
    : QObject(parent), cacheFolder_(std::move(cacheFolder)) {
    qRegisterMetaType<vidora::ThumbnailKey>("vidora::ThumbnailKey");
    QDir().mkpath(cacheFolder_);
    worker_ = std::jthread([this](const std::stop_token& stop) { work(stop); });
}

ThumbnailLoader::~ThumbnailLoader() {
    worker_.request_stop();
    wake_.notify_all();
}

void ThumbnailLoader::request(const ThumbnailKey& key, double seconds) {
    {
        const std::scoped_lock lock(mutex_);
        std::erase_if(requests_, [&key](const Request& request) { return request.key == key; });
        requests_.push_back({key, seconds});
        if (requests_.size() > pendingLimit) {
            requests_.erase(requests_.begin());
        }
    }
    wake_.notify_one();
}

void ThumbnailLoader::work(const std::stop_token& stop) {
    // Pictures wait for the window, never the other way round.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
    int made = 0;
    while (!stop.stop_requested()) {
        Request next;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [this] { return !requests_.empty(); })) {
                return;
            }
            next = requests_.back();
            requests_.pop_back();
        }
        const QString file = cacheFolder_ + QLatin1Char('/') + QString::fromStdString(next.key.fileName());
        QImage image(file);
        QString problem;
        if (image.isNull()) {
            Picture picture = grabPicture(next.key.path, next.seconds, width);
            if (picture.problem.empty()) {
                image = QImage(picture.rgb.data(), picture.width, picture.height, picture.width * 3,
                               QImage::Format_RGB888)
                            .copy();
                image.save(file, "JPG", 85);
                if (++made % 50 == 1) {
                    trimCache(cacheFolder_.toStdString(), cacheLimit);
                }
            } else {
                problem = QString::fromStdString(picture.problem);
            }
        }
        QMetaObject::invokeMethod(
            this, [this, key = next.key, image, problem] { emit ready(key, image, problem); },
            Qt::QueuedConnection);
    }
}

}  // namespace vidora
