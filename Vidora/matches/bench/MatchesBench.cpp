// SPDX-License-Identifier: GPL-3.0-or-later
// The Matches window over 5,000 matches (records and subtitles made here, beside 5,000 files of other names):
// the time to list them with no index and after dropping the page cache (cold), and again with the index
// (warm); the longest stall of the GUI thread while it scrolls and the pictures are made. Then the player
// on a 1080p30 HEVC movie of the recorder's writer: real time, the frames mpv dropped, and each seek to
// the next death. Needs a display (scripts/bench-matches starts one).
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "MatchesWindow.h"
#include "SyntheticCapture.h"
#include "TemporaryFolder.h"
#include "common/DateTime.h"
#include "player/app/MpvPlayer.h"
#include "player/app/PlayerWindow.h"
#include "writer/FfmpegMovieWriter.h"

namespace {

namespace fs = std::filesystem;
using namespace vidora;
using namespace std::chrono_literals;
using tavrin::testing::writeFile;

constexpr int matchCount = 5000;

// Waits, and says so when the wait ends without `condition`.
template <typename Condition>
void waitFor(Condition condition, int milliseconds, const char* what) {
    if (!QTest::qWaitFor(condition, milliseconds)) {
        std::printf("player: gave up waiting for %s\n", what);
    }
}

void writeMovie(const std::string& path, int width, int height, std::chrono::milliseconds length, bool busy) {
    FfmpegMovieWriter writer;
    writer.startWriting(path, videoSettings(width, height), audioSettings());
    writer.startSession(testing::firstFrame);
    testing::capture(writer, 0ms, length, width, height, busy);
    writer.finishWriting();
}

// A shuffle's record: six players, a death and a result each round.
std::string shuffleRecord(int match) {
    static const char* const specs[][2] = {{"Affliction", "Warlock"}, {"Restoration", "Druid"},
                                           {"Arms", "Warrior"},       {"Frost", "Mage"},
                                           {"Holy", "Priest"},        {"Subtlety", "Rogue"}};
    std::string combatants;
    for (int player = 0; player < 6; ++player) {
        combatants += std::string(player ? "," : "") + R"({"guid": "Player-11-)" + std::to_string(player) +
                      R"(", "name": "Name)" + std::to_string((match + player) % 997) +
                      R"(-Realm-US", "team": )" + std::to_string(player % 2) +
                      R"(, "teams": [0, 1, 0, 1, 1, 0], "spec": ")" + specs[player][0] + R"(", "class": ")" +
                      specs[player][1] + R"(", "rating": {"personal": 1800, "mmr": 1820}})";
    }
    std::string deaths;
    std::string rounds;
    for (int round = 1; round <= 6; ++round) {
        const std::string end = std::to_string(round * 90 + 30) + ".5";
        deaths += std::string(round > 1 ? "," : "") + R"({"time": )" + end + R"(, "round": )" +
                  std::to_string(round) +
                  R"(, "guid": "Player-11-2", "name": "Name2-Realm-US", "team": 1, "side": ")" +
                  (round % 3 ? "enemy" : "friend") + R"("})";
        rounds += std::string(round > 1 ? "," : "") + R"({"number": )" + std::to_string(round) +
                  R"(, "start": )" + std::to_string(round * 90 - 50) + R"(, "end": )" + end +
                  R"(, "winner": 0, "result": ")" + (round % 3 ? "win" : "loss") + R"("})";
    }
    return R"({"version": 1, "duration": 563.2, "ending": "match end", "zone": {"id": 1505, "name": "Nagrand Arena"},
 "bracket": {"name": "Rated Solo Shuffle", "rated": true, "shuffle": true}, "player": {"guid": "Player-11-0",
 "name": "Name0-Realm-US", "spec": "Affliction", "class": "Warlock", "team": 0, "teams": [0, 1, 0, 1, 1, 0]},
 "combatants": [)" +
           combatants + R"(], "deaths": [)" + deaths + R"(], "rounds": [)" + rounds +
           R"(], "result": {"outcome": null, "roundsWon": 4, "roundsLost": 2, "roundsDrawn": 0},
 "end": {"winningTeam": 0, "duration": 563, "newRating": 1800}})";
}

double processorSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void dropPageCache() {
    ::sync();
    const int file = ::open("/proc/sys/vm/drop_caches", O_WRONLY);
    if (file < 0 || ::write(file, "3", 1) != 1) {
        std::printf(
            "matches: the page cache could not be dropped (not root): \"cold\" is without the index only\n");
    }
    if (file >= 0) {
        ::close(file);
    }
}

// Seconds until the window lists every match, and until its first rows show.
std::pair<double, double> listingTime(MatchesWindow::Options options,
                                      std::unique_ptr<MatchesWindow>& window) {
    QElapsedTimer clock;
    clock.start();
    window = std::make_unique<MatchesWindow>(options);
    window->show();
    double first = 0;
    while (window->matches().rowCount() < matchCount && clock.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        if (first == 0 && window->shown().rowCount() > 0) {
            first = clock.nsecsElapsed() / 1e9;
        }
    }
    return {clock.nsecsElapsed() / 1e9, first};
}

