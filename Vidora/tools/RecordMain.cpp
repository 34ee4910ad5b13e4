// SPDX-License-Identifier: GPL-3.0-or-later
// vidora-record (--display | --application BUNDLE_ID) --seconds N [--no-microphone] [--whole-system-sound]
//               [--height LINES] [--fps 30|60] OUTPUT.mp0
// Records the first display, or an application's windows, with the recorder's engine for N seconds from
// its first frame (SIGINT or SIGTERM end it sooner), then prints how long stop() took to finish the movie,
// which by then has the extension "mp4", and the CPU time of the system sound's thread. It says on stdout
// when the movie's first frame was captured, on the system clock. With
// --whole-system-sound an application's recording hears every program, as a display's does (X11 only).
// --height scales the movie's picture to that many lines, --fps sets its frame rate, as the Settings do.
// A developer tool for measuring the engine (scripts/bench-recorder).
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "capture/ScreenCaptureFilter.h"
#include "capture/ScreenCaptureRecorder.h"
#include "common/Clock.h"
#include "linux/LargeBlocks.h"
#include "linux/LinuxCapturePlatform.h"
#include "linux/X11ContentProvider.h"
#include "wayland/SessionCapturePlatform.h"
#include "writer/FfmpegMovieWriter.h"

namespace {

using Steady = std::chrono::steady_clock;

struct Arguments {
    std::optional<std::string> application;  // nothing: the first display
    double seconds = 0;
    bool microphone = true;
    bool wholeSystemSound = false;
    vidora::ScreenCaptureRecorder::MovieFormat format;
    std::string output;
};

constexpr std::string_view usage =
    "usage: vidora-record (--display | --application BUNDLE_ID) --seconds N [--no-microphone] "
    "[--whole-system-sound] [--height LINES] [--fps 30|60] OUTPUT.mp0\n";

std::optional<Arguments> parseArguments(int argc, char** argv) {
    Arguments arguments;
    bool target = false;
    bool seconds = false;
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        const bool hasValue = i + 1 < words.size();
        if (word == "--display" && !target) {
            target = true;
        } else if (word == "--application" && !target && hasValue) {
            arguments.application = std::string(words[++i]);
            target = true;
        } else if (word == "--seconds" && hasValue) {
            const std::string_view text = words[++i];
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), arguments.seconds);
            if (error != std::errc() || end != text.data() + text.size() ||
                !std::isfinite(arguments.seconds) || arguments.seconds <= 0) {
                return std::nullopt;
            }
            seconds = true;
        } else if ((word == "--height" || word == "--fps") && hasValue) {
            const std::string_view text = words[++i];
            int& value = word == "--height" ? arguments.format.pictureHeight : arguments.format.frameRate;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (error != std::errc() || end != text.data() + text.size() || value < 0 ||
                (word == "--fps" && value != 30 && value != 60)) {
                return std::nullopt;
            }
        } else if (word == "--no-microphone") {
            arguments.microphone = false;
        } else if (word == "--whole-system-sound") {
            arguments.wholeSystemSound = true;
        } else if (!word.starts_with("-") && arguments.output.empty()) {
            arguments.output = std::string(word);
        } else {
            return std::nullopt;
        }
    }
    if (!target || !seconds || arguments.output.empty()) {
        return std::nullopt;
    }
    return arguments;
}

// The main thread's queue: runs what the engine posts (a stream that ends on its own stops the
// recording there) until a deadline or a signal. Signals arrive through a signalfd, so they must be
// blocked in every thread, which is why the constructor runs before any thread is started.
class MainLoop {
public:
    MainLoop() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
        signalDescriptor_ = ::signalfd(-1, &signals_, SFD_CLOEXEC);
        wakeDescriptor_ = ::eventfd(0, EFD_CLOEXEC);
    }
    ~MainLoop() {
        for (const int descriptor : {signalDescriptor_, wakeDescriptor_}) {
            if (descriptor >= 0) {
                ::close(descriptor);
            }
        }
    }
    MainLoop(const MainLoop&) = delete;
    MainLoop& operator=(const MainLoop&) = delete;

    bool ready() const { return signalDescriptor_ >= 0 && wakeDescriptor_ >= 0; }
    bool signalled() const { return signalled_; }

    // Any thread.
    void post(std::function<void()> work) {
        {
            std::lock_guard lock(mutex_);
            work_.push_back(std::move(work));
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeDescriptor_, &one, sizeof one);
    }

    // Runs posted work until `deadline`, a signal, or `finished()` turns true after a piece of work.
    void runUntil(Steady::time_point deadline, const std::function<bool()>& finished) {
        while (!finished()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now());
            if (left.count() <= 0) {
                return;
            }
            pollfd descriptors[] = {{signalDescriptor_, POLLIN, 0}, {wakeDescriptor_, POLLIN, 0}};
            const int timeout = static_cast<int>(std::min<std::int64_t>(left.count(), 60'000));
            if (::poll(descriptors, 2, timeout) < 0 && errno != EINTR) {
                return;
            }
            if ((descriptors[0].revents & POLLIN) != 0) {
                signalled_ = true;
                return;
            }
            if ((descriptors[1].revents & POLLIN) != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] const auto read = ::read(wakeDescriptor_, &count, sizeof count);
                runPosted();
            }
        }
    }

    void runPosted() {
        std::deque<std::function<void()>> work;
        {
            std::lock_guard lock(mutex_);
            work.swap(work_);
        }
        for (auto& piece : work) {
            piece();
        }
    }

private:
    sigset_t signals_{};
    int signalDescriptor_ = -1;
    int wakeDescriptor_ = -1;
    bool signalled_ = false;
    std::mutex mutex_;
    std::deque<std::function<void()>> work_;
};

