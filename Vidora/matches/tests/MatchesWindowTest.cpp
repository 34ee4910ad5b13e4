// SPDX-License-Identifier: GPL-3.0-or-later
// The Matches window and the player on a real X server under openbox: a folder of the real logs' matches
// (replayed by parlan-replay, with their records) beside movies the recorder's writer makes, filtered,
// played, kept and deleted. Screenshots of both windows land in the build tree.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDir>
#include <QTest>
#include <filesystem>
#include <set>

#include "MatchesWindow.h"
#include "SyntheticCapture.h"
#include "TestDesktop.h"
#include "capture/MovieStorage.h"
#include "player/app/MpvPlayer.h"
#include "player/app/PlayerWindow.h"
#include "player/app/SeekBar.h"
#include "writer/FfmpegMovieWriter.h"

namespace vidora {
namespace {

namespace fs = std::filesystem;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::writeFile;
using namespace std::chrono_literals;

// The match the player plays: two deaths of a 4 s movie.
const std::string played = "2025-03-07 21.04.07";
const std::string playedRecord = R"({"version": 1, "duration": 4.0, "ending": "match end",
 "zone": {"id": 1672, "name": "Blade's Edge Arena"}, "bracket": {"name": "2v2", "rated": true, "shuffle": false},
 "player": {"guid": "P-1", "name": "Boppitty", "spec": "Affliction", "class": "Warlock", "team": 0},
 "combatants": [{"guid": "P-1", "name": "Boppitty", "team": 0, "spec": "Affliction", "class": "Warlock"},
                {"guid": "P-2", "name": "Thoaxx", "team": 1, "spec": "Arms", "class": "Warrior"}],
 "deaths": [{"time": 1.5, "round": 1, "guid": "P-2", "name": "Thoaxx", "team": 1, "side": "enemy"},
            {"time": 2.8, "round": 1, "guid": "P-1", "name": "Boppitty", "team": 0, "side": "friend"}],
 "rounds": [{"number": 1, "start": 0, "end": 4.0, "winner": 0, "result": "win"}],
 "result": {"outcome": "win", "roundsWon": 1, "roundsLost": 0, "roundsDrawn": 0}, "end": null})";

void screenshot(QWidget& window, const QString& name) {
    EXPECT_TRUE(window.grab().save(QStringLiteral(VIDORA_MATCHES_ARTIFACTS "/%1.png").arg(name)))
        << name.toStdString();
}

// The rows the window shows, by their stamps.
std::set<std::string> shownStamps(MatchesWindow& window) {
    std::set<std::string> stamps;
    for (int row = 0; row < window.shown().rowCount(); ++row) {
        stamps.insert(window.matches()
                          .summary(window.shown().mapToSource(window.shown().index(row, 0)).row())
                          .file.stamp);
    }
    return stamps;
}

void select(MatchesWindow& window, const std::string& stamp) {
    window.table().clearSelection();
    for (int row = 0; row < window.shown().rowCount(); ++row) {
        const QModelIndex index = window.shown().index(row, 0);
        if (window.matches().summary(window.shown().mapToSource(index).row()).file.stamp == stamp) {
            window.table().selectRow(row);
            return;
        }
    }
    ADD_FAILURE() << stamp << " is not shown";
}

