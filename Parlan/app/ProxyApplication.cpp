// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProxyApplication.h"

#include <QScreen>

#include "RecorderSettings.h"

namespace parlan {

ProxyApplication::ProxyApplication(const tavrin::Workspace& work,
                                   const std::optional<std::string>& moviesPath) {
    if (!moviesPath) {
        return;
    }
    parser_.emplace(*moviesPath, clock_);
    // The folder the player chose in the recorder's settings, read again at each match start.
    parser_->followMoviesFolder(tavrin::chosenMoviesFolder);
    logs_.emplace(*parser_, clock_);
    service_.emplace(work, *logs_, clock_, [this](std::string_view text) {
        const QString status = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        QMetaObject::invokeMethod(
            &window_, [this, status] { window_.showStatus(status); }, Qt::QueuedConnection);
    });
}

ProxyApplication::~ProxyApplication() {
    stop();
}

void ProxyApplication::start(bool hidden) {
    if (hidden) {
        window_.setAttribute(Qt::WA_ShowWithoutActivating);
        window_.showMinimized();
    } else {
        if (const QScreen* screen = window_.screen()) {
            window_.move(screen->availableGeometry().center() - window_.rect().center());
        }
        window_.show();
    }
    if (service_) {
        service_->process();
    }
}

void ProxyApplication::stop() {
    clock_.interrupt();
    if (service_) {
        service_->stop();
    }
}

}  // namespace parlan
