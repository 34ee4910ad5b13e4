// SPDX-License-Identifier: GPL-3.0-or-later
#include "matches/MatchSummary.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "control/RecordingNotice.h"

namespace vidora {

namespace {

std::string readFile(const std::filesystem::path& path, bool& found) {
    std::ifstream file(path, std::ios::binary);
    found = static_cast<bool>(file);
    std::ostringstream content;
    if (found) {
        content << file.rdbuf();
    }
    return content.str();
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
double pictureTime(const MatchSummary& summary) {
    for (const auto& mark : summary.marks) {
        if (mark.kind != TimelineMark::Kind::roundStart && mark.kind != TimelineMark::Kind::roundEnd) {
            return std::max(0.0, mark.time - 3.0);
        }
    }
    return summary.length ? *summary.length * 0.5 : 30.0;
}

void sortMarks(std::vector<TimelineMark>& marks) {
    std::ranges::stable_sort(marks, {}, &TimelineMark::time);
}

MatchSummary fromRecord(const MovieFile& file, const MatchRecord& record) {
    MatchSummary summary;
    summary.file = file;
    summary.bracket = record.bracket;
    summary.arena = record.zone;
    summary.shuffle = record.shuffle;
    summary.hasResult = record.hasResult;
    summary.outcome = record.outcome;
    summary.roundsWon = record.roundsWon;
    summary.roundsLost = record.roundsLost;
    for (const auto& [name, value] : record.endFigures) {
        summary.rating += (summary.rating.empty() ? "" : ", ") + name + " " + value;
    }
    if (record.duration > 0) {
        summary.length = record.duration;
    }
    std::optional<int> playerTeam;
    if (record.player) {
        summary.playerName = record.player->name;
        summary.playerSpec = record.player->spec;
        summary.playerClass = record.player->className;
        playerTeam =
            !record.player->teams.empty() ? std::optional(record.player->teams.front()) : record.player->team;
    }
    for (const auto& combatant : record.combatants) {
        // A shuffle's teams change each round: its first round's teams are shown.
        const auto team = !combatant.teams.empty() ? std::optional(combatant.teams.front()) : combatant.team;
        const bool friendly = playerTeam ? team == playerTeam : team == 0;
        (friendly ? summary.friends : summary.enemies).push_back({combatant.spec, combatant.className});
        summary.names.push_back(combatant.name);
    }
    summary.deaths = static_cast<int>(record.deaths.size());
    for (const auto& death : record.deaths) {
        summary.names.push_back(death.name);
        summary.marks.push_back(
            {.time = death.time,
             .kind = death.side == Side::friendly ? TimelineMark::Kind::friendlyDeath
                     : death.side == Side::enemy  ? TimelineMark::Kind::enemyDeath
                                                  : TimelineMark::Kind::death,
             .label = (death.name.empty() ? std::string("A player") : death.name) + " died",
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
            const std::string word = outcomeWord(round.result);
            summary.marks.push_back({.time = round.end,
                                     .kind = TimelineMark::Kind::roundEnd,
                                     .label = number + (word.empty() ? " ended" : ": " + word),
                                     .result = round.result});
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

std::string MatchSummary::resultText() const {
    if (shuffle) {
        return hasResult ? std::to_string(roundsWon) + "-" + std::to_string(roundsLost) : std::string();
    }
    if (outcome == Outcome::win) {
        return "Won";
    }
    return outcome == Outcome::loss ? "Lost" : std::string();
}

std::string MatchSummary::formatLength(double seconds) {
    const auto whole = static_cast<long>(std::lround(std::max(0.0, seconds)));
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

MatchSummary summarizeSubtitles(const MovieFile& file, std::string_view subtitles) {
    MatchSummary summary;
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

MatchSummary summarize(const MovieFile& file, std::string_view recordText, std::string_view subtitlesText,
                       bool hasRecord) {
    if (hasRecord) {
        const auto reading = readMatchRecord(recordText);
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

MatchSummary summarize(const MovieFile& file) {
    std::filesystem::path path(file.path);
    bool hasRecord = false;
    bool hasSubtitles = false;
    const std::string record = readFile(path.replace_extension("json"), hasRecord);
    const std::string subtitles = readFile(path.replace_extension("srt"), hasSubtitles);
    auto summary = summarize(file, record, subtitles, hasRecord);
    if (file.recording) {
        summary.note = "Being recorded.";
    }
    return summary;
}

}  // namespace vidora
