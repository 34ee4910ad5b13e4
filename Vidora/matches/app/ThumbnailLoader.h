// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "matches/Thumbnails.h"

namespace vidora {

// Pictures of movies for the match list, made on a worker thread of its own at a low priority and kept
// in the cache folder under their key's name (so a replaced or moved movie gets a new one). The most
// recent requests are served first, since they are the rows on screen; older ones beyond a few dozen
// are dropped and asked again when their rows show. Created and used on the GUI thread; `ready`
// arrives there.
class ThumbnailLoader final : public QObject {
    Q_OBJECT

public:
    static constexpr int width = 160;
    // What the cache folder may take.
    static constexpr std::uint64_t cacheLimit = 200'000'000;

    explicit ThumbnailLoader(QString cacheFolder, QObject* parent = nullptr);
    ~ThumbnailLoader() override;

    void request(const ThumbnailKey& key, double seconds);

signals:
    // The picture made for `key`, or a null image and why there is none.
    void ready(const vidora::ThumbnailKey& key, const QImage& picture, const QString& problem);

private:
    struct Request {
        ThumbnailKey key;
        double seconds = 0;
    };
    void work(const std::stop_token& stop);

    QString cacheFolder_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::vector<Request> requests_;  // newest last
    std::jthread worker_;
};

}  // namespace vidora
