#pragma once

// A desktop and a sound server of the test's own: Xvfb with openbox, and a PulseAudio daemon with a
// null sink and a null source. Each sets the variable that points this process at it (DISPLAY,
// PULSE_SERVER) while it lives.
#include <signal.h>
#include <xcb/xcb.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TemporaryFolder.h"
#include "capture/ShareableContent.h"

namespace vidora::testing {

using namespace std::chrono_literals;
using tavrin::testing::ChildProcess;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::waitUntil;

using XcbConnection = std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)>;

template <typename Reply>
std::unique_ptr<Reply, decltype(&std::free)> reply(Reply* answer) {
    return {answer, &std::free};
}

inline void stopChild(std::unique_ptr<ChildProcess>& child) {
    // SIGTERM lets a server remove its lock file and socket.
    if (child) {
        child->signal(SIGTERM);
        child->wait(10s);
        child.reset();
    }
}

// Xvfb at 1920 x 1080 on a display number no one else uses, with openbox for the window manager.
class TestDisplay {
public:
    TestDisplay() {
        for (const int first : {90, 520}) {
            for (int number = first; number < first + 10 && !server_; ++number) {
                tryNumber(number);
            }
        }
        if (!server_) {
            return;
        }
        ::setenv("DISPLAY", name_.c_str(), 1);
        connection_ = XcbConnection(xcb_connect(name_.c_str(), nullptr), &xcb_disconnect);
        windowManager_ =
            std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/openbox", "--sm-disable"},
                                           std::map<std::string, std::string>{{"DISPLAY", name_}});
        managed_ = waitUntil([&] { return hasWindowManager() && managesWindows(); }, 20s);
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
    void tryNumber(int number) {
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        if (std::filesystem::exists(lock) || std::filesystem::exists(socket)) {
            return;
        }
        auto candidate = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/Xvfb", ":" + std::to_string(number), "-screen", "0",
                                     "1920x1080x24", "-nolisten", "tcp"},
            std::map<std::string, std::string>{});
        // The lock file names the server that won the number; another test may have raced for it.
        const auto serves = [&] {
            return std::filesystem::exists(socket) &&
                   std::atoi(tavrin::testing::readFile(lock).c_str()) == candidate->pid();
        };
        if (waitUntil([&] { return serves() || !candidate->running(); }, 20s) && candidate->running()) {
            server_ = std::move(candidate);
            name_ = ":" + std::to_string(number);
        }
    }

    // An EWMH window manager names its check window on the root.
    bool hasWindowManager() const {
        constexpr std::string_view atomName = "_NET_SUPPORTING_WM_CHECK";
        xcb_connection_t* c = connection();
        const auto atom = reply(xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 1, static_cast<std::uint16_t>(atomName.size()), atomName.data()), nullptr));
        if (!atom || atom->atom == XCB_ATOM_NONE) {
            return false;
        }
        const auto check = reply(xcb_get_property_reply(
            c, xcb_get_property(c, 0, root(), atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr));
        return check && xcb_get_property_value_length(check.get()) == 4;
    }

    // The window manager may name itself before it handles requests, and a window mapped in between
    // stays unmapped: a probe window is shown once it does.
    bool managesWindows() const {
        xcb_connection_t* c = connection();
        const xcb_window_t probe = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, root(), 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(c, probe);
        xcb_flush(c);
        const bool shown = waitUntil(
            [&] {
                const auto tree = reply(xcb_query_tree_reply(c, xcb_query_tree(c, probe), nullptr));
                return tree && tree->parent != root();
            },
            2s);
        xcb_destroy_window(c, probe);
        xcb_flush(c);
        return shown;
    }

    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> windowManager_;
    std::string name_;
    XcbConnection connection_{nullptr, &xcb_disconnect};
    bool managed_ = false;
};

