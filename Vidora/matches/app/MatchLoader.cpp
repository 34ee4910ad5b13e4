// SPDX-License-Identifier: GPL-3.0-or-later
#include "MatchLoader.h"

#include <QDir>
#include <QFileSystemWatcher>

#include "matches/MatchFolder.h"
#include "matches/MatchIndex.h"

namespace vidora {

namespace {

// The recorder writes a movie's fragments every two seconds and the proxy its files at a match's end:
// one pass after they settle.
constexpr int settleMilliseconds = 400;

}  // namespace

MatchLoader::MatchLoader(std::string moviesFolder, std::string indexFile, Callbacks callbacks,
                         QObject* parent)
    : QObject(parent),
      moviesFolder_(std::move(moviesFolder)),
      indexFile_(std::move(indexFile)),
      callbacks_(std::move(callbacks)),
      watcher_(new QFileSystemWatcher(this)) {
    settle_.setSingleShot(true);
    settle_.setInterval(settleMilliseconds);
    connect(&settle_, &QTimer::timeout, this, &MatchLoader::reload);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
        watch();  // a Kept folder made or removed since
        settle_.start();
    });
    watch();
    worker_ = std::jthread([this](const std::stop_token& stop) { work(stop); });
}

MatchLoader::~MatchLoader() {
    worker_.request_stop();
    wake_.notify_all();
    worker_ = {};  // joined before the callbacks go
}

void MatchLoader::reload() {
    {
        const std::scoped_lock lock(mutex_);
        wanted_ = true;
    }
    wake_.notify_one();
}

void MatchLoader::watch() {
    const QString folder = QString::fromStdString(moviesFolder_);
    for (const QString& path :
         {folder, folder + QStringLiteral("/") + QLatin1String(matchFolder::keptFolder)}) {
        if (!watcher_->directories().contains(path) && QDir(path).exists()) {
            watcher_->addPath(path);
        }
    }
}

void MatchLoader::work(const std::stop_token& stop) {
    MatchIndex index(indexFile_);
    bool first = true;
    while (!stop.stop_requested()) {
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [this] { return wanted_; })) {
                return;
            }
            wanted_ = false;
        }
        const auto post = [this](auto call, std::vector<MatchRow> rows) {
            QMetaObject::invokeMethod(
                this, [call, rows = std::move(rows)]() mutable { call(std::move(rows)); },
                Qt::QueuedConnection);
        };
        std::function<void(std::vector<MatchRow>)> batch;
        if (first && callbacks_.batch) {
            batch = [&](std::vector<MatchRow> rows) { post(callbacks_.batch, std::move(rows)); };
        }
        auto rows = index.rows(matchFolder::listMovies(moviesFolder_), batch);
        post(callbacks_.finished, std::move(rows));
        index.save();
        first = false;
    }
}

}  // namespace vidora
