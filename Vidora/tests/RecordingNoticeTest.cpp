// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "TemporaryFolder.h"
#include "control/RecordingNotice.h"

namespace vidora {
namespace {

TEST(RecordingNotice, TellsOfMatchesAndFailuresButNotOfRecordingsByHandThatWentWell) {
    // The end of a match's subtitles as the proxy writes them.
    const auto facts =
        matchSummary(matchFacts("1\r\n00:00:00,000 --> 00:00:02,000\r\nStart: Nagrand Arena\r\n\r\n"
                                "2\r\n00:03:03,000 --> 00:03:03,000\r\nArenaType: 3v3\r\n\r\n"
                                "3\r\n00:03:03,000 --> 00:03:03,000\r\nPlayerTeam: 1\r\n\r\n"
                                "4\r\n00:03:03,000 --> 00:03:03,000\r\nWinTeam: Home\r\n\r\n"
                                "5\r\n00:03:03,000 --> 00:03:03,000\r\nZoneName: Nagrand Arena\r\n\r\n"));
    const RecordingResult recorded{.movie = "/v/2025-03-07 21.04.07.mp4",
                                   .fileKept = true,
                                   .seconds = 183.6,
                                   .problem = std::nullopt,
                                   .target = "World of Warcraft"};
    EXPECT_EQ(describeRecording(recorded, false, facts),
              (RecordingNotice{"3v3 in Nagrand Arena recorded", "Won · 03:03 · 2025-03-07 21.04.07.mp4",
                               recorded.movie}));
    EXPECT_EQ(describeRecording(recorded, true, facts), std::nullopt);
    // No result where the player's team is unknown, or for a shuffle's rounds; no facts at all still
    // tell of the match.
    EXPECT_EQ(
        describeRecording(
            recorded, false,
            matchSummary({{"ArenaType", "Rated Solo Shuffle"}, {"PlayerTeam", "1"}, {"WinTeam", "Home"}}))
            ->body,
        "03:03 · 2025-03-07 21.04.07.mp4");
    EXPECT_EQ(describeRecording(recorded, false, {})->title, "Arena match recorded");

    // Failures are told however the recording began, with the file that remains.
    auto full = recorded;
    full.problem = RecordingProblem::diskFull;
    EXPECT_EQ(describeRecording(full, true, facts),
              (RecordingNotice{"Recording stopped early",
                               "The disk is full. What was recorded is in /v/2025-03-07 21.04.07.mp4.",
                               full.movie}));
    const RecordingResult noWindow{.movie = {},
                                   .fileKept = false,
                                   .seconds = 0,
                                   .problem = RecordingProblem::noWindow,
                                   .target = "World of Warcraft"};
    EXPECT_EQ(
        describeRecording(noWindow, false, {}),
        (RecordingNotice{"Match not recorded", "World of Warcraft has no window to record.", std::nullopt}));
    EXPECT_EQ(describeRecording(noWindow, true, {})->title, "Recording did not start");
}

// The record beside the movie tells the result, a shuffle's as its rounds; one the recorder cannot read
// leaves it to the subtitles.
TEST(RecordingNotice, TellsTheResultFromTheMatchRecord) {
    const tavrin::testing::TemporaryFolder folder;
    const RecordingResult recorded{.movie = folder.file("2024-09-13 13.58.35.mp4"),
                                   .fileKept = true,
                                   .seconds = 554.8,
                                   .problem = std::nullopt,
                                   .target = "World of Warcraft"};
    tavrin::testing::writeFile(folder.file("2024-09-13 13.58.35.srt"),
                               "1\r\n00:09:14,000 --> 00:09:14,000\r\nArenaType: 2v2\r\n\r\n"
                               "2\r\n00:09:14,000 --> 00:09:14,000\r\nPlayerTeam: 1\r\n\r\n"
                               "3\r\n00:09:14,000 --> 00:09:14,000\r\nWinTeam: Home\r\n\r\n");
    tavrin::MatchRecord record;
    record.zone.name = "Nagrand Arena";
    record.bracket = tavrin::MatchRecord::Bracket{"Rated Solo Shuffle", true, true};
    record.rounds.resize(6);
    record.result = tavrin::MatchRecord::Result{std::nullopt, 4, 2, 0};
    const auto told = [&](const tavrin::MatchRecord& written) {
        tavrin::testing::writeFile(folder.file("2024-09-13 13.58.35.json"), tavrin::toJson(written));
        const auto notice = describeRecording(recorded, false);
        return notice->title + " / " + notice->body;
    };
    EXPECT_EQ(
        told(record),
        "Rated Solo Shuffle in Nagrand Arena recorded / Won 4 of 6 rounds · 09:14 · 2024-09-13 13.58.35.mp4");
    record.bracket = tavrin::MatchRecord::Bracket{"2v2", true, false};
    record.result = tavrin::MatchRecord::Result{"loss", 0, 1, 0};
    EXPECT_EQ(told(record), "2v2 in Nagrand Arena recorded / Lost · 09:14 · 2024-09-13 13.58.35.mp4");
    record.version = tavrin::MatchRecord::currentVersion + 1;
    EXPECT_EQ(told(record), "2v2 recorded / Won · 09:14 · 2024-09-13 13.58.35.mp4");
}

}  // namespace
}  // namespace vidora
