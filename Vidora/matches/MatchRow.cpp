// SPDX-License-Identifier: GPL-3.0-or-later
#include "matches/MatchRow.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/FileInputStream.h"
#include "control/RecordingNotice.h"

namespace vidora {

namespace {

std::string readFile(const std::string& path, bool& found) {
    auto stream = tavrin::FileInputStream::open(path);
    found = stream.has_value();
    return stream ? stream->readAll().value_or(std::string()) : std::string();
}

std::string outcomeWord(std::optional<Outcome> outcome) {
    if (!outcome) {
        return {};
    }
    switch (*outcome) {
        case Outcome::win:
            return "won";
        case Outcome::loss:
            return "lost";
        case Outcome::draw:
            return "drawn";
    }
    return {};
}

// Before the first death the gates are still closed or the loading screen shows; a shuffle's first
// round starts after its own preparation.
double pictureTime(const MatchRow& summary) {
    for (const auto& mark : summary.marks) {
        if (mark.kind != TimelineMark::Kind::roundStart && mark.kind != TimelineMark::Kind::roundEnd) {
            return std::max(0.0, mark.time - 3.0);
        }
    }
    return summary.length ? *summary.length * 0.5 : 30.0;
}

// "1048 · MMR 1446 vs 1428": the player's rating, then the matchmaking ratings, the player's team first;
// nothing of an unrated match.
std::string ratingText(std::int64_t personal, const std::array<std::int64_t, 2>& mmr,
                       std::optional<int> playerTeam) {
    std::string text = personal > 0 ? std::to_string(personal) : std::string();
    if (mmr[0] > 0 || mmr[1] > 0) {
        const bool swap = playerTeam == 1;
        text += (text.empty() ? "" : " · ") + std::string("MMR ") + std::to_string(mmr[swap ? 1 : 0]) +
                " vs " + std::to_string(mmr[swap ? 0 : 1]);
    }
    return text;
}

void sortMarks(std::vector<TimelineMark>& marks) {
    std::ranges::stable_sort(marks, {}, &TimelineMark::time);
}

std::optional<Outcome> outcomeOf(const std::optional<std::string>& word) {
    return word == "win"    ? std::optional(Outcome::win)
           : word == "loss" ? std::optional(Outcome::loss)
           : word == "draw" ? std::optional(Outcome::draw)
                            : std::nullopt;
}

std::optional<int> firstTeam(const tavrin::MatchRecord::Combatant& combatant) {
    return !combatant.teams.empty() && combatant.teams.front() ? combatant.teams.front() : combatant.team;
}

MatchRow fromRecord(const MovieFile& file, const tavrin::MatchRecord& record) {
    MatchRow summary;
    summary.file = file;
    if (record.bracket) {
        summary.bracket = record.bracket->name;
        summary.shuffle = record.bracket->shuffle;
    }
    summary.arena = record.zone.name;
    if (record.result) {
        summary.hasResult = true;
        summary.outcome = outcomeOf(record.result->outcome);
        summary.roundsWon = record.result->roundsWon.value_or(0);
        summary.roundsLost = record.result->roundsLost.value_or(0);
    }
    if (record.duration > 0) {
        summary.length = record.duration;
    }
    std::optional<int> playerTeam;
    std::int64_t personalRating = 0;
    if (record.player) {
        summary.playerName = record.player->name.value_or("");
        summary.playerSpec = record.player->specialization.name.value_or("");
        summary.playerClass = record.player->specialization.className.value_or("");
        playerTeam = record.player->team;
        // The player's own entry among the combatants has the rounds' teams and the rating.
        for (const auto& combatant : record.combatants) {
            if (!combatant.guid.empty() && combatant.guid == record.player->guid) {
                playerTeam = firstTeam(combatant);
                personalRating = combatant.rating ? combatant.rating->personal : 0;
            }
        }
    }
    summary.rating =
        ratingText(personalRating, record.end ? record.end->mmr : std::array<std::int64_t, 2>{}, playerTeam);
    for (const auto& combatant : record.combatants) {
        // A shuffle's teams change each round: its first round's teams are shown.
        const auto team = firstTeam(combatant);
        const bool friendly = playerTeam ? team == playerTeam : team == 0;
        (friendly ? summary.friends : summary.enemies)
            .push_back({combatant.specialization.name.value_or(""),
                        combatant.specialization.className.value_or("")});
        summary.names.push_back(combatant.name.value_or(""));
    }
    summary.deaths = static_cast<int>(record.deaths.size());
    for (const auto& death : record.deaths) {
        summary.names.push_back(death.name.value_or(""));
        summary.marks.push_back({.time = death.time,
                                 .kind = death.side == "friend"  ? TimelineMark::Kind::friendlyDeath
                                         : death.side == "enemy" ? TimelineMark::Kind::enemyDeath
                                                                 : TimelineMark::Kind::death,
                                 .label = death.name.value_or("A player") + " died",
                                 .result = std::nullopt});
    }
    // A match of one round needs no round marks.
    if (record.rounds.size() > 1) {
        for (const auto& round : record.rounds) {
            const std::string number = "Round " + std::to_string(round.number);
            summary.marks.push_back({.time = round.start,
                                     .kind = TimelineMark::Kind::roundStart,
                                     .label = number,
                                     .result = std::nullopt});
            const auto result = outcomeOf(round.result);
            const std::string word = outcomeWord(result);
            summary.marks.push_back({.time = round.end,
                                     .kind = TimelineMark::Kind::roundEnd,
                                     .label = number + (word.empty() ? " ended" : ": " + word),
                                     .result = result});
        }
    }
    sortMarks(summary.marks);
    return summary;
}

// "00:01:41,327 --> ..." gives 101.327.
std::optional<double> cueStart(std::string_view line) {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int milliseconds = 0;
    if (line.size() < 12 || line.find(" --> ") == std::string_view::npos ||
        std::sscanf(std::string(line.substr(0, 12)).c_str(), "%d:%d:%d,%d", &hours, &minutes, &seconds,
                    &milliseconds) != 4) {
        return std::nullopt;
    }
    return hours * 3600.0 + minutes * 60.0 + seconds + milliseconds / 1000.0;
}

}  // namespace

std::string MatchRow::resultText() const {
    if (shuffle) {
        return hasResult ? std::to_string(roundsWon) + "-" + std::to_string(roundsLost) : std::string();
    }
    if (outcome == Outcome::win) {
        return "Won";
    }
    return outcome == Outcome::loss ? "Lost" : std::string();
}

std::string MatchRow::formatLength(double seconds) {
    const auto whole = static_cast<long>(std::lround(std::max(0.0, seconds)));
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

MatchRow summarizeSubtitles(const MovieFile& file, std::string_view subtitles) {
    MatchRow summary;
    summary.file = file;
    const auto facts = matchFacts(subtitles);
    const auto fact = [&facts](std::string_view key) {
        const auto found = facts.find(key);
        return found != facts.end() ? found->second : std::string();
    };
    summary.bracket = fact("ArenaType");
    summary.arena = fact("ZoneName");
    summary.shuffle = summary.bracket.find("Shuffle") != std::string::npos;
    summary.playerSpec = fact("PlayerSpec");
    summary.playerName = fact("PlayerName");
    if (!fact("PlayerTeam").empty() && !summary.shuffle) {
        const std::string winner = fact("WinTeam");
        summary.outcome = winner == "Home"   ? std::optional(Outcome::win)
                          : winner == "Away" ? std::optional(Outcome::loss)
                                             : std::nullopt;
        summary.hasResult = summary.outcome.has_value();
    }
    if (const std::string score = fact("Score"); !score.empty() && score != "0") {
        summary.rating = "rating " + score;
    }
    std::optional<double> time;
    std::istringstream lines{std::string(subtitles)};
    for (std::string line; std::getline(lines, line);) {
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        if (const auto start = cueStart(line)) {
            time = start;
            summary.length = std::max(summary.length.value_or(0), *start);
        } else if (time && line.starts_with("Death: ")) {
            std::string name = line.substr(7);
            auto kind = TimelineMark::Kind::death;
            if (name.ends_with(" (F)") || name.ends_with(" (E)")) {
                kind = name.ends_with("(F)") ? TimelineMark::Kind::friendlyDeath
                                             : TimelineMark::Kind::enemyDeath;
                name.resize(name.size() - 4);
            }
            summary.names.push_back(name);
            summary.marks.push_back(
                {.time = *time, .kind = kind, .label = name + " died", .result = std::nullopt});
            ++summary.deaths;
        }
    }
    sortMarks(summary.marks);
    summary.pictureTime = pictureTime(summary);
    return summary;
}

RecordReading readRecord(std::string_view text) {
    if (auto record = tavrin::readMatchRecord(text)) {
        return {.record = std::move(record), .problem = {}};
    }
    // Why, in words for the row: the text is read again only when it is no record.
    nlohmann::json json;
    try {
        json = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& error) {
        // A record is written whole, then renamed: a file that ends too soon was cut.
        return {.record = std::nullopt,
                .problem = error.byte >= text.size() ? "The match record is cut short."
                                                     : "The match record is not readable."};
    }
    const auto found = json.is_object() ? json.find("version") : json.end();
    const int version = found != json.end() && found->is_number_integer() ? found->get<int>() : 0;
    if (version > tavrin::MatchRecord::currentVersion) {
        return {.record = std::nullopt,
                .problem = "The match record is of a newer version (" + std::to_string(version) +
                           "): update Vidora to read it."};
    }
    return {.record = std::nullopt, .problem = "The match record is not readable."};
}

MatchRow summarize(const MovieFile& file, std::string_view recordText, std::string_view subtitlesText,
                   bool hasRecord) {
    if (hasRecord) {
        const auto reading = readRecord(recordText);
        if (reading.record) {
            auto summary = fromRecord(file, *reading.record);
            summary.pictureTime = pictureTime(summary);
            return summary;
        }
        auto summary = summarizeSubtitles(file, subtitlesText);
        summary.note = reading.problem;
        return summary;
    }
    auto summary = summarizeSubtitles(file, subtitlesText);
    summary.note = subtitlesText.empty() ? "No match record and no subtitles." : "No match record.";
    return summary;
}

std::string matchFile(const MovieFile& movie, std::string_view extension) {
    return (std::filesystem::path(movie.path).parent_path() / (movie.stamp + "." + std::string(extension)))
        .string();
}

MatchRow summarize(const MovieFile& file) {
    bool hasRecord = false;
    bool hasSubtitles = false;
    const std::string record = readFile(matchFile(file, "json"), hasRecord);
    const std::string subtitles = readFile(matchFile(file, "srt"), hasSubtitles);
    auto summary = summarize(file, record, subtitles, hasRecord);
    if (file.recording) {
        summary.note = "Being recorded.";
    }
    return summary;
}

}  // namespace vidora
