// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A desktop and a sound server of the test's own: Xvfb with openbox, and a PulseAudio daemon with a
// null sink and a null source. Each sets the variable that points this process at it (DISPLAY,
// PULSE_SERVER) while it lives.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "MovieProbe.h"
#include "TemporaryFolder.h"
#include "capture/ShareableContent.h"
#include "linux/X11Connection.h"

namespace vidora::testing {

using namespace std::chrono_literals;
using tavrin::testing::ChildProcess;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::waitUntil;

inline void stopChild(std::unique_ptr<ChildProcess>& child, int signal = SIGTERM) {
    // SIGTERM lets a server remove its lock file and socket.
    if (child) {
        child->signal(signal);
        child->wait(10s);
        child.reset();
    }
}

// Xvfb at 1920 x 1080 on a display number it picks itself, with openbox for the window manager unless the
// test plays without one.
class TestDisplay {
public:
    explicit TestDisplay(bool withWindowManager = true) {
        startServer();
        if (!server_) {
            return;
        }
        ::setenv("DISPLAY", name_.c_str(), 1);
        connection_.reset(xcb_connect(name_.c_str(), nullptr));
        if (!withWindowManager) {
            managed_ = true;
            return;
        }
        // Openbox runs the startup command once it manages windows; a window mapped earlier may be lost.
        const std::string ready = folder_.file("managing");
        windowManager_ =
            std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/openbox", "--sm-disable",
                                                                    "--startup", "/usr/bin/touch " + ready},
                                           std::map<std::string, std::string>{{"DISPLAY", name_}});
        managed_ = waitUntil([&] { return std::filesystem::exists(ready); }, 20s);
    }
    ~TestDisplay() {
        connection_.reset();
        stopChild(windowManager_);
        stopChild(server_);
        ::unsetenv("DISPLAY");
    }
    TestDisplay(const TestDisplay&) = delete;
    TestDisplay& operator=(const TestDisplay&) = delete;

    bool ready() const { return server_ && managed_ && xcb_connection_has_error(connection_.get()) == 0; }
    const std::string& name() const { return name_; }
    xcb_connection_t* connection() const { return connection_.get(); }
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root; }
    // Ends the server under the test's feet.
    void kill() { stopChild(server_); }

private:
    // Xvfb picks a free number itself and writes it to a file it inherits once it serves it: a number
    // that looks free here may be taken by another server before ours claims it. Ours holds the number's
    // sockets while it runs, so the server that answers there is ours.
    void startServer() {
        const std::string numberFile = folder_.file("display");
        const int descriptor = ::open(numberFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (descriptor < 0) {
            return;
        }
        auto candidate = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", std::to_string(descriptor), "-screen",
                                     "0", "1920x1080x24", "-nolisten", "tcp"},
            std::map<std::string, std::string>{});
        ::close(descriptor);
        std::string number;
        const auto announced = [&] {
            number = tavrin::testing::readFile(numberFile);
            return number.ends_with('\n');
        };
        if (waitUntil([&] { return announced() || !candidate->running(); }, 20s) && candidate->running()) {
            server_ = std::move(candidate);
            name_ = ":" + number.substr(0, number.size() - 1);
        }
    }

    TemporaryFolder folder_;
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> windowManager_;
    std::string name_;
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection_{nullptr, &xcb_disconnect};
    bool managed_ = false;
};

// A window of one colour (0xRRGGBB), managed by the window manager, owned by this process.
class TestWindow {
public:
    TestWindow(xcb_connection_t* connection, int width, int height, std::uint32_t colour)
        : connection_(connection), window_(xcb_generate_id(connection)) {
        const std::uint32_t values[] = {colour};
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window_, root(), 0, 0,
                          static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, values);
        xcb_map_window(connection, window_);
        xcb_flush(connection);
    }
    ~TestWindow() { destroy(); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    void destroy() {
        if (window_ != 0) {
            xcb_destroy_window(connection_, window_);
            xcb_flush(connection_);
            window_ = 0;
        }
    }
    // Asks the window manager for a new place and size, and waits until the window has them.
    Rect configure(int x, int y, int width, int height) {
        const std::uint32_t values[] = {static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y),
                                        static_cast<std::uint32_t>(width),
                                        static_cast<std::uint32_t>(height)};
        xcb_configure_window(
            connection_, window_,
            XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
            values);
        xcb_flush(connection_);
        // The inside lies a little right of and below the frame's corner.
        Rect now;
        waitUntil(
            [&] {
                now = placement();
                return now.width == width && now.height == height && now.x >= x && now.x < x + 50 &&
                       now.y >= y && now.y < y + 50;
            },
            10s);
        return now;
    }
    // Where the window's inside lies now in root coordinates; empty while it is not shown.
    Rect placement() const {
        const auto attributes = xcbReply(xcb_get_window_attributes_reply, connection_,
                                         xcb_get_window_attributes(connection_, window_));
        const auto geometry =
            xcbReply(xcb_get_geometry_reply, connection_, xcb_get_geometry(connection_, window_));
        const auto place = xcbReply(xcb_translate_coordinates_reply, connection_,
                                    xcb_translate_coordinates(connection_, window_, root(), 0, 0));
        if (!attributes || !geometry || !place || attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
            return {};
        }
        return {place->dst_x, place->dst_y, geometry->width, geometry->height};
    }
    Window asShareable() const {
        return Window{window_, true, ApplicationRecord{"", ::getpid()}, placement()};
    }

