// SPDX-License-Identifier: GPL-3.0-or-later
// The movies folder as the browser lists it, Keep and Stop keeping, the index in the cache and the filter.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "TemporaryFolder.h"
#include "capture/MovieStorage.h"
#include "matches/MatchFilter.h"
#include "matches/MatchFolder.h"
#include "matches/MatchIndex.h"

namespace vidora {
namespace {

namespace fs = std::filesystem;
using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::writeFile;

std::vector<std::string> names(const std::vector<MovieFile>& movies) {
    std::vector<std::string> result;
    for (const auto& movie : movies) {
        result.push_back(movie.stamp + (movie.kept ? " kept" : "") + (movie.recording ? " recording" : ""));
    }
    return result;
}

// A match's four files, as the proxy and the recorder leave them.
void writeMatch(const std::string& folder, const std::string& stamp) {
    fs::create_directories(folder + "/.logs");
    writeFile(folder + "/" + stamp + ".mp4", std::string(1000, 'm'));
    writeFile(folder + "/" + stamp + ".srt", "subtitles");
    writeFile(folder + "/" + stamp + ".json", R"({"version": 1, "bracket": {"name": "2v2"}})");
    writeFile(folder + "/.logs/" + stamp + ".log", "log");
}

TEST(MatchFolder, ListsTheRecordersMoviesAndKeepsThemWithTheirFilesWhereTheLimitNeverGoes) {
    TemporaryFolder movies;
    const std::string folder = movies.path();
    writeMatch(folder, "2025-03-06 08.00.00");
    writeMatch(folder, "2025-03-07 21.04.07");
    writeMatch(folder, "2025-03-08 10.00.00");
    writeFile(folder + "/2025-03-09 10.00.00.mp0", "being recorded");
    for (const char* other :
         {"holiday.mp4", "2025-03-07 21.04.07.mkv", "2025-13-01 10.00.00.mp4", "Kept/notes.mp4"}) {
        fs::create_directories(fs::path(folder + "/" + other).parent_path());
        writeFile(folder + "/" + other, "not ours");
    }
    writeFile(folder + "/Kept/2024-01-01 09.00.00.mp4", "kept before");
    EXPECT_EQ(
        names(matchFolder::listMovies(folder)),
        (std::vector<std::string>{"2025-03-09 10.00.00 recording", "2025-03-08 10.00.00",
                                  "2025-03-07 21.04.07", "2025-03-06 08.00.00", "2024-01-01 09.00.00 kept"}));

    const auto kept = matchFolder::keep(folder + "/2025-03-07 21.04.07.mp4", folder);
    ASSERT_EQ(kept.movie, folder + "/Kept/2025-03-07 21.04.07.mp4") << kept.problem;
    for (const char* file : {"2025-03-07 21.04.07.mp4", "2025-03-07 21.04.07.srt", "2025-03-07 21.04.07.json",
                             ".logs/2025-03-07 21.04.07.log"}) {
        EXPECT_TRUE(fs::exists(folder + "/Kept/" + file)) << file;
        EXPECT_FALSE(fs::exists(folder + "/" + file)) << file;
    }
    // The storage limit at its smallest deletes the older movie (the newest it always spares) and spares
    // the kept one.
    MovieStorage([](const std::string&) { return std::optional<std::uint64_t>(); }).keepWithin(folder, 1);
    EXPECT_FALSE(fs::exists(folder + "/2025-03-06 08.00.00.mp4"));
    EXPECT_EQ(readFile(folder + "/Kept/2025-03-07 21.04.07.mp4"), std::string(1000, 'm'));

    // Nothing moves that the player may not move, or over another file.
    writeMatch(folder, "2024-01-01 09.00.00");
    for (const auto& [movie, problem] : std::vector<std::pair<std::string, std::string>>{
             {"/2025-03-09 10.00.00.mp0", "Only the recorder's finished movies are moved."},
             {"/holiday.mp4", "Only the recorder's finished movies are moved."},
             {"/Kept/notes.mp4", "Only the recorder's finished movies are moved."},
             {"/2024-01-01 09.00.00.mp4", "A movie of that name is already there."}}) {
        const auto refused = matchFolder::keep(folder + movie, folder);
        EXPECT_FALSE(refused.movie) << movie;
        EXPECT_EQ(refused.problem, problem) << movie;
    }
    EXPECT_EQ(readFile(folder + "/Kept/2024-01-01 09.00.00.mp4"), "kept before");
    EXPECT_TRUE(fs::exists(folder + "/2025-03-09 10.00.00.mp0"));

    const auto back = matchFolder::stopKeeping(folder + "/Kept/2025-03-07 21.04.07.mp4", folder + "/");
    EXPECT_EQ(back.movie, folder + "/2025-03-07 21.04.07.mp4") << back.problem;
    EXPECT_TRUE(fs::exists(folder + "/.logs/2025-03-07 21.04.07.log"));
    EXPECT_EQ(matchFolder::companions(folder + "/2025-03-07 21.04.07.mp4").size(), 4U);
}

// The index serves a row while the movie's files keep their size and time, and reads them again otherwise.
TEST(MatchFolder, TheIndexServesRowsUntilTheirFilesChange) {
    TemporaryFolder movies;
    TemporaryFolder cache;
    writeMatch(movies.path(), "2025-03-07 21.04.07");
    const std::string record = movies.file("2025-03-07 21.04.07.json");
    std::vector<std::size_t> batches;
    {
        MatchIndex index(cache.file("index.json"));
        const auto rows = index.rows(matchFolder::listMovies(movies.path()),
                                     [&](std::vector<MatchRow> batch) { batches.push_back(batch.size()); });
        ASSERT_EQ(rows.size(), 1U);
        EXPECT_EQ(rows[0].bracket, "2v2");
        index.save();
    }
    EXPECT_EQ(batches, std::vector<std::size_t>{1});
    // Another record of the same size and time: the index's row stands.
    struct stat before {};
    ::stat(record.c_str(), &before);
    writeFile(record, R"({"version": 1, "bracket": {"name": "3v3"}})");
    const timespec times[] = {before.st_atim, before.st_mtim};
    ::utimensat(AT_FDCWD, record.c_str(), times, 0);
    const auto listed = matchFolder::listMovies(movies.path());
    EXPECT_EQ(MatchIndex(cache.file("index.json")).rows(listed)[0].bracket, "2v2");
    // A record replaced (another size) is read again; so is everything after a damaged index.
    writeFile(record, R"({"version": 1, "bracket": {"name": "Skirmish"}})");
    EXPECT_EQ(MatchIndex(cache.file("index.json")).rows(listed)[0].bracket, "Skirmish");
    writeFile(cache.file("index.json"), R"({"version": 1, "movies": {"x": {"signature": 3}}})");
    EXPECT_EQ(MatchIndex(cache.file("index.json")).rows(listed)[0].bracket, "Skirmish");
}

TEST(MatchFolder, TheFilterNarrowsByEachChoiceAndSearchesNamesSpecsAndArenas) {
    const auto match = [](std::string stamp, std::string bracket, std::string arena,
                          std::optional<Outcome> outcome, bool kept) {
        MatchRow row;
        row.file.path = "/m/" + stamp + ".mp4";
        row.file.stamp = stamp;
        row.file.kept = kept;
        row.bracket = std::move(bracket);
        row.arena = std::move(arena);
        row.outcome = outcome;
        row.hasResult = outcome.has_value();
        return row;
    };
    std::vector<MatchRow> rows = {
        match("2025-03-01 10.00.00", "2v2", "Nagrand Arena", Outcome::win, false),
        match("2025-03-05 10.00.00", "3v3", "Mugambala", Outcome::loss, true),
        match("2025-03-09 10.00.00", "Rated Solo Shuffle", "Nagrand Arena", std::nullopt, false)};
    rows[0].playerSpec = "Affliction";
    rows[1].enemies = {{"Arms", "Warrior"}};
    rows[2].shuffle = true;
    rows[2].hasResult = true;
    rows[2].roundsWon = 4;
    rows[2].roundsLost = 2;
    rows[2].names = {"Thoaxx-Magtheridon-US"};
    const auto shown = [&rows](const MatchFilter& filter) {
        std::string result;
        for (std::size_t row = 0; row < rows.size(); ++row) {
            result += filter.accepts(rows[row]) ? std::to_string(row) : "";
        }
        return result;
    };
    using Result = MatchFilter::Result;
    using Kept = MatchFilter::Kept;
    const std::vector<std::pair<std::function<void(MatchFilter&)>, std::string>> cases = {
        {[](MatchFilter&) {}, "012"},
        {[](MatchFilter& f) { f.bracket = "3v3"; }, "1"},
        {[](MatchFilter& f) { f.arena = "Nagrand Arena"; }, "02"},
        {[](MatchFilter& f) { f.spec = "Arms"; }, "1"},
        {[](MatchFilter& f) { f.spec = "Affliction"; }, "0"},
        {[](MatchFilter& f) { f.result = Result::won; }, "02"},  // the shuffle with more rounds won
        {[](MatchFilter& f) { f.result = Result::lost; }, "1"},
        {[](MatchFilter& f) { f.kept = Kept::kept; }, "1"},
        {[](MatchFilter& f) { f.kept = Kept::notKept; }, "02"},
        {[](MatchFilter& f) { f.fromDay = "2025-03-05"; }, "12"},
        {[](MatchFilter& f) { f.fromDay = "2025-03-02", f.toDay = "2025-03-05"; }, "1"},
        {[](MatchFilter& f) { f.search = "thoaxx"; }, "2"},
        {[](MatchFilter& f) { f.search = "nagrand  warrior"; }, ""},
        {[](MatchFilter& f) { f.search = "WARRIOR mugam"; }, "1"},
        {[](MatchFilter& f) { f.arena = "Nagrand Arena", f.result = Result::won, f.kept = Kept::notKept; },
         "02"}};
    for (std::size_t index = 0; index < cases.size(); ++index) {
        MatchFilter filter;
        cases[index].first(filter);
        EXPECT_EQ(shown(filter), cases[index].second) << "case " << index;
    }
}

}  // namespace
}  // namespace vidora
