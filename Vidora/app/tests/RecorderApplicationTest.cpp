// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder as it is launched, with fakes only at its platform seams: the capture engine, the free space
// on the disk, the notification server, and no display. Its settings file, movies folders, storage and
// controller are real.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <filesystem>

#include "ChildProcess.h"
#include "FakeRecorder.h"
#include "FakeWorkspace.h"
#include "RecorderApplication.h"
#include "RecorderSettings.h"
#include "SettingsWindow.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
constexpr std::uint64_t gigabyte = MovieStorage::gigabyte;

TEST(RecorderApplication, KeepsTheStorageAtLaunchAndAfterEachRecordingAndRemembersThePlayersChoices) {
    tavrin::testing::TemporaryFolder home;
    ::setenv("HOME", home.path().c_str(), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "DISPLAY", "WAYLAND_DISPLAY"}) {
        ::unsetenv(name);
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(home.path()));
    const std::string movies = home.file("Videos/TavrinMovies/");
    const std::string earlier = home.file("earlier/");
    const auto make = [](const std::string& path, const std::string& text, std::uint64_t size = 0) {
        fs::create_directories(fs::path(path).parent_path());
        tavrin::testing::writeFile(path, text);
        fs::resize_file(path, std::max<std::uint64_t>(size, text.size()));  // sparse
    };
    // Three movies of 20 GB, an unfinished one with a whole fragment here and one in the folder used before,
    // and a limit edited by hand that cannot be read.
    for (const std::string day : {"01", "02", "03"}) {
        make(movies + "2025-01-" + day + " 10.00.00.mp4", "", 20 * gigabyte);
    }
    const std::string fragment = std::string("\0\0\0\x08moov\0\0\0\x08moof\0\0\0\x10mdat12345678", 32);
    make(movies + "2025-01-04 10.00.00.mp0", fragment);
    make(earlier + "2025-01-05 10.00.00.mp0", fragment);
    make(home.file("Tavrinworks/Vidora.conf"), "[storage]\nlimitGB=1,000\nearlierFolders=" + earlier + "\n");

    tavrin::testing::FakeWorkspace work;
    testing::FakeRecorder recorder;
    std::uint64_t free = gigabyte / 2;
    std::vector<RecordingNotice> notices;
    const RecorderApplication::Options options{
        .webSite = "http://127.0.0.1:9",
        .loadVersionPage = false,
        .recorder = &recorder,
        .freeSpace = [&](const std::string&) { return std::optional(free); },
        .notify = [&](const RecordingNotice& notice) { notices.push_back(notice); }};
    const auto settle = [](const auto& condition) {
        return tavrin::testing::waitUntil(
            [&] {
                QCoreApplication::processEvents();
                return condition();
            },
            10s);
    };
    const std::vector<DisplayItem> applications = {
        {0, "World of Warcraft", "", "com.blizzard.worldofwarcraft", {}}};
    {
        RecorderApplication application(work, options);
        ASSERT_TRUE(application.launch());
        ContentView& view = application.view();
        EXPECT_TRUE(settle([&] {
            return fs::exists(movies + "2025-01-04 10.00.00.mp4") &&
                   fs::exists(earlier + "2025-01-05 10.00.00.mp4");
        }));
        // The player chooses the game and the microphone; with too little room the recording is refused,
        // after the launch's keeping of the limit, which deleted nothing.
        view.searchApps({{7, 1920, 1080}}, applications);
        view.onDisplayButton();
        view.onMicrophoneButton();
        view.onRecordButton(true, std::nullopt);
        EXPECT_FALSE(view.isRecording());
        ASSERT_EQ(notices.size(), 1U);
        EXPECT_EQ(notices[0].body.find("Less than 1 GB is free on the disk of " + home.file("Videos")), 0U);
        EXPECT_TRUE(fs::exists(movies + "2025-01-01 10.00.00.mp4"));

        // With room and a limit saved, a recording of 30 GB, more than the whole limit: the older movies go,
        // it stays, and the player is told.
        tavrin::recorderSettings()->setValue(storageLimitKey, 25);
        free = 100 * gigabyte;
        view.onRecordButton(true, std::nullopt);
        ASSERT_TRUE(settle([&] { return recorder.recording.load(); }));
        const std::string movie = fs::path(recorder.starts.at(0)).replace_extension("mp4");
        make(movie, "", 30 * gigabyte);
        recorder.result =
            RecordingResult{.movie = movie, .fileKept = true, .seconds = 1800, .problem = {}, .target = {}};
        view.onRecordButton(false, std::nullopt);
        EXPECT_TRUE(
            settle([&] { return notices.size() == 2 && !fs::exists(movies + "2025-01-03 10.00.00.mp4"); }));
        EXPECT_EQ(notices.back().title, "Storage limit smaller than a match");
        EXPECT_TRUE(fs::exists(movie));
    }

    // Launched again: the limit is kept at once, the choices are as the player left them, and a chosen folder
    // that is missing refuses a recording and is not made.
    make(movies + "2025-02-01 10.00.00.mp4", "", gigabyte);
    RecorderApplication application(work, options);
    ASSERT_TRUE(application.launch());
    EXPECT_TRUE(settle([&] { return !fs::exists(movies + "2025-02-01 10.00.00.mp4"); }));
    tavrin::recorderSettings()->setValue(tavrin::moviesFolderKey,
                                         QString::fromStdString(home.file("drive/movies")));
    application.view().searchApps({{7, 1920, 1080}}, applications);
    EXPECT_TRUE(application.view().micEnable());
    EXPECT_EQ(application.view().selected(), applications[0]);
    application.view().onRecordButton(true, std::nullopt);
    EXPECT_EQ(notices.back().body,
              "The movies folder " + home.file("drive/movies") + " is missing: is its drive mounted?");
    EXPECT_FALSE(fs::exists(home.file("drive")));
}

}  // namespace
}  // namespace vidora
