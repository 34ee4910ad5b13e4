// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace tavrin {

// Turns SIGTERM, SIGINT and SIGHUP into a normal quit of the Qt event loop: the signal handler only
// writes a byte to a socket pair, which the main thread reads. One instance per process.
class QuitSignals final : public QObject {
    Q_OBJECT

public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

signals:
    void quitRequested();

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tavrin
