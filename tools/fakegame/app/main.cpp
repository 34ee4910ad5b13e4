// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in game: writes a combat log as World of Warcraft does, shows a window like the game's under
// Wine, may play a tone and may start helper processes. The main thread runs the window and the signals; the
// log and the tone have threads of their own.
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "app/FrameStats.h"
#include "app/GameWindow.h"
#include "app/Options.h"
#include "app/Tone.h"
#include "common/Folders.h"
#include "log/ArenaMatch.h"
#include "log/LogReplay.h"
#include "log/LogSession.h"
#include "log/StoppableClock.h"

extern char** environ;

namespace {

using namespace fakegame;

class Descriptor {
public:
    explicit Descriptor(int descriptor = -1) : descriptor_(descriptor) {}
    Descriptor(Descriptor&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(descriptor_, other.descriptor_);
        return *this;
    }
    ~Descriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    int get() const { return descriptor_; }

private:
    int descriptor_;
};

// Reads the 8-byte counter of an eventfd or timerfd.
std::uint64_t readCounter(int descriptor) {
    std::uint64_t count = 0;
    while (::read(descriptor, &count, sizeof count) < 0 && errno == EINTR) {
    }
    return count;
}

std::unique_ptr<LineSource> makeSource(const Options& options) {
    if (options.replayPath) {
        auto replay = ReplaySource::open(*options.replayPath);
        return replay ? std::make_unique<ReplaySource>(std::move(*replay)) : nullptr;
    }
    return std::make_unique<ArenaMatchSource>(
        ArenaSettings{options.matchLength, options.matches, options.seed, options.lobbyLength});
}

SessionSettings sessionSettings(const Options& options) {
    SessionSettings settings;
    settings.logsFolder = options.logsFolder;
    settings.speed = options.speed;
    if (options.bursts) {
        settings.bursts = BurstSettings{options.seed, options.burstBytes, std::chrono::milliseconds(500)};
    }
    settings.newFileAfterLines = options.newFileAfterLines;
    settings.truncateAfterLines = options.truncateAfterLines;
    settings.truncatePause = std::chrono::milliseconds(options.truncatePauseMilliseconds);
    return settings;
}

// The command through the shell, with the signals unblocked that this process leaves to its signalfd;
// its pid, or -1.
pid_t startHelper(const std::string& command) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    const char* arguments[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t helper = -1;
    if (::posix_spawn(&helper, "/bin/sh", nullptr, &attributes, const_cast<char* const*>(arguments),
                      environ) != 0) {
        helper = -1;
    }
    posix_spawnattr_destroy(&attributes);
    return helper;
}

Descriptor frameTimer(int rate) {
    Descriptor timer(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC));
    const long frameNanoseconds = 1'000'000'000L / rate;
    const itimerspec period = {{0, frameNanoseconds}, {0, frameNanoseconds}};
    ::timerfd_settime(timer.get(), 0, &period, nullptr);
    return timer;
}

