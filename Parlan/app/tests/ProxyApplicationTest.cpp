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

TEST(ProxyApplication, WindowIsAFixedStatusLine) {
    TemporaryFolder movies;
    FakeWorkspace work;
    ProxyApplication proxy(work, movies.path());
    EXPECT_EQ(proxy.window().windowTitle(), "Parlan");
    EXPECT_EQ(proxy.window().status(), "...");
    EXPECT_EQ(proxy.window().minimumSize(), QSize(300, 100));
    EXPECT_EQ(proxy.window().maximumSize(), QSize(300, 100));
    EXPECT_FALSE(proxy.window().windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(proxy.window().windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST(ProxyApplication, StatusFollowsTheGameFromThePollingThread) {
    TemporaryFolder movies;
    FakeWorkspace work;
    const std::string gameFolder = movies.path() + "/Games/wow/drive_c/World of Warcraft/_retail_/";
    std::filesystem::create_directories(gameFolder + "Logs");
    work.paths[std::string(tavrin::gameBundleIdentifier)] = gameFolder + "Wow.exe";

    ProxyApplication proxy(work, movies.path());
    proxy.start(false);
    EXPECT_TRUE(waitForStatus(proxy.window(), "World of Warcraft is not running"));
    EXPECT_TRUE(std::filesystem::is_directory(movies.path() + "/TavrinMovies/.logs"));
    proxy.stop();
}

TEST(ProxyApplication, RunningGameShowsWorking) {
    TemporaryFolder movies;
    FakeWorkspace work;
    const std::string gameFolder = movies.path() + "/wow/_retail_/";
    std::filesystem::create_directories(gameFolder + "Logs");
    work.paths[std::string(tavrin::gameBundleIdentifier)] = gameFolder + "Wow.exe";
    work.run(4242, std::string(tavrin::gameBundleIdentifier));

    ProxyApplication proxy(work, movies.path());
    proxy.start(true);
    EXPECT_TRUE(waitForStatus(proxy.window(), "Working..."));
    EXPECT_TRUE(proxy.window().isMinimized());
    proxy.stop();
}

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
