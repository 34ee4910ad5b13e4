// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/ProxySupervisor.h"

#include <fstream>
#include <iostream>

#include "common/Text.h"

namespace vidora {

ProxySupervisor::ProxySupervisor(const tavrin::Workspace& work, tavrin::Clock& clock, Options options)
    : work_(work), clock_(clock), options_(std::move(options)) {}

ProxySupervisor::~ProxySupervisor() {
    stop();
}

void ProxySupervisor::start() {
    if (!loop_) {
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
    const bool running = work_.isRunning(tavrin::proxyBundleIdentifier);
    if (!running) {
        const auto now = clock_.now();
        while (!restarts_.empty() && now - restarts_.front() >= std::chrono::minutes(1)) {
            restarts_.pop_front();
        }
        if (restarts_.size() < restartsPerMinute) {
            restarts_.push_back(now);
            heldBack_ = false;
            std::clog << "Vidora: Parlan is not running; starting it again" << std::endl;
            if (options_.startProxy) {
                options_.startProxy();
            }
        } else if (!heldBack_) {
            heldBack_ = true;
            std::clog << "Vidora: Parlan stopped " << restartsPerMinute
                      << " times within a minute; it is started again when the minute is over" << std::endl;
        }
    }
    const std::string state = running ? "Parlan: " + readStatus() : std::string(notRunningText);
    if (state != state_) {
        state_ = state;
        if (options_.stateChanged) {
            options_.stateChanged(state);
        }
    }
}

std::string ProxySupervisor::readStatus() const {
    std::string line;
    if (options_.statusFile) {
        std::ifstream file(*options_.statusFile);
        std::getline(file, line);
    }
    line = std::string(tavrin::trim(line));
    return line.empty() ? "running" : line;
}

}  // namespace vidora
