#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "FakeWorkspace.h"
#include "ProxyApplication.h"
#include "TemporaryFolder.h"

namespace parlan {
namespace {

using tavrin::testing::FakeWorkspace;
using tavrin::testing::TemporaryFolder;

// Runs the event loop until the window shows `text`, for at most ten seconds.
bool waitForStatus(ProxyWindow& window, const QString& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (window.status() != text && std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return window.status() == text;
}

// The polling thread's status reaches the window through its event loop; started hidden (as the
// recorder starts it) the window comes up minimised.
TEST(ProxyApplication, StatusFromThePollingThreadReachesTheWindow) {
    for (const bool gameRuns : {false, true}) {
        TemporaryFolder movies;
        FakeWorkspace work;
        const std::string gameFolder = movies.path() + "/wow/_retail_/";
        std::filesystem::create_directories(gameFolder + "Logs");
        work.paths[std::string(tavrin::gameBundleIdentifier)] = gameFolder + "Wow.exe";
        if (gameRuns) {
            work.run(4242, std::string(tavrin::gameBundleIdentifier));
        }
        ProxyApplication proxy(work, movies.path());
        proxy.start(gameRuns);
        EXPECT_TRUE(
            waitForStatus(proxy.window(), gameRuns ? "Working..." : "World of Warcraft is not running"));
        EXPECT_EQ(proxy.window().isMinimized(), gameRuns);
        proxy.stop();
    }
}

// Without a home there is nowhere to write: nothing is started, and nothing fails.
TEST(ProxyApplication, NoHomeLeavesTheStatusAtStart) {
    FakeWorkspace work;
    work.run(4242, std::string(tavrin::gameBundleIdentifier));
    ProxyApplication proxy(work, std::nullopt);
    proxy.start(false);
    QApplication::processEvents();
    EXPECT_EQ(proxy.window().status(), "...");
}

}  // namespace
}  // namespace parlan

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
