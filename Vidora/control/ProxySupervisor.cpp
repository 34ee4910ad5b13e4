// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/ProxySupervisor.h"

#include <fstream>
#include <iostream>

#include "common/ProxyStatus.h"
#include "common/Text.h"

namespace vidora {

ProxySupervisor::ProxySupervisor(const tavrin::Workspace& work, tavrin::Clock& clock, Options options)
    : work_(work), clock_(clock), options_(std::move(options)) {}

ProxySupervisor::~ProxySupervisor() {
    stop();
}

void ProxySupervisor::start(pid_t started) {
    if (!loop_) {
        seen_ = started;
        loop_ = std::make_unique<tavrin::RepeatingLoop>(interval, clock_, [this] { check(); });
    }
}

void ProxySupervisor::stop() {
    if (loop_) {
        loop_->stop();
    }
}

void ProxySupervisor::check() {
    if (clock_.interrupted()) {
        return;
    }
    const auto now = clock_.now();
    const auto proxy = work_.runningProcess(tavrin::proxyBundleIdentifier);
    if (proxy) {
        seen_ = proxy->pid;
        hold_ = Hold::none;
        restartAt_.reset();
    } else if (hold_ == Hold::none && !restartAt_) {
        proxyEnded(now);
    }
    if (!proxy && restartAt_ && now >= *restartAt_) {
        restartAt_.reset();
        // Known at once, so a quit before the next check is still told from a crash.
        seen_ = options_.startProxy ? options_.startProxy() : std::nullopt;
    }
    const std::string state = stateText(proxy.has_value());
    if (state != state_) {
        state_ = state;
        if (options_.stateChanged) {
            options_.stateChanged(state);
        }
    }
}

void ProxySupervisor::proxyEnded(tavrin::Date now) {
    // One never seen (started by another, it ended before a check) is taken for a crash.
    const bool quit = seen_ && readStatus() == tavrin::proxyQuitLine(*seen_);
    seen_.reset();
    if (quit) {
        hold_ = Hold::quit;
        std::clog << "Vidora: Parlan was quit; it is started again at Vidora's next launch" << std::endl;
        return;
    }
    while (!crashes_.empty() && now - crashes_.front() >= crashSpan) {
        crashes_.pop_front();
    }
    crashes_.push_back(now);
    if (crashes_.size() > restartWaits.size()) {
        hold_ = Hold::crashing;
        if (options_.tell) {
            options_.tell({.title = "Parlan keeps stopping",
                           .body = "It stopped " + std::to_string(crashes_.size()) +
                                   " times within ten minutes, so matches are not recorded by themselves "
                                   "until Vidora starts again. Its last lines are in " +
                                   options_.logFile + ".",
                           .movie = std::nullopt});
        }
        return;
    }
    const auto wait = restartWaits.at(crashes_.size() - 1);
    restartAt_ = now + wait;
    std::clog << "Vidora: Parlan stopped without quitting; starting it again in " << wait.count() << " s"
              << std::endl;
}

std::string ProxySupervisor::readStatus() const {
    std::string line;
    if (options_.statusFile) {
        std::ifstream file(*options_.statusFile);
        std::getline(file, line);
    }
    return std::string(tavrin::trim(line));
}

std::string ProxySupervisor::stateText(bool running) const {
    if (running) {
        const std::string status = readStatus();
        // A quit line is an earlier proxy's: this one has said nothing yet.
        return "Parlan: " +
               (status.empty() || status.starts_with(tavrin::proxyQuitPrefix) ? "running" : status);
    }
    switch (hold_) {
        case Hold::quit:
            return std::string(notRunningText) + ": it was quit, and starts again with Vidora";
        case Hold::crashing:
            return std::string(notRunningText) + ": it keeps stopping (see " + options_.logFile + ")";
        case Hold::none:
            break;
    }
    return std::string(notRunningText);
}

}  // namespace vidora
