// The recorder program as a player runs it, on a real X server with openbox and a sound server: one
// copy per user, and quitting by signal or through the window finishes the movie and stops the proxy.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <thread>

#include "MovieProbe.h"
#include "TestDesktop.h"
#include "linux/X11Connection.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using tavrin::testing::readFile;
using testing::ChildProcess;
using testing::probe;
using testing::run;
using testing::TemporaryFolder;
using testing::waitUntil;

struct Process {
    pid_t pid;
    std::string name;
    std::string environment;
    // Ended but not reaped yet.
    bool zombie;
};

// This user's processes, with their executable names and environments.
std::vector<Process> userProcesses() {
    std::vector<Process> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pid = entry.path().filename();
        struct stat status {};
        if (pid.find_first_not_of("0123456789") != std::string::npos ||
            ::stat(entry.path().c_str(), &status) != 0 || status.st_uid != ::getuid()) {
            continue;
        }
        const std::string stat = readFile(entry.path() / "stat");
        const auto end = stat.rfind(") ");
        std::string name = readFile(entry.path() / "comm");
        name = name.substr(0, name.find('\n'));
        found.push_back({std::stoi(pid), name, readFile(entry.path() / "environ"),
                         end == std::string::npos || stat[end + 2] == 'Z'});
    }
    return found;
}

// The proxies running with this home, as the recorder started for it starts them.
std::vector<pid_t> proxies(const std::string& home) {
    std::vector<pid_t> found;
    for (const auto& process : userProcesses()) {
        const std::string variable = "HOME=" + home + '\0';
        if (process.name == "Parlan" && !process.zombie &&
            (process.environment.starts_with(variable) ||
             process.environment.find('\0' + variable) != std::string::npos)) {
            found.push_back(process.pid);
        }
    }
    return found;
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Both programs run once per user: a copy from elsewhere would make ours quit at once. The
        // proxy of an earlier test may still be finishing its pass, and until it is reaped the
        // programs take it for a running copy.
        std::optional<Process> other;
        waitUntil(
            [&] {
                other.reset();
                for (auto& process : userProcesses()) {
                    if (process.name == "Vidora" || process.name == "Parlan") {
                        other = std::move(process);
                    }
                }
                return !other;
            },
            10s);
        if (other) {
            GTEST_SKIP() << other->name << " already runs for this user (pid " << other->pid << ")";
        }
    }

    // A failed test leaves no proxy behind to make the next one skip.
    void TearDown() override {
        for (const pid_t proxy : proxies(home.path())) {
            ::kill(proxy, SIGTERM);
        }
    }

    std::unique_ptr<ChildProcess> startRecorder() const {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{VIDORA_PROGRAM},
            std::map<std::string, std::string>{{"HOME", home.path()},
                                               {"XDG_CONFIG_HOME", home.path() + "/.config"},
                                               {"TAVRIN_NO_VERSION_PAGE", "1"},
                                               {"TAVRIN_SITE", "http://127.0.0.1:9"},
                                               {"PULSE_SERVER", ::getenv("PULSE_SERVER")}});
    }
    // The program's shown window, with its proxy running beside it.
    std::string launched(ChildProcess& recorder) const {
        std::string window;
        EXPECT_TRUE(waitUntil(
            [&] {
                window = run("xdotool search --onlyvisible --pid " + std::to_string(recorder.pid()));
                return !window.empty();
            },
            30s));
        EXPECT_TRUE(waitUntil([&] { return proxies(home.path()).size() == 1; }, 30s));
        return window.substr(0, window.find('\n'));
    }
    std::vector<std::string> movies(std::string_view extension) const {
        std::vector<std::string> found;
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator(home.path() + "/Videos/TavrinMovies", error)) {
            if (entry.path().extension() == extension) {
                found.push_back(entry.path());
            }
        }
        return found;
    }

    TemporaryFolder home;
};

TEST_F(ShellTest, SecondCopyQuitsAndLeavesTheFirstCopysProxy) {
    const auto first = startRecorder();
    launched(*first);
    const auto proxy = proxies(home.path());
    ASSERT_EQ(proxy.size(), 1u);

    const auto second = startRecorder();
    EXPECT_EQ(second->wait(20s), 0);
    EXPECT_TRUE(first->running());
    // A proxy told to quit is gone within its 300 ms pass.
    EXPECT_FALSE(waitUntil([&] { return proxies(home.path()) != proxy; }, 2s));

    first->signal(SIGTERM);
    EXPECT_EQ(first->wait(30s), 0);
    EXPECT_TRUE(waitUntil([&] { return proxies(home.path()).empty(); }, 15s));
}

TEST_F(ShellTest, TerminatedWhileRecordingFinishesTheMovieAndStopsTheProxy) {
    const auto recorder = startRecorder();
    const std::string window = launched(*recorder);
    ASSERT_FALSE(window.empty());
    const std::string height =
        run("xdotool getwindowgeometry --shell " + window + " | sed -n 's/HEIGHT=//p'");
    ASSERT_FALSE(height.empty());
    // The record button is the first of the row at the window's foot; it is disabled until the first
    // target list is in, so a click before that is repeated.
    const std::string clickRecord =
        "xdotool mousemove --window " + window + " 90 " + std::to_string(std::stoi(height) - 65) + " click 1";
    bool recording = false;
    for (int attempt = 0; attempt < 5 && !recording; ++attempt) {
        run(clickRecord);
        recording = waitUntil([&] { return !movies(".mp0").empty(); }, 5s);
    }
    ASSERT_TRUE(recording);
    std::this_thread::sleep_for(3s);

    recorder->signal(SIGTERM);
    EXPECT_EQ(recorder->wait(30s), 0);
    EXPECT_TRUE(movies(".mp0").empty());
    const auto finished = movies(".mp4");
    ASSERT_EQ(finished.size(), 1u);
    std::cout << "movie: " << finished[0] << std::endl;
    const auto sections = probe(finished[0]);
    ASSERT_FALSE(sections.empty());
    EXPECT_EQ(sections.front().at("codec_name"), "hevc");
    EXPECT_GT(std::stod(sections.back().at("duration")), 1.0);
    EXPECT_TRUE(waitUntil([&] { return proxies(home.path()).empty(); }, 15s));
}

// Asks the window manager to close the window, as its close button does.
void closeThroughWindowManager(xcb_window_t window) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const auto reply =
        xcbReply(xcb_intern_atom_reply, connection, xcb_intern_atom(connection, 0, 17, "_NET_CLOSE_WINDOW"));
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    event.data.data32[1] = 2;  // from a pager or taskbar: always honoured
    xcb_send_event(connection, 0, xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
    xcb_disconnect(connection);
}

TEST_F(ShellTest, ClosingTheWindowQuitsAndStopsTheProxy) {
    const auto recorder = startRecorder();
    const std::string window = launched(*recorder);
    ASSERT_FALSE(window.empty());
    // Asked again while it runs: a request that reaches openbox before it manages the window is lost.
    std::optional<int> status;
    for (int attempt = 0; attempt < 6 && !status; ++attempt) {
        closeThroughWindowManager(static_cast<xcb_window_t>(std::stoul(window)));
        status = recorder->wait(5s);
    }
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(waitUntil([&] { return proxies(home.path()).empty(); }, 15s));
}

}  // namespace
}  // namespace vidora

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();  // test discovery needs no desktop
    }
    const vidora::testing::TestDisplay desktop;
    const vidora::testing::TestSoundServer sound;
    if (!desktop.ready() || !sound.ready()) {
        std::cerr << "no Xvfb with openbox, or no sound server\n";
        return 1;
    }
    return RUN_ALL_TESTS();
}
