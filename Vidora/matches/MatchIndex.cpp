// SPDX-License-Identifier: GPL-3.0-or-later
#include "matches/MatchIndex.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace vidora {

namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

constexpr int indexVersion = 1;

std::string statText(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return "-";
    }
    return std::to_string(status.st_size) + ':' + std::to_string(status.st_mtim.tv_sec) + '.' +
           std::to_string(status.st_mtim.tv_nsec);
}

Json toJson(const std::optional<Outcome>& outcome) {
    return outcome ? Json(static_cast<int>(*outcome)) : Json();
}

std::optional<Outcome> outcomeFrom(const Json& value) {
    return value.is_number_integer() ? std::optional(static_cast<Outcome>(value.get<int>())) : std::nullopt;
}

Json toJson(const MatchRow& row) {
    Json members = Json::array();
    for (const auto* team : {&row.friends, &row.enemies}) {
        Json list = Json::array();
        for (const auto& member : *team) {
            list.push_back({member.spec, member.className});
        }
        members.push_back(std::move(list));
    }
    return {{"bracket", row.bracket},
            {"arena", row.arena},
            {"shuffle", row.shuffle},
            {"outcome", toJson(row.outcome)},
            {"rounds", {row.roundsWon, row.roundsLost}},
            {"hasResult", row.hasResult},
            {"rating", row.rating},
            {"length", row.length ? Json(*row.length) : Json()},
            {"player", {row.playerName, row.playerSpec, row.playerClass}},
            {"teams", std::move(members)},
            {"deaths", row.deaths},
            {"names", row.names},
            {"pictureTime", row.pictureTime},
            {"note", row.note}};
}

MatchRow fromJson(const Json& value, const MovieFile& file) {
    MatchRow row;
    row.file = file;
    row.bracket = value.at("bracket").get<std::string>();
    row.arena = value.at("arena").get<std::string>();
    row.shuffle = value.at("shuffle").get<bool>();
    row.outcome = outcomeFrom(value.at("outcome"));
    row.roundsWon = value.at("rounds").at(0).get<int>();
    row.roundsLost = value.at("rounds").at(1).get<int>();
    row.hasResult = value.at("hasResult").get<bool>();
    row.rating = value.at("rating").get<std::string>();
    if (value.at("length").is_number()) {
        row.length = value.at("length").get<double>();
    }
    const Json& player = value.at("player");
    row.playerName = player.at(0).get<std::string>();
    row.playerSpec = player.at(1).get<std::string>();
    row.playerClass = player.at(2).get<std::string>();
    for (int team = 0; team < 2; ++team) {
        for (const Json& member : value.at("teams").at(team)) {
            (team == 0 ? row.friends : row.enemies)
                .push_back({member.at(0).get<std::string>(), member.at(1).get<std::string>()});
        }
    }
    row.deaths = value.at("deaths").get<int>();
    row.names = value.at("names").get<std::vector<std::string>>();
    row.pictureTime = value.at("pictureTime").get<double>();
    row.note = value.at("note").get<std::string>();
    return row;
}

}  // namespace

std::string fileSignature(const MovieFile& movie) {
    return std::to_string(movie.size) + ':' + std::to_string(movie.modified) + ' ' +
           statText(matchFile(movie, "json")) + ' ' + statText(matchFile(movie, "srt"));
}

MatchIndex::MatchIndex(std::string path) : path_(std::move(path)) {
    std::ifstream file(path_, std::ios::binary);
    if (!file) {
        return;
    }
    try {
        const Json root = Json::from_msgpack(file);
        if (root.at("version").get<int>() != indexVersion) {
            return;
        }
        for (const auto& [movie, entry] : root.at("movies").items()) {
            MovieFile stored;
            stored.path = movie;
            entries_.insert_or_assign(
                movie, Entry{entry.at("signature").get<std::string>(), fromJson(entry.at("row"), stored)});
        }
    } catch (const Json::exception&) {
        entries_.clear();  // made again from the files
    }
}

std::vector<MatchRow> MatchIndex::rows(const std::vector<MovieFile>& movies,
                                       const std::function<void(std::vector<MatchRow>)>& batch,
                                       std::size_t batchSize) {
    std::vector<MatchRow> rows;
    std::vector<MatchRow> pending;
    std::map<std::string, Entry, std::less<>> current;
    for (const MovieFile& movie : movies) {
        const std::string signature = fileSignature(movie);
        MatchRow row;
        // A recording in progress changes all the time and is never indexed.
        if (const auto found = entries_.find(movie.path);
            !movie.recording && found != entries_.end() && found->second.signature == signature) {
            row = found->second.summary;
            row.file = movie;
        } else {
            row = summarize(movie);
            // The player reads the marks itself; the list needs none.
            row.marks.clear();
            changed_ = true;
        }
        if (!movie.recording) {
            current.insert_or_assign(movie.path, Entry{signature, row});
        }
        if (batch) {
            pending.push_back(row);
            if (pending.size() >= batchSize) {
                batch(std::exchange(pending, {}));
            }
        }
        rows.push_back(std::move(row));
    }
    if (batch && !pending.empty()) {
        batch(std::move(pending));
    }
    changed_ = changed_ || current.size() != entries_.size();
    entries_ = std::move(current);
    return rows;
}

void MatchIndex::save() {
    if (!changed_) {
        return;
    }
    Json movies = Json::object();
    for (const auto& [movie, entry] : entries_) {
        movies[movie] = {{"signature", entry.signature}, {"row", toJson(entry.summary)}};
    }
    const Json root = {{"version", indexVersion}, {"movies", std::move(movies)}};
    std::error_code error;
    fs::create_directories(fs::path(path_).parent_path(), error);
    const std::string beside = path_ + ".new";
    {
        std::ofstream file(beside, std::ios::binary | std::ios::trunc);
        const std::vector<std::uint8_t> bytes = Json::to_msgpack(root);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!file.flush()) {
            fs::remove(beside, error);
            return;
        }
    }
    fs::rename(beside, path_, error);
    changed_ = error.value() != 0;
}

}  // namespace vidora