private:
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root; }

    xcb_connection_t* connection_;
    xcb_window_t window_;
};

// A sound server in a folder of its own: "tavrin_sink" (a null sink, the default) and, on PulseAudio,
// "tavrin_mic" (a null source, the default source). PulseAudio's daemon, or PipeWire with WirePlumber
// and its PulseAudio server (scripts/lib/pipewire-sound.sh).
class TestSoundServer {
public:
    enum class Kind { pulseAudio, pipeWire };

    explicit TestSoundServer(Kind kind = Kind::pulseAudio) : kind_(kind) { start(); }
    ~TestSoundServer() {
        kill(SIGTERM);
        ::unsetenv("PULSE_SERVER");
    }
    TestSoundServer(const TestSoundServer&) = delete;
    TestSoundServer& operator=(const TestSoundServer&) = delete;

    bool ready() const { return ready_; }

    // Starts the server, again after kill, on the same socket.
    void start() {
        const std::string socket = this->socket();
        std::filesystem::remove(socket);
        ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
        const auto scripts = std::filesystem::path(__FILE__).parent_path() / "../../scripts/lib";
        daemon_ = std::make_unique<ChildProcess>(
            kind_ == Kind::pipeWire
                ? std::vector<std::string>{"/bin/bash", scripts / "pipewire-sound.sh", folder_.path()}
                : std::vector<std::string>{"/usr/bin/pulseaudio", "-n", "--daemonize=no", "--system=no",
                                           "--use-pid-file=no", "--exit-idle-time=-1", "--disallow-exit",
                                           "--disallow-module-loading=no", "-L",
                                           "module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                                           "-L", "module-null-sink sink_name=tavrin_sink", "-L",
                                           "module-null-source source_name=tavrin_mic"},
            environment());
        ready_ =
            waitUntil([&] { return !daemon_->running() || run("pactl get-default-sink") == "tavrin_sink\n"; },
                      20s) &&
            daemon_->running();
    }
    void kill(int signal = SIGKILL) { stopChild(daemon_, signal); }

    // Runs pactl against this server; its exit code.
    int pactl(const std::vector<std::string>& arguments) const {
        std::vector<std::string> command{"/usr/bin/pactl"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return ChildProcess(command, environment()).wait(10s).value_or(-1);
    }

    // Makes "tavrin_remap" the default source: the monitor of a second null sink, "mic_feed", remapped
    // so that it is no monitor itself.
    bool addMicrophone() const {
        return pactl({"load-module", "module-null-sink", "sink_name=mic_feed"}) == 0 &&
               pactl({"load-module", "module-remap-source", "master=mic_feed.monitor",
                      "source_name=tavrin_remap"}) == 0 &&
               pactl({"set-default-source", "tavrin_remap"}) == 0;
    }

    // A file of a sine tone (a quarter of full scale, 48 kHz mono) for `seconds`, then silence up to
    // `padded` seconds.
    std::string tone(double frequency, double seconds, double padded = 0) const {
        const std::string path = folder_.file("tone-" + std::to_string(static_cast<int>(frequency)) + ".raw");
        ChildProcess({"/usr/bin/ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                      "sine=frequency=" + std::to_string(frequency) + ":duration=" + std::to_string(seconds),
                      "-af", "volume=2,apad=whole_dur=" + std::to_string(std::max(padded, seconds)), "-f",
                      "s16le", "-ac", "1", "-ar", "48000", path},
                     {})
            .wait(20s);
        return path;
    }
    // Plays a tone into a sink with pacat, whose client (application.name) is `name`.
    std::unique_ptr<ChildProcess> playTone(const std::string& sink, double frequency, double seconds,
                                           const std::string& name = "pacat") const {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/pacat", "--playback", "--raw", "--device=" + sink,
                                     "--client-name=" + name, "--format=s16le", "--rate=48000",
                                     "--channels=1", tone(frequency, seconds)},
            environment());
    }

    std::map<std::string, std::string> environment() const {
        return {{"HOME", folder_.path()},
                {"XDG_RUNTIME_DIR", folder_.path()},
                {"XDG_CONFIG_HOME", folder_.path()},
                {"PULSE_SERVER", "unix:" + socket()},
                {"DISPLAY", ""}};
    }
    // A shell command's output with this server's environment.
    std::string run(const std::string& command) const {
        std::string assignments;
        for (const auto& [name, value] : environment()) {
            assignments += " " + name + "='" + value + "'";
        }
        return testing::run("env" + assignments + " " + command);
    }

private:
    std::string socket() const { return folder_.file(kind_ == Kind::pulseAudio ? "native" : "pulse/native"); }

    Kind kind_;
    TemporaryFolder folder_;
    std::unique_ptr<ChildProcess> daemon_;
    bool ready_ = false;
};

}  // namespace vidora::testing
