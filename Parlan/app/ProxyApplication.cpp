// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProxyApplication.h"

#include <unistd.h>

#include <QScreen>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "RecorderSettings.h"
#include "common/ProxyStatus.h"

namespace parlan {

ProxyApplication::ProxyApplication(const tavrin::Workspace& work,
                                   const std::optional<std::string>& moviesPath,
                                   std::optional<std::string> statusFile)
    : statusFile_(std::move(statusFile)) {
    if (!moviesPath) {
        return;
    }
    parser_.emplace(*moviesPath, clock_);
    // The folder the player chose in the recorder's settings, read again at each match start.
    parser_->followMoviesFolder(tavrin::chosenMoviesFolder);
    logs_.emplace(*parser_, clock_);
    service_.emplace(work, *logs_, clock_, [this](std::string_view text) {
        keepStatus(text);
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

// Replaced whole, so the recorder never reads half a line.
void ProxyApplication::keepStatus(std::string_view text) const {
    std::clog << "Parlan: " << text << std::endl;
    if (!statusFile_) {
        return;
    }
    const std::string written = *statusFile_ + ".new";
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(*statusFile_).parent_path(), error);
    if (std::ofstream(written) << text << '\n') {
        std::filesystem::rename(written, *statusFile_, error);
    }
}

void ProxyApplication::quit() {
    stop();  // no status of the polling thread comes after the quit line
    keepStatus(tavrin::proxyQuitLine(::getpid()));
}

void ProxyApplication::stop() {
    clock_.interrupt();
    if (service_) {
        service_->stop();
    }
}

}  // namespace parlan
