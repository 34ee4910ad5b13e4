// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "FakeWorkspace.h"
#include "ProxyApplication.h"
#include "TemporaryFolder.h"
#include "common/ProxyStatus.h"

namespace parlan {
namespace {

// The polling thread's status reaches the window through its event loop and the recorder's status file,
// where a quit leaves its own line; started hidden (as the recorder starts it) the window comes up
// minimised. Without a home nothing starts, and nothing fails.
TEST(ProxyApplication, StatusFromThePollingThreadReachesTheWindow) {
    for (const auto& [home, gameRuns, status] :
         std::vector<std::tuple<bool, bool, QString>>{{false, true, "..."},
                                                      {true, false, "World of Warcraft is not running"},
                                                      {true, true, AddonCheck::missingText.data()}}) {
        tavrin::testing::TemporaryFolder movies;
        tavrin::testing::FakeWorkspace work;
        const std::string gameFolder = movies.path() + "/wow/_retail_/";
        std::filesystem::create_directories(gameFolder + "Logs");
        work.paths[std::string(tavrin::gameBundleIdentifier)] = gameFolder + "Wow.exe";
        if (gameRuns) {
            work.run(4242, std::string(tavrin::gameBundleIdentifier));
        }
        const std::string statusFile = movies.file("state/Parlan.status");
        ProxyApplication proxy(work, home ? std::optional(movies.path()) : std::nullopt, statusFile);
        proxy.start(gameRuns);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        do {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (proxy.window().status() != status && std::chrono::steady_clock::now() < deadline);
        EXPECT_EQ(proxy.window().status(), status);
        EXPECT_EQ(proxy.window().isMinimized(), gameRuns);
        EXPECT_EQ(tavrin::testing::readFile(statusFile), home ? status.toStdString() + "\n" : "");
        proxy.quit();  // a quit, told apart from a crash
        EXPECT_EQ(tavrin::testing::readFile(statusFile), tavrin::proxyQuitLine(::getpid()) + "\n");
    }
}

}  // namespace
}  // namespace parlan

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