TEST(MatchesWindow, ListsFiltersPlaysDeletesAndKeeps) {
    QDir().mkpath(QStringLiteral(VIDORA_MATCHES_ARTIFACTS));
    TemporaryFolder home;
    const std::string folder = home.path() + "/TavrinMovies";
    for (const char* log : {"retail-11.0.2-soloshuffle-x4-reloads.txt", "retail-11.2-3v3-reduced.txt",
                            "retail-11.0.2beta-skirmish-3v3-full-session.txt"}) {
        ASSERT_EQ(testing::run(std::string("'" PARLAN_REPLAY "' '" TAVRIN_COMBATLOGS) + log + "' '" +
                               home.path() + "' >/dev/null 2>&1; echo $?"),
                  "0\n");
    }
    // One small movie of the recorder's own, beside every match.
    const std::string movie = home.file("movie.mp0");
    FfmpegMovieWriter writer;
    ASSERT_TRUE(writer.startWriting(movie, videoSettings(640, 360), audioSettings()));
    writer.startSession(testing::firstFrame);
    testing::capture(writer, 0ms, 4s, 640, 360);
    writer.finishWriting();
    std::set<std::string> replayed;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".srt") {
            replayed.insert(entry.path().stem().string());
            fs::create_hard_link(movie, fs::path(entry.path()).replace_extension("mp4"));
        }
    }
    ASSERT_GE(replayed.size(), 3U);
    fs::copy_file(movie, folder + "/" + played + ".mp4");
    writeFile(folder + "/" + played + ".json", playedRecord);
    writeFile(folder + "/2025-03-08 20.00.00.mp0", "being recorded");
    writeFile(folder + "/2025-03-06 20.00.00.mp4", "not a movie");
    writeFile(folder + "/2025-03-06 20.00.00.json", R"({"version": 7})");
    writeFile(folder + "/holiday.mp4", "not the recorder's");

    QStringList questions;
    MatchesWindow window({.moviesFolder = QString::fromStdString(folder),
                          .cacheFolder = QString::fromStdString(home.file("cache")),
                          .confirm =
                              [&](const QString& question) {
                                  questions.append(question);
                                  return true;
                              },
                          .reveal = {},
                          .openWith = {}});
    const QAbstractItemModelTester checkRows(&window.matches());
    const QAbstractItemModelTester checkShown(&window.shown());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const std::size_t all = replayed.size() + 3;
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownStamps(window).size() == all; }, 10000));
    EXPECT_EQ(shownStamps(window).count("holiday"), 0U);
    const auto row = [&](const std::string& stamp) {
        for (int index = 0; index < window.matches().rowCount(); ++index) {
            if (window.matches().summary(index).file.stamp == stamp) {
                return window.matches().summary(index);
            }
        }
        return MatchRow();
    };
    // The replayed logs' records: a skirmish won, and four shuffles by their rounds.
    std::multiset<std::string> results;
    for (const std::string& stamp : replayed) {
        results.insert(row(stamp).resultText());
        EXPECT_EQ(row(stamp).note, "") << stamp;
    }
    EXPECT_EQ(results, (std::multiset<std::string>{"Won", "4-2", "3-3", "2-4", "2-4"}));
    EXPECT_EQ(row("2025-03-08 20.00.00").note, "Being recorded.");
    EXPECT_EQ(row("2025-03-06 20.00.00").note,
              "The match record is of a newer version (7): update Vidora to read it.");
    // The broken movie's picture cannot be made: the row says so once the view has asked for it.
    window.table().scrollToBottom();
    const QModelIndex broken =
        window.matches().index(window.matches().rowOf(folder + "/2025-03-06 20.00.00.mp4"), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return broken.data().toString().contains("cannot be opened"); }, 10000))
        << broken.data().toString().toStdString();
    window.table().scrollToTop();
    QTest::qWait(300);  // the pictures of the rows on screen
    screenshot(window, QStringLiteral("1-matches"));

    // A filter narrows the list; the search too.
    window.bracketChoice().setCurrentIndex(window.bracketChoice().findData(QStringLiteral("2v2")));
    EXPECT_EQ(shownStamps(window), std::set<std::string>{played});
    window.bracketChoice().setCurrentIndex(0);
    window.search().setText(QStringLiteral("blade's edge WARLOCK"));
    EXPECT_EQ(shownStamps(window), std::set<std::string>{played});
    screenshot(window, QStringLiteral("2-searched"));

    // Played: N seeks to each death in turn.
    select(window, played);
    window.play();
    PlayerWindow& player = *window.player();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&player));
    ASSERT_TRUE(QTest::qWaitFor([&] { return player.player().length() > 3.5; }, 10000))
        << player.message().toStdString();
    QTest::keyClick(&player, Qt::Key_K);
    ASSERT_TRUE(QTest::qWaitFor([&] { return player.player().paused(); }, 5000));
    for (const double death : {1.5, 2.8}) {
        QTest::keyClick(&player, Qt::Key_N);
        EXPECT_TRUE(QTest::qWaitFor([&] { return std::abs(player.player().position() - death) < 0.2; }, 5000))
            << "at " << player.player().position() << " for the death at " << death;
    }
    EXPECT_EQ(player.seekBar().markAt(player.seekBar().xOf(1.5)).toStdString(), "0:02  Thoaxx died");
    EXPECT_EQ(player.events().count(), 2);
    // Both sound tracks are heard; without the microphone the game's alone.
    EXPECT_EQ(player.player().property("lavfi-complex"), "[aid1] [aid2] amix=inputs=2:normalize=0 [ao]");
    player.microphone().click();
    // Both are set asynchronously, in that order.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return player.player().property("lavfi-complex").isEmpty() &&
                   player.player().property("aid") == QStringLiteral("1");
        },
        5000))
        << player.player().property("aid").toStdString();
    screenshot(player, QStringLiteral("3-player"));
    player.close();

    // Deleted: the match's files go to the trash after one question.
    window.search().clear();
    const std::string deleted = *replayed.begin();
    select(window, deleted);
    window.deleteSelected();
    EXPECT_EQ(questions.size(), 1);
    const std::string trash = std::string(std::getenv("XDG_DATA_HOME")) + "/Trash/files/";
    EXPECT_TRUE(fs::exists(trash + deleted + ".mp4"));
    EXPECT_TRUE(fs::exists(trash + deleted + ".srt"));
    EXPECT_TRUE(fs::exists(trash + deleted + ".log"));
    EXPECT_FALSE(fs::exists(folder + "/" + deleted + ".mp4"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shownStamps(window).contains(deleted); }, 5000));

    // Kept: the files move into Kept, and the storage limit spares them.
    select(window, played);
    window.toggleKept();
    EXPECT_TRUE(fs::exists(folder + "/Kept/" + played + ".mp4"));
    EXPECT_TRUE(fs::exists(folder + "/Kept/" + played + ".json"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return row(played).file.kept; }, 5000));
    MovieStorage([](const std::string&) { return std::optional<std::uint64_t>(); }).keepWithin(folder, 1);
    EXPECT_TRUE(fs::exists(folder + "/Kept/" + played + ".mp4"));
    // Left: the kept one, the recording, and the newest movie, which the limit always spares.
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownStamps(window).size() == 3; }, 5000));
    EXPECT_TRUE(fs::exists(folder + "/2025-03-08 20.00.00.mp0"));
    screenshot(window, QStringLiteral("4-kept"));
}

}  // namespace
}  // namespace vidora

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();  // test discovery needs no desktop
    }
    vidora::testing::TestDisplay desktop;
    if (!desktop.ready()) {
        std::cerr << "no Xvfb with openbox\n";
        return 1;
    }
    // The player's sound plays on a server, as on a desktop.
    vidora::testing::TestSoundServer sound;
    if (!sound.ready()) {
        std::cerr << "no PulseAudio daemon\n";
        return 1;
    }
    // The trash and the cache of a home of the test's own.
    const tavrin::testing::TemporaryFolder home;
    ::setenv("XDG_DATA_HOME", home.path().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