void benchList(const std::string& work) {
    const std::string folder = work + "/TavrinMovies";
    fs::create_directories(folder);
    writeMovie(work + "/movie.mp0", 640, 360, 3s, false);
    const tavrin::Date base = std::chrono::sys_days(std::chrono::year(2024) / 1 / 1);
    for (int match = 0; match < matchCount; ++match) {
        const std::string stamp = tavrin::fileStamp(base + std::chrono::minutes(37 * match));
        fs::create_hard_link(work + "/movie.mp0", folder + "/" + stamp + ".mp4");
        writeFile(folder + "/" + stamp + ".json", shuffleRecord(match));
        writeFile(folder + "/" + stamp + ".srt",
                  "1\r\n00:00:00,000 --> 00:00:02,000\r\nStart: Nagrand Arena\r\n\r\n");
        writeFile(folder + "/clip " + std::to_string(match) + ".txt", "another program's file");
    }
    const MatchesWindow::Options options{.moviesFolder = QString::fromStdString(folder),
                                         .cacheFolder = QString::fromStdString(work + "/cache"),
                                         .confirm = {},
                                         .reveal = {},
                                         .openWith = {}};
    std::unique_ptr<MatchesWindow> window;
    dropPageCache();
    const auto [cold, coldFirst] = listingTime(options, window);
    window.reset();
    QTest::qWait(500);  // the index is written
    fs::remove_all(work + "/cache/thumbnails");
    const auto [warm, warmFirst] = listingTime(options, window);
    std::printf("matches: %d listed cold in %.3f s (first rows %.3f s), warm in %.3f s (first rows %.3f s)\n",
                window->matches().rowCount(), cold, coldFirst, warm, warmFirst);

    // The GUI thread's stalls while the list scrolls a page every 100 ms and its pictures are made.
    QElapsedTimer clock;
    clock.start();
    std::vector<double> gaps;
    qint64 last = clock.nsecsElapsed();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        gaps.push_back((now - last) / 1e6);
        last = now;
    });
    tick.start(5);
    QTimer page;
    QObject::connect(&page, &QTimer::timeout, [&] {
        QScrollBar* bar = window->table().verticalScrollBar();
        bar->setValue(bar->value() + bar->pageStep());
    });
    page.start(100);
    QTest::qWait(10000);
    tick.stop();
    page.stop();
    std::sort(gaps.begin(), gaps.end());
    const auto pictures =
        std::distance(fs::directory_iterator(work + "/cache/thumbnails"), fs::directory_iterator());
    std::printf(
        "matches: scrolling 10 s with %ld pictures made: the GUI thread's longest gap %.1f ms "
        "(99th percentile %.1f ms, timer 5 ms)\n",
        static_cast<long>(pictures), gaps.back(), gaps[gaps.size() * 99 / 100]);
}

void benchPlayer(const std::string& work) {
    const std::string movie = work + "/2025-03-07 21.04.07.mp0";
    writeMovie(movie, 1920, 1080, 20s, true);
    fs::rename(movie, work + "/2025-03-07 21.04.07.mp4");
    const std::vector<double> deaths = {4.0, 9.5, 15.25};
    writeFile(work + "/2025-03-07 21.04.07.json",
              R"({"version": 1, "duration": 20, "deaths": [{"time": 4.0, "side": "enemy"},
               {"time": 9.5, "side": "friend"}, {"time": 15.25, "side": "enemy"}]})");
    PlayerWindow window;
    window.show();
    window.open(QString::fromStdString(work + "/2025-03-07 21.04.07.mp4"));
    MpvPlayer& player = window.player();
    waitFor([&] { return player.length() > 19 && player.position() > 0; }, 10000, "the movie to play");
    QElapsedTimer clock;
    clock.start();
    const double from = player.position();
    const double cpuBefore = processorSeconds();
    waitFor([&] { return player.position() >= player.length() - 0.1; }, 60000, "the movie's end");
    const double wall = clock.nsecsElapsed() / 1e9;
    std::printf(
        "player: 1920x1080 at 30 fps, %.2f s of movie played in %.2f s; mpv dropped %lld frames at the "
        "output and %lld in the decoder; %.2f s of processor time per second\n",
        player.position() - from, wall, player.droppedFrames(), player.decoderDroppedFrames(),
        (processorSeconds() - cpuBefore) / wall);
    player.set("pause", QStringLiteral("yes"));
    // Five passes from the start over the three deaths: one seek's time varies by 100 ms and more.
    std::vector<double> seeks;
    for (int pass = 0; pass < 5; ++pass) {
        player.command({QStringLiteral("seek"), QStringLiteral("0"), QStringLiteral("absolute")});
        waitFor([&] { return player.paused() && player.position() < 0.1; }, 5000, "the start");
        QTest::qWait(300);
        for (const double death : deaths) {
            bool landed = false;
            const auto connection = QObject::connect(&player, &MpvPlayer::restarted, [&] { landed = true; });
            clock.restart();
            QTest::keyClick(&window, Qt::Key_N);
            waitFor([&] { return landed && std::abs(player.position() - death) < 0.2; }, 5000, "the seek");
            seeks.push_back(clock.nsecsElapsed() / 1e6);
            std::printf("player: N to the death at %.2f s: landed at %.3f s after %.0f ms\n", death,
                        player.position(), seeks.back());
            QObject::disconnect(connection);
        }
    }
    std::sort(seeks.begin(), seeks.end());
    std::printf("player: N over %zu seeks: median %.0f ms, slowest %.0f ms, %ld within 300 ms\n",
                seeks.size(), seeks[seeks.size() / 2], seeks.back(),
                static_cast<long>(std::ranges::count_if(seeks, [](double ms) { return ms <= 300; })));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const tavrin::testing::TemporaryFolder work;
    const QStringList parts = QApplication::arguments().mid(1);
    if (parts.isEmpty() || parts.contains(QStringLiteral("list"))) {
        benchList(work.path());
    }
    if (parts.isEmpty() || parts.contains(QStringLiteral("player"))) {
        benchPlayer(work.path());
    }
    return 0;
}
