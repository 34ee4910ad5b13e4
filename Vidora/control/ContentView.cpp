// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/ContentView.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <set>

#include "common/Text.h"
#include "common/Workspace.h"

namespace vidora {

namespace {

using namespace std::chrono_literals;

constexpr auto watchInterval = 2000ms;
constexpr auto pollInterval = 500ms;

const std::shared_ptr<const Icon>& displaySymbol() {
    static const auto symbol = std::make_shared<const Icon>(
        Icon{.symbolName = "display", .themeName = "", .width = 0, .height = 0, .argb = {}});
    return symbol;
}

// Stands until the first list arrives.
DisplayItem placeholder() {
    return DisplayItem{
        .displayID = 1, .name = "Display", .title = "", .detail = "1920 x 1080", .icon = displaySymbol()};
}

bool excluded(std::string_view bundleIdentifier) {
    static constexpr std::array<std::string_view, 3> helpers = {
        "com.pilotmoon.scroll-reverser", "com.google.Chrome.helper.plugin", "net.battle.app.helper"};
    static constexpr std::array<std::string_view, 4> listedSystemApps = {
        "com.apple.finder", "com.apple.dt.Xcode", "com.apple.Music", "com.apple.Safari"};
    if (bundleIdentifier.starts_with("net.tavrinworks.") ||
        std::ranges::find(helpers, bundleIdentifier) != helpers.end()) {
        return true;
    }
    return bundleIdentifier.starts_with("com.apple.") &&
           std::ranges::find(listedSystemApps, bundleIdentifier) == listedSystemApps.end();
}

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A match name is used as a file name only when it names a file in the movies folder itself.
bool usableFileName(const std::optional<std::string>& name) {
    return name && !name->empty() && *name != "." && *name != ".." &&
           name->find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

}  // namespace

ContentView::ContentView(ContentViewPlatform platform)
    : platform_(std::move(platform)), displays_{placeholder()} {}

ContentView::~ContentView() {
    targetWatch_.request_stop();
    commandPoll_.request_stop();
    if (targetWatch_.joinable()) {
        targetWatch_.join();
    }
    if (commandPoll_.joinable()) {
        commandPoll_.join();
    }
    *alive_ = false;
}

std::int64_t ContentView::nextIndex() const {
    return index_ + 1 < static_cast<std::int64_t>(displays_.size()) ? index_ + 1 : 0;
}

std::string ContentView::pageText() const {
    return std::to_string(index_ + 1) + " / " + std::to_string(displays_.size());
}

void ContentView::notify() {
    if (changed) {
        changed();
    }
}

void ContentView::publish() {
    const std::scoped_lock lock(loopMutex_);
    loopView_ = LoopView{.isRecording = isRecording_, .selected = selected_};
}

ContentView::LoopView ContentView::loopView() const {
    const std::scoped_lock lock(loopMutex_);
    return loopView_;
}

void ContentView::post(std::function<void()> work) {
    platform_.mainQueue([alive = std::weak_ptr<bool>(alive_), work = std::move(work)] {
        const auto token = alive.lock();
        if (token && *token) {
            work();
        }
    });
}

void ContentView::onAppear() {
    if (targetWatch_.joinable()) {
        return;
    }
    targetWatch_ = std::jthread([this](std::stop_token stop) { watchTargets(stop); });
    commandPoll_ = std::jthread([this](std::stop_token stop) { pollCommands(stop); });
}

bool ContentView::startRecording(const std::optional<std::string>& name) {
    if (index_ >= static_cast<std::int64_t>(displays_.size()) || !selected_) {
        return false;
    }
    const bool ready = selected_->isApplication() ? platform_.recorder.setup(selected_->detail)
                                                  : platform_.recorder.setup(selected_->displayID);
    if (!ready) {
        report({.movie = {},
                .fileKept = false,
                .seconds = 0,
                .problem =
                    selected_->isApplication() ? RecordingProblem::noWindow : RecordingProblem::sourceEnded,
                .target = selected_->name},
               !name);
        return false;
    }
    const auto path = usableFileName(name) ? platform_.locations.movieURL(std::string_view(*name))
                                           : platform_.locations.movieURL(platform_.clock.now());
    if (!path) {
        return false;  // no Movies folder: nowhere to record
    }
    // The proxy makes the default folder when it finds the game, and a recording by hand may come first; a
    // chosen folder must be there.
    std::optional<RecordingProblem> refusal;
    if (!platform_.locations.prepareMoviesFolder()) {
        refusal = RecordingProblem::folderMissing;
    } else if (platform_.recordingStarts) {
        refusal = platform_.recordingStarts();
    }
    if (refusal) {
        platform_.alertSound();
        report(
            {.movie = *path, .fileKept = false, .seconds = 0, .problem = refusal, .target = selected_->name},
            !name);
        return false;
    }
    startQueue_.async([&recorder = platform_.recorder, path = *path, microphone = micEnable_] {
        recorder.start(path, microphone);
    });
    recorderSeen_ = false;
    byHand_ = !name;
    ticksWithoutRecorder_ = 0;
    timer_ = platform_.startTimer([this] { onRecordTimer(); });
    return true;
}

void ContentView::stopRecorder() {
    startQueue_.sync([this] { platform_.recorder.stop(); });
}

void ContentView::report(const RecordingResult& result, bool byHand) const {
    if (platform_.recordingEnded) {
        platform_.recordingEnded(result, byHand);
    }
}

void ContentView::onRecordButton(bool on, const std::optional<std::string>& name) {
    if (on == isRecording_) {
        return;
    }
    if (!on) {
        stopRecorder();
        timer_.reset();
        recordingTime_ = "00:00";
        auto result = platform_.recorder.takeResult();
        if (result) {
            result->target = selected_ ? selected_->name : std::string();
            report(*result, byHand_);
        }
        if (platform_.recordingStopped) {
            platform_.recordingStopped(result && result->fileKept ? result->movie : std::string());
        }
    } else if (!startRecording(name)) {
        return;
    }
    isRecording_ = on;
    publish();
    platform_.alertSound();
    notify();
}

void ContentView::onRecordTimer() {
    // A recorder that ended on its own, or never began, leaves the window idle rather than showing a
    // recording that is not being made; the next Start then records again.
    if (!platform_.recorder.isRecording()) {
        if (recorderSeen_ || ++ticksWithoutRecorder_ >= startGraceTicks) {
            onRecordButton(false, std::nullopt);
        }
        return;
    }
    recorderSeen_ = true;
    const auto start = platform_.recorder.startTime();
    if (!start) {
        return;
    }
    const double elapsed = std::chrono::duration<double>(platform_.clock.now() - *start).count();
    if (elapsed >= recordingLimit) {
        // Ended as the button ends it, so the next match's Start is not ignored.
        onRecordButton(false, std::nullopt);
        return;
    }
    recordingTime_ = formatTime(elapsed);
    notify();
}

std::string ContentView::formatTime(double seconds) {
    const auto t = std::isfinite(seconds) && seconds > 0 ? static_cast<long long>(seconds) : 0LL;
    std::array<char, 32> text{};
    if (t < 3600) {
        std::snprintf(text.data(), text.size(), "%02lld:%02lld", t / 60, t % 60);
    } else {
        std::snprintf(text.data(), text.size(), "%02lld:%02lld:%02lld", t / 3600, t / 60 % 60, t % 60);
    }
    return text.data();
}

void ContentView::onDisplayButton() {
    index_ = nextIndex();
    selected_ = displays_[static_cast<std::size_t>(index_)];
    publish();
    platform_.alertSound();
    notify();
    if (choicesChanged) {
        choicesChanged();
    }
}

void ContentView::onMicrophoneButton() {
    micEnable_ = !micEnable_;
    if (isRecording_) {
        platform_.recorder.setMicState(micEnable_);
    }
    notify();
    if (choicesChanged) {
        choicesChanged();
    }
}

void ContentView::restoreChoices(bool micEnable, std::string targetKey) {
    micEnable_ = micEnable;
    restoredTarget_ = std::move(targetKey);
    notify();
}

std::string ContentView::targetKey(const DisplayItem& item) {
    return item.isApplication() ? item.detail : "display " + item.name;
}

void ContentView::onNewCommands(const std::vector<std::string>& commands) {
    if (commands.size() < 2) {
        return;
    }
    // "BID:" or "CMD:" and the trimmed rest; nothing for any other line.
    const auto parse = [](std::string_view line) -> std::optional<std::pair<std::string_view, std::string>> {
        if (line.size() < 4 || (line.substr(0, 4) != "BID:" && line.substr(0, 4) != "CMD:")) {
            return std::nullopt;
        }
        return std::pair{line.substr(0, 4), std::string(tavrin::trim(line.substr(4)))};
    };
    const auto isCommand = [&](std::string_view value) {
        return [&parse, value](const std::string& line) {
            const auto command = parse(line);
            return command && command->first == "CMD:" && command->second == value;
        };
    };
    const auto isEnd = isCommand("End");
    const std::string& matchName = commands.front();
    for (std::size_t i = 1; i < commands.size(); ++i) {
        const auto command = parse(commands[i]);
        if (!command) {
            continue;
        }
        const auto& [key, value] = *command;
        if (key == "BID:") {
            const auto entry =
                std::ranges::find_if(displays_, [&identifier = value](const DisplayItem& item) {
                    return item.isApplication() && item.detail == identifier;
                });
            if (entry == displays_.end()) {
                // The application is not recordable now: the rest of the batch is dropped, and a match
                // it was to record is told of.
                const auto start = std::find_if(commands.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                                commands.end(), isCommand("Start"));
                if (start != commands.end() && !std::any_of(start + 1, commands.end(), isEnd)) {
                    report({.movie = {},
                            .fileKept = false,
                            .seconds = 0,
                            .problem = RecordingProblem::noWindow,
                            .target = value == tavrin::gameBundleIdentifier ? "World of Warcraft" : value},
                           false);
                }
                return;
            }
            index_ = entry - displays_.begin();
            selected_ = *entry;
            publish();
            notify();
        } else if (value == "Start") {
            // A match that also ended in this batch is over already (read late, after a restart).
            if (std::any_of(commands.begin() + static_cast<std::ptrdiff_t>(i) + 1, commands.end(), isEnd)) {
                continue;
            }
            if (!isRecording_ && startRecording(matchName)) {
                isRecording_ = true;
                publish();
                platform_.alertSound();
                notify();
            }
        } else if (value == "End") {
            onRecordButton(false, std::nullopt);
            platform_.commands.deleteCommands();
        }
    }
}

std::string ContentView::screenName(std::string_view localizedName) {
    std::vector<std::string_view> pieces;
    std::size_t begin = 0;
    while (begin <= localizedName.size()) {
        std::size_t end = begin;
        while (end < localizedName.size() && !isWhiteSpace(localizedName[end])) {
            ++end;
        }
        if (end > begin) {
            pieces.push_back(localizedName.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    if (pieces.size() < 3) {
        return std::string(localizedName);
    }
    std::string name;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        name += (i > 1 ? " " : "") + std::string(pieces[i]);
    }
    return name;
}

std::vector<DisplayItem> ContentView::applicationEntries(const DesktopWorkspace& workspace) {
    const auto applications = workspace.runningApplications();
    const auto isActive = [&](const std::string& bundleIdentifier) {
        return std::ranges::any_of(applications, [&](const DesktopApplication& application) {
            return application.bundleIdentifier == bundleIdentifier && application.finishedLaunching;
        });
    };
    std::vector<DisplayItem> entries;
    std::set<std::string, std::less<>> listed;
    for (const auto& application : applications) {
        if (application.hidden || !application.bundleIdentifier) {
            continue;
        }
        const std::string& bundleIdentifier = *application.bundleIdentifier;
        if (excluded(bundleIdentifier) || !application.localizedName || listed.contains(bundleIdentifier)) {
            continue;
        }
        if (!application.location) {
            continue;
        }
        auto icon = workspace.iconFor(application, *application.location);
        if (!icon || !isActive(bundleIdentifier)) {
            continue;
        }
        // One entry per application, however many processes it runs.
        listed.insert(bundleIdentifier);
        entries.push_back(DisplayItem{.displayID = 0,
                                      .name = *application.localizedName,
                                      .title = "",
                                      .detail = bundleIdentifier,
                                      .icon = std::move(icon)});
    }
    return entries;
}

void ContentView::searchApps(const std::vector<DisplaySummary>& displays,
                             std::vector<DisplayItem> applications) {
    const auto names = platform_.screenNames ? platform_.screenNames() : std::vector<std::string>{};
    std::vector<DisplayItem> list;
    // Paired only as far as both lists reach: a screen never stands for a missing display.
    for (std::size_t i = 0; i < std::min(names.size(), displays.size()); ++i) {
        list.push_back(
            DisplayItem{.displayID = displays[i].id,
                        .name = screenName(names[i]),
                        .title = "",
                        .detail = std::to_string(displays[i].w) + " x " + std::to_string(displays[i].h),
                        .icon = displaySymbol()});
    }
    std::ranges::move(applications, std::back_inserter(list));
    if (list.empty()) {
        return;  // nothing to offer: the last list stays
    }
    if (index_ >= static_cast<std::int64_t>(list.size()) || !selected_) {
        const auto restored = std::ranges::find(list, restoredTarget_, targetKey);
        index_ = restored == list.end() ? 0 : restored - list.begin();
        selected_ = list[static_cast<std::size_t>(index_)];
        restoredTarget_.clear();  // only the first list: afterwards the player's own moves count
    }
    displays_ = std::move(list);
    publish();
    notify();
}

bool ContentView::existApp(const DesktopWorkspace& workspace, const DisplayItem& item) {
    if (!item.isApplication()) {
        return true;
    }
    return std::ranges::any_of(workspace.runningApplications(), [&](const DesktopApplication& application) {
        return application.localizedName == item.name;
    });
}

void ContentView::applicationGone(const DisplayItem& item) {
    // The watch looked at an earlier state; a recording of something else since then stays.
    if (!isRecording_ || selected_ != item) {
        return;
    }
    onRecordButton(false, std::nullopt);
    index_ = 0;
    selected_ = displays_.front();
    publish();
    notify();
}

// Both loops end when asked to or when the clock is interrupted (the program quits): a loop whose sleeps
// return at once would otherwise spin while the last frames are written.
bool ContentView::loopEnded(const std::stop_token& stop) const {
    return stop.stop_requested() || platform_.clock.interrupted();
}

void ContentView::watchTargets(std::stop_token stop) {
    const auto ended = [&] { return loopEnded(stop); };
    const auto displays = platform_.getDisplays ? platform_.getDisplays() : std::nullopt;
    if (!displays || displays->empty()) {
        return;  // nothing can be captured: the buttons stay disabled
    }
    post([this] {
        recordEnable_ = true;
        notify();
    });
    while (!ended()) {
        for (auto view = loopView(); view.isRecording && !ended(); view = loopView()) {
            if (view.selected && !existApp(platform_.workspace, *view.selected)) {
                post([this, item = *view.selected] { applicationGone(item); });
            }
            platform_.clock.sleepFor(watchInterval);
        }
        if (ended()) {
            return;
        }
        auto refreshed = std::make_shared<std::promise<void>>();
        auto done = refreshed->get_future();
        post([this, refreshed, displays, applications = applicationEntries(platform_.workspace)]() mutable {
            searchApps(*displays, std::move(applications));
            refreshed->set_value();
        });
        while (done.wait_for(50ms) == std::future_status::timeout) {
            if (ended()) {
                return;
            }
        }
        platform_.clock.sleepFor(watchInterval);
    }
}

void ContentView::pollCommands(std::stop_token stop) {
    while (!loopEnded(stop)) {
        platform_.clock.sleepFor(pollInterval);
        const auto folder = platform_.locations.logsURL();
        if (loopEnded(stop) || !folder) {
            continue;
        }
        if (auto batch = platform_.commands.readCommands(*folder)) {
            post([this, batch = std::move(*batch)] { onNewCommands(batch); });
        }
    }
}

}  // namespace vidora
