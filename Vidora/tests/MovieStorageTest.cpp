// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>

#include "TemporaryFolder.h"
#include "capture/MovieStorage.h"

namespace vidora {
namespace {

namespace fs = std::filesystem;
constexpr std::uint64_t gigabyte = MovieStorage::gigabyte;
const std::vector<std::string> stamps = {"2025-01-01 10.00.00", "2025-01-02 10.00.00", "2025-01-03 10.00.00"};

// Three movies of 1 GB (sparse: they take no room) with their subtitles and match logs, beside files that
// are never the recorder's to count or delete: other names, the player's Kept folder, an unfinished movie
// with its subtitles, a link.
class MovieStorageTest : public ::testing::Test {
protected:
    MovieStorageTest() {
        for (const auto& stamp : stamps) {
            make(stamp + ".mp4", gigabyte);
            make(stamp + ".srt", 1);
            make(".logs/" + stamp + ".log", 1);
        }
        for (const auto& name : others) {
            make(name, 5 * gigabyte);
        }
        fs::remove(folder.file(others.back()));
        fs::create_symlink("holiday.mp4", folder.file(others.back()));
    }
    void make(const std::string& name, std::uint64_t size) const {
        fs::create_directories(fs::path(folder.file(name)).parent_path());
        tavrin::testing::writeFile(folder.file(name), "");
        fs::resize_file(folder.file(name), size);
    }
    // The stamps whose movie, subtitles and match log are all there; the others must be gone altogether.
    std::vector<std::string> moviesLeft() const {
        std::vector<std::string> remaining;
        for (const auto& stamp : stamps) {
            const int files = fs::exists(folder.file(stamp + ".mp4")) +
                              fs::exists(folder.file(stamp + ".srt")) +
                              fs::exists(folder.file(".logs/" + stamp + ".log"));
            EXPECT_TRUE(files == 0 || files == 3) << stamp;
            if (files == 3) {
                remaining.push_back(stamp);
            }
        }
        for (const auto& name : others) {
            EXPECT_TRUE(fs::exists(folder.file(name))) << name;
        }
        return remaining;
    }

    const std::vector<std::string> others = {"holiday.mp4",
                                             "2025-01-01 09.00.00 (1).mp4",
                                             "2025-02-30 10.00.00.mp4",
                                             "Kept/2024-12-01 10.00.00.mp4",
                                             "2024-12-01 10.00.00.mp0",
                                             "2024-12-01 10.00.00.srt",
                                             "2024-11-30 10.00.00.mp4"};  // a link to holiday.mp4
    tavrin::testing::TemporaryFolder folder;
};

// At or under the limit nothing goes; over it the oldest go until the rest take at most 95 % of it, never
// the newest nor the one just recorded, which alone may take more than the limit. Another user's movies in
// a shared folder are never counted or deleted.
TEST_F(MovieStorageTest, OldestMoviesGoWithTheirSubtitlesAndLogsUntilWithin95PercentOfTheLimit) {
    const MovieStorage storage;
    storage.keepWithin(folder.path(), 0);  // no limit
    storage.keepWithin(folder.path(), 3 * gigabyte);
    MovieStorage({}, ::geteuid() + 1).keepWithin(folder.path(), gigabyte);
    EXPECT_EQ(moviesLeft(), stamps);
    EXPECT_FALSE(storage.keepWithin(folder.path(), 2.1 * gigabyte, stamps[1] + ".mp4"));
    EXPECT_EQ(moviesLeft(), (std::vector{stamps[1], stamps[2]}));
    EXPECT_TRUE(storage.keepWithin(folder.path(), gigabyte / 2, stamps[1] + ".mp4"));
    EXPECT_EQ(moviesLeft(), (std::vector{stamps[1], stamps[2]}));
}

// The files of a match whose movie is gone go with the next keeping of the limit, once an hour has passed
// since they were written, unless the player kept the movie.
TEST_F(MovieStorageTest, MatchFilesWithoutAMovieGoOnceTheyAreAnHourOld) {
    fs::remove(folder.file(stamps[0] + ".mp4"));
    fs::rename(folder.file(stamps[1] + ".mp4"), folder.file("Kept/" + stamps[1] + ".mp4"));
    for (const auto& file : fs::recursive_directory_iterator(folder.path())) {
        fs::last_write_time(file.path(), fs::file_time_type::clock::now() - std::chrono::hours(2));
    }
    make(".logs/2025-01-04 10.00.00.log", 1);  // a match going on without a recording
    MovieStorage().keepWithin(folder.path(), 0);
    EXPECT_FALSE(fs::exists(folder.file(stamps[0] + ".srt")) ||
                 fs::exists(folder.file(".logs/" + stamps[0] + ".log")));
    for (const std::string name :
         {"2025-01-02 10.00.00.srt", ".logs/2025-01-04 10.00.00.log", "2024-12-01 10.00.00.srt"}) {
        EXPECT_TRUE(fs::exists(folder.file(name))) << name;  // kept, recent, its movie unfinished
    }
}

// With less than 2 GB free the limit is kept first; with less than 1 GB even then, no recording starts.
TEST_F(MovieStorageTest, RecordingNeedsAGigabyteFreeAfterTheLimitIsKept) {
    std::uint64_t disk = 5.5 * gigabyte;
    const MovieStorage storage([&](const std::string& path) -> std::optional<std::uint64_t> {
        std::uint64_t used = 0;
        for (const auto& movie : MovieStorage().finishedMovies(path)) {
            used += movie.size;
        }
        return disk - used;
    });
    EXPECT_TRUE(storage.roomToRecord(folder.path(), 2.1 * gigabyte));  // 2.5 GB free: nothing goes now
    disk = 3.5 * gigabyte;
    EXPECT_FALSE(storage.roomToRecord(folder.path(), 10 * gigabyte));
    EXPECT_EQ(moviesLeft(), stamps);
    EXPECT_TRUE(storage.roomToRecord(folder.path(), 2.1 * gigabyte));
    EXPECT_EQ(moviesLeft(), std::vector{stamps[2]});
}

}  // namespace
}  // namespace vidora