// Keeps the processor busy for `cost` of this thread's own time: a game's fixed work per frame, which takes
// longer on the clock whenever another thread has the core.
void spend(std::chrono::microseconds cost) {
    const auto used = [] {
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
    };
    const auto end = used() + cost;
    volatile std::uint64_t work = 0;
    while (used() < end) {
        for (int step = 0; step < 2000; ++step) {
            work = work * 6364136223846793005ULL + 1;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    tzset();
    const ParsedOptions parsed = parseOptions(argc, argv);
    if (!parsed.options) {
        std::fprintf(stderr, "fakegame: %s\n%.*s", parsed.error.c_str(), static_cast<int>(usageText().size()),
                     usageText().data());
        return 2;
    }
    const Options& options = *parsed.options;
    if (options.help) {
        std::fwrite(usageText().data(), 1, usageText().size(), stdout);
        return 0;
    }

    // Blocked before any thread starts, so every thread leaves them to the main loop's signalfd.
    sigset_t handledSignals;
    sigemptyset(&handledSignals);
    sigaddset(&handledSignals, SIGTERM);
    sigaddset(&handledSignals, SIGINT);
    sigaddset(&handledSignals, SIGHUP);
    sigaddset(&handledSignals, SIGUSR1);
    sigaddset(&handledSignals, SIGUSR2);
    sigaddset(&handledSignals, SIGRTMIN);
    pthread_sigmask(SIG_BLOCK, &handledSignals, nullptr);
    const Descriptor signals(::signalfd(-1, &handledSignals, SFD_CLOEXEC));

    const std::unique_ptr<LineSource> source = makeSource(options);
    if (!source) {
        std::fprintf(stderr, "fakegame: cannot read %s\n", options.replayPath->c_str());
        return 1;
    }
    tavrin::createDirectory(options.logsFolder);

    const Descriptor logDone(::eventfd(0, EFD_CLOEXEC));
    std::promise<std::vector<std::string>> written;
    std::future<std::vector<std::string>> files = written.get_future();
    std::jthread writer(
        [&written, &source, &logDone, settings = sessionSettings(options)](std::stop_token stop) {
            StoppableClock clock(stop);
            written.set_value(LogSession(settings, clock).run(*source, stop));
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto ignored = ::write(logDone.get(), &one, sizeof one);
        });
    std::optional<Tone> tone;
    if (options.tone) {
        tone.emplace(440.0, options.beeps);
    }

    std::unique_ptr<GameWindow> window;
    Descriptor frames;
    if (options.window && std::getenv("DISPLAY") != nullptr) {
        window = GameWindow::open(1280, 720, options.fullscreen, options.renderRate.has_value());
        if (!window) {
            std::fprintf(stderr, "fakegame: cannot open the display; going on without a window\n");
        }
    }
    std::uint64_t frame = 0;
    const bool rendering = window && options.renderRate;
    // Rendering as fast as it can waits for no timer.
    const bool uncapped = rendering && *options.renderRate == 0;
    if (window) {
        if (!uncapped) {
            frames = frameTimer(rendering ? *options.renderRate : 30);
        }
        window->draw(frame);
    }
    FrameStats stats(FrameStats::Clock::now());

    std::vector<pid_t> helpers;
    int status = 0;
    for (bool running = true; running;) {
        if (window && !window->handleEvents()) {
            break;
        }
        std::vector<pollfd> waits = {{signals.get(), POLLIN, 0}, {logDone.get(), POLLIN, 0}};
        if (window) {
            waits.push_back({window->fileDescriptor(), POLLIN, 0});
            waits.push_back({frames.get(), POLLIN, 0});
        }
        if (::poll(waits.data(), waits.size(), uncapped ? 0 : -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (waits[0].revents & POLLIN) {
            signalfd_siginfo information{};
            [[maybe_unused]] const auto ignored = ::read(signals.get(), &information, sizeof information);
            if (information.ssi_signo == SIGUSR2) {
                if (tone) {
                    tone->togglePause();
                }
            } else if (static_cast<int>(information.ssi_signo) == SIGRTMIN) {
                std::printf("fakegame: %s\n", stats.report(FrameStats::Clock::now()).c_str());
                std::fflush(stdout);
            } else if (information.ssi_signo != SIGUSR1) {
                running = false;
            } else if (const pid_t helper = options.helper ? startHelper(*options.helper) : -1; helper > 0) {
                helpers.push_back(helper);
            }
        }
        if (waits[1].revents & POLLIN) {
            readCounter(logDone.get());
            if (files.get().empty()) {
                std::fprintf(stderr, "fakegame: cannot create a log file in %s\n",
                             options.logsFolder.c_str());
                status = 1;
                running = false;
            } else if (options.exitWhenDone) {
                running = false;
            }
        }
        if (window && (uncapped || (waits[3].revents & POLLIN))) {
            frame += uncapped ? 1 : readCounter(frames.get());
            if (rendering) {
                spend(options.frameCost);
            }
            window->draw(frame);
            if (rendering) {
                window->finish();
                stats.shown(FrameStats::Clock::now());
            }
        }
    }
    for (const pid_t helper : helpers) {
        ::kill(helper, SIGTERM);
        ::waitpid(helper, nullptr, 0);
    }
    return status;
}