// The CPU time (user and system) of this process's threads of that name, in seconds.
double threadSeconds(std::string_view name) {
    double ticks = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::ifstream stat(task.path() / "stat");
        std::string threadName, line;
        if (std::getline(comm, threadName) && threadName == name && std::getline(stat, line)) {
            // Fields 14 and 15, counted after the name in parentheses (field 2).
            std::istringstream fields(line.substr(line.rfind(')') + 2));
            std::vector<std::string> field{std::istream_iterator<std::string>(fields), {}};
            ticks += field.size() > 12 ? std::stod(field[11]) + std::stod(field[12]) : 0;
        }
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The movie writer, which also says on stdout when the movie's first frame was captured, on the system
// clock: the recorder's own log line gives the moment it took the frame, which may be later
// (scripts/bench-sound places the game's sound against it).
class FirstFrameWriter final : public vidora::MovieSink {
public:
    bool startWriting(const std::string& path, const vidora::VideoSettings& video,
                      const vidora::AudioSettings& audio) override {
        return writer_.startWriting(path, video, audio);
    }
    void startSession(vidora::MediaTime sourceTime) override {
        const auto captured = std::chrono::system_clock::now() - (vidora::mediaNow() - sourceTime);
        std::cout << "vidora-record: the first frame was captured at " << std::fixed << std::setprecision(6)
                  << std::chrono::duration<double>(captured.time_since_epoch()).count()
                  << " s after the epoch" << std::endl;
        writer_.startSession(sourceTime);
    }
    bool isReadyForMoreMediaData(vidora::Track track) const override {
        return writer_.isReadyForMoreMediaData(track);
    }
    bool wantsVideoFrame(vidora::MediaTime sourceTime) const override {
        return writer_.wantsVideoFrame(sourceTime);
    }
    void append(vidora::VideoFrame frame) override { writer_.append(std::move(frame)); }
    void append(vidora::Track track, vidora::AudioBuffer buffer) override {
        writer_.append(track, std::move(buffer));
    }
    void finishWriting() override { writer_.finishWriting(); }
    bool hasFailed() const override { return writer_.hasFailed(); }
    vidora::RecordingProblem failure() const override { return writer_.failure(); }
    std::int64_t framesWritten() const override { return writer_.framesWritten(); }

private:
    vidora::FfmpegMovieWriter writer_;
};

}  // namespace

int main(int argc, char** argv) {
    vidora::mapLargeBlocksOnTheirOwn();
    const auto arguments = parseArguments(argc, argv);
    if (!arguments) {
        std::cerr << usage;
        return 2;
    }
    MainLoop mainLoop;
    if (!mainLoop.ready()) {
        std::cerr << "vidora-record: cannot wait for signals\n";
        return 1;
    }
    // The portal client on a Wayland desktop talks to the bus through Qt, which needs an application.
    QCoreApplication application(argc, argv);
    vidora::X11ContentProvider content;
    vidora::SessionCapturePlatform session;
    vidora::LinuxCapturePlatform wholeSystemSound(true);
    vidora::CapturePlatform& platform =
        arguments->wholeSystemSound ? static_cast<vidora::CapturePlatform&>(wholeSystemSound) : session;
    tavrin::SystemClock clock;
    vidora::ScreenCaptureRecorder recorder(
        content, platform, [] { return std::make_unique<FirstFrameWriter>(); }, clock,
        [&mainLoop](std::function<void()> work) { mainLoop.post(std::move(work)); });

    if (arguments->application) {
        if (!recorder.setup(*arguments->application)) {
            std::cerr << "vidora-record: no window of " << *arguments->application << " to record\n";
            return 1;
        }
    } else {
        const auto displays = vidora::ScreenCaptureFilter(content).getDisplays();
        if (!displays || displays->empty() || !recorder.setup(displays->front().id)) {
            std::cerr << "vidora-record: no display to record\n";
            return 1;
        }
    }

    recorder.setMovieFormat(arguments->format);
    recorder.start(arguments->output, arguments->microphone);
    if (!recorder.isRecording()) {
        std::cerr << "vidora-record: cannot record into " << arguments->output << "\n";
        return 1;
    }
    // The recording's length counts from its first frame: a display on a Wayland desktop may wait for
    // the desktop's dialog first.
    while (recorder.isRecording() && !recorder.startTime() && !mainLoop.signalled()) {
        mainLoop.runUntil(Steady::now() + std::chrono::milliseconds(10), [] { return false; });
    }
    const auto begun = Steady::now();
    const auto deadline = begun + std::chrono::duration_cast<Steady::duration>(
                                      std::chrono::duration<double>(arguments->seconds));
    if (!mainLoop.signalled()) {
        mainLoop.runUntil(deadline, [&] { return !recorder.isRecording(); });
    }
    if (!recorder.isRecording()) {
        std::cerr << "vidora-record: the recording ended on its own\n";
        return 1;
    }

    const double soundSeconds = threadSeconds("system-sound");
    const auto stopping = Steady::now();
    recorder.stop();
    const std::chrono::duration<double> stopTook = Steady::now() - stopping;
    const std::chrono::duration<double> recorded = stopping - begun;
    // Whatever the engine posted while stopping concerns a recording that has ended.
    mainLoop.runPosted();

    const std::string movie = std::filesystem::path(arguments->output).replace_extension(".mp4").string();
    std::cout << "vidora-record: recorded " << recorded.count() << " s into " << movie << "\n";
    std::cout << "vidora-record: stop() took " << stopTook.count() << " s\n";
    std::cout << "vidora-record: the system sound's thread took " << soundSeconds << " s of CPU\n";
    if (!std::filesystem::exists(movie)) {
        std::cerr << "vidora-record: no finished movie at " << movie << "\n";
        return 1;
    }
    return 0;
}
