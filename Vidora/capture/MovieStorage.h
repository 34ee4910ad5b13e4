// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vidora {

// The recorder's own movies in the movies folder: the storage limit, the room a recording needs and the
// movies a crash left unfinished. Only files directly in the folder with the recorder's names are counted,
// renamed or deleted: other names, anything in a subfolder ("Kept", the player's) and recordings in
// progress ("mp0") stay as they are. Main thread, between recordings; what was done and why goes to stderr.
class MovieStorage {
public:
    static constexpr std::uint64_t gigabyte = 1'000'000'000;
    // Over the limit, the oldest movies go until the rest take at most this share of it.
    static constexpr double target = 0.95;
    // With less free space a recording makes room first, and with less than the second it does not start.
    static constexpr std::uint64_t roomyFreeSpace = 2 * gigabyte;
    static constexpr std::uint64_t leastFreeSpace = gigabyte;

    // Bytes free for the user on the file system holding the folder; nothing when it cannot be told.
    using FreeSpace = std::function<std::optional<std::uint64_t>(const std::string& folder)>;
    static std::optional<std::uint64_t> systemFreeSpace(const std::string& folder);

    struct Movie {
        std::string name;  // the file name, which begins with the stamp of its start
        std::uint64_t size = 0;
    };

    explicit MovieStorage(FreeSpace freeSpace = systemFreeSpace) : freeSpace_(std::move(freeSpace)) {}

    // The finished movies directly in the folder, oldest first.
    static std::vector<Movie> finishedMovies(const std::string& folder);
    // The oldest of `movies` (oldest first) whose deletion brings the rest to at most 95 % of `limit` bytes;
    // none while they take no more than the limit, and none for the limit 0 (no limit).
    static std::vector<Movie> deletions(const std::vector<Movie>& movies, std::uint64_t limit);
    // Deletes what `deletions` chooses, each movie with its subtitles and its match log.
    void keepWithin(const std::string& folder, std::uint64_t limit) const;
    // Before a recording: with less than 2 GB free the limit is kept first; false, and why on stderr, when
    // less than 1 GB is free even then.
    bool roomToRecord(const std::string& folder, std::uint64_t limit) const;
    // At launch: an unfinished movie that holds a whole fragment loses what follows its last whole one and
    // becomes "mp4" (never replacing a file); one without is removed. Nothing while another recording
    // writes into the folder.
    void recoverUnfinished(const std::string& folder) const;

private:
    FreeSpace freeSpace_;
};

}  // namespace vidora