// A window of one colour (0xRRGGBB), managed by the window manager, owned by this process.
class TestWindow {
public:
    TestWindow(xcb_connection_t* connection, int width, int height, std::uint32_t colour)
        : connection_(connection), window_(xcb_generate_id(connection)) {
        const xcb_screen_t& screen = *xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const std::uint32_t values[] = {colour};
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window_, screen.root, 0, 0,
                          static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen.root_visual, XCB_CW_BACK_PIXEL, values);
        xcb_map_window(connection, window_);
        xcb_flush(connection);
    }
    ~TestWindow() { destroy(); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    xcb_window_t id() const { return window_; }
    void destroy() {
        if (window_ != 0) {
            xcb_destroy_window(connection_, window_);
            xcb_flush(connection_);
            window_ = 0;
        }
    }
    // Asks the window manager for a new place and size (of the frame's corner, as ICCCM says).
    void configure(int x, int y, int width, int height) {
        const std::uint32_t values[] = {static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y),
                                        static_cast<std::uint32_t>(width),
                                        static_cast<std::uint32_t>(height)};
        xcb_configure_window(
            connection_, window_,
            XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
            values);
        xcb_flush(connection_);
    }
    // Where the window's inside lies now in root coordinates; empty while it is not shown.
    Rect placement() const {
        const auto attributes = reply(xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, window_), nullptr));
        const auto geometry =
            reply(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window_), nullptr));
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const auto place = reply(xcb_translate_coordinates_reply(
            connection_, xcb_translate_coordinates(connection_, window_, root, 0, 0), nullptr));
        if (!attributes || !geometry || !place || attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
            return {};
        }
        return {place->dst_x, place->dst_y, geometry->width, geometry->height};
    }
    Window asShareable() const {
        return Window{window_, true, ApplicationRecord{"", ::getpid()}, placement()};
    }

private:
    xcb_connection_t* connection_;
    xcb_window_t window_;
};

// A PulseAudio daemon in a folder of its own: "tavrin_sink" (a null sink, the default) and
// "tavrin_mic" (a null source, the default source).
class TestSoundServer {
public:
    TestSoundServer() { start(); }
    ~TestSoundServer() {
        stopChild(daemon_);
        ::unsetenv("PULSE_SERVER");
    }
    TestSoundServer(const TestSoundServer&) = delete;
    TestSoundServer& operator=(const TestSoundServer&) = delete;

    bool ready() const { return ready_; }
    const std::string& address() const { return address_; }

    // Starts the daemon, again after stop or kill, on the same socket.
    void start() {
        const std::string socket = folder_.file("native");
        address_ = "unix:" + socket;
        daemon_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{
                "/usr/bin/pulseaudio", "-n", "--daemonize=no", "--system=no", "--use-pid-file=no",
                "--exit-idle-time=-1", "--disallow-exit", "--disallow-module-loading=no", "-L",
                "module-native-protocol-unix auth-anonymous=1 socket=" + socket, "-L",
                "module-null-sink sink_name=tavrin_sink", "-L", "module-null-source source_name=tavrin_mic"},
            environment());
        ::setenv("PULSE_SERVER", address_.c_str(), 1);
        ready_ =
            waitUntil([&] { return !daemon_->running() || pactl({"info"}) == 0; }, 20s) && daemon_->running();
    }
    void kill() {
        if (daemon_) {
            daemon_->signal(SIGKILL);
            daemon_->wait(10s);
            daemon_.reset();
        }
        std::error_code error;
        std::filesystem::remove(folder_.file("native"), error);
    }

    // Runs pactl against this server; its exit code.
    int pactl(const std::vector<std::string>& arguments) const {
        std::vector<std::string> command{"/usr/bin/pactl"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        ChildProcess tool(command, environment());
        return tool.wait(10s).value_or(-1);
    }

    // Plays a sine tone (a quarter of full scale, 48 kHz mono) into a sink with pacat.
    std::unique_ptr<ChildProcess> playTone(const std::string& sink, double frequency, double seconds) const {
        const std::string path = folder_.file("tone-" + std::to_string(static_cast<int>(frequency)) + ".raw");
        std::vector<std::int16_t> samples(static_cast<std::size_t>(48000 * seconds));
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<std::int16_t>(std::lround(
                8192.0 * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / 48000.0)));
        }
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(samples.data()),
                   static_cast<std::streamsize>(samples.size() * sizeof(std::int16_t)));
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/pacat", "--playback", "--raw", "--device=" + sink,
                                     "--format=s16le", "--rate=48000", "--channels=1", path},
            environment());
    }

private:
    std::map<std::string, std::string> environment() const {
        return {{"HOME", folder_.path()},
                {"XDG_RUNTIME_DIR", folder_.path()},
                {"XDG_CONFIG_HOME", folder_.path()},
                {"PULSE_SERVER", address_},
                {"DISPLAY", ""}};
    }

    TemporaryFolder folder_;
    std::string address_;
    std::unique_ptr<ChildProcess> daemon_;
    bool ready_ = false;
};

}  // namespace vidora::testing
