// SPDX-License-Identifier: GPL-3.0-or-later
#include "proxy/ProxyService.h"

namespace parlan {

ProxyService::ProxyService(const tavrin::Workspace& work, LogFiles& logs, tavrin::Clock& clock,
                           std::function<void(std::string_view)> status)
    : work_(work), logs_(logs), clock_(clock), status_(std::move(status)) {}

ProxyService::~ProxyService() {
    stop();
}

void ProxyService::process() {
    if (loop_) {
        return;
    }
    findGame();
    loop_ = std::make_unique<tavrin::RepeatingLoop>(interval, clock_, [this] { pass(); });
}

// On Linux the game's folder is known from its running process (or a usual Wine prefix), so a proxy
// started before the game keeps looking instead of staying idle until restarted.
bool ProxyService::findGame() {
    if (logFolder_) {
        return true;
    }
    const auto gameFolder = tavrin::getAppPath(work_, tavrin::gameBundleIdentifier);
    if (!gameFolder) {
        return false;
    }
    gameFolder_ = gameFolder;
    logFolder_ = *gameFolder + "Logs";
    logs_.parser().prepareMatchFolder();
    return true;
}

void ProxyService::pass() {
    const auto game = work_.runningProcess(tavrin::gameBundleIdentifier);
    if (!game) {
        setStatus(notRunningText);
        logs_.onModifiedFileEmpty();
        clock_.sleepFor(notRunningBackOff);
        return;
    }
    // Another game process than the one whose folder is known (started after the proxy, or again from
    // another Wine prefix): the folder of the running game wins over one found on disk before.
    if (game->pid != gameProcess_.first || game->startTime != gameProcess_.second) {
        gameProcess_ = {game->pid, game->startTime};
        gameFolder_.reset();
        logFolder_.reset();
    }
    if (!findGame()) {
        setStatus(noFolderText);
        logs_.onModifiedFileEmpty();
        return;
    }
    if (const auto file = logs_.getRecentFile(*logFolder_)) {
        logs_.onFileModified(file);
    } else {
        logs_.onModifiedFileEmpty();
    }
    // The version is known once a log was read; until then only a missing add-on is told.
    setStatus(addon_.problem(*gameFolder_, logs_.parser().version()).value_or(workingText));
}

void ProxyService::stop() {
    if (loop_) {
        loop_->stop();
    }
}

void ProxyService::setStatus(std::string_view text) {
    if (text != shownStatus_) {
        shownStatus_ = text;
        if (status_) {
            status_(text);
        }
    }
}

}  // namespace parlan
