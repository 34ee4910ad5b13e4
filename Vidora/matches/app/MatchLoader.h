// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "matches/MatchRow.h"

class QFileSystemWatcher;

namespace vidora {

// Lists the movies folder on a thread of its own, through the index in the cache, and follows the
// folder while it lives: a change (a match that ends, a file deleted outside) lists it again after a
// short pause, so a burst of changes costs one pass. The first pass hands its rows on in batches as
// they are ready; every pass ends with all rows. Created and used on the GUI thread; the callbacks
// are called there.
class MatchLoader final : public QObject {
    Q_OBJECT

public:
    struct Callbacks {
        std::function<void(std::vector<MatchRow>)> batch;
        std::function<void(std::vector<MatchRow>)> finished;
    };

    MatchLoader(std::string moviesFolder, std::string indexFile, Callbacks callbacks,
                QObject* parent = nullptr);
    ~MatchLoader() override;

    const std::string& moviesFolder() const { return moviesFolder_; }
    // Lists the folder again (after the pass in progress, if any).
    void reload();

private:
    void work(const std::stop_token& stop);
    void watch();

    std::string moviesFolder_;
    std::string indexFile_;
    Callbacks callbacks_;
    QFileSystemWatcher* watcher_;
    QTimer settle_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    bool wanted_ = true;
    std::jthread worker_;
};

}  // namespace vidora
