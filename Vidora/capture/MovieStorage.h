// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vidora {

// The recorder's own movies in the movies folder: the storage limit, the room a recording needs and the
// movies a crash left unfinished. Only files directly in the folder with the recorder's names that belong to
// the user are counted, renamed or deleted: other names, other users' files (a folder two users share),
// anything in a subfolder ("Kept", the player's) and recordings in progress ("mp0") stay as they are. One
// thread at a time (the recorder's storage queue); what was done and why goes to stderr.
class MovieStorage {
public:
    static constexpr std::uint64_t gigabyte = 1'000'000'000;
    // Over the limit, the oldest movies go until the rest take at most this share of it.
    static constexpr double target = 0.95;
    // With less free space a recording makes room first, and with less than the second it does not start.
    static constexpr std::uint64_t roomyFreeSpace = 2 * gigabyte;
    static constexpr std::uint64_t leastFreeSpace = gigabyte;
    // A match's other files (subtitles, match record, match log) whose movie is gone are left this long
    // after they were last written: the proxy writes the log while the match runs and the subtitles as it
    // ends, whether or not it is recorded.
    static constexpr std::chrono::hours matchFilesGrace{1};

    // Bytes free for the user on the file system holding the folder; nothing when it cannot be told.
    using FreeSpace = std::function<std::optional<std::uint64_t>(const std::string& folder)>;
    static std::optional<std::uint64_t> systemFreeSpace(const std::string& folder);

    struct Movie {
        std::string name;  // the file name, which begins with the stamp of its start
        std::uint64_t size = 0;
    };

    // `owner`: the user whose files these are.
    explicit MovieStorage(FreeSpace freeSpace = systemFreeSpace, uid_t owner = ::geteuid())
        : freeSpace_(std::move(freeSpace)), owner_(owner) {}

    // The owner's finished movies directly in the folder, oldest first.
    std::vector<Movie> finishedMovies(const std::string& folder) const;
    // The oldest of `movies` (oldest first) whose deletion brings the rest to at most 95 % of `limit` bytes,
    // never the newest nor the one named `spared`; none while they take no more than the limit, and none for
    // the limit 0 (no limit).
    static std::vector<Movie> deletions(const std::vector<Movie>& movies, std::uint64_t limit,
                                        std::string_view spared = {});
    // Deletes what `deletions` chooses, each movie with its match's other files, and the files of matches
    // whose movie is gone (deleted, or never recorded) once `matchFilesGrace` has passed. True when the
    // movie `spared` alone takes more than the limit.
    bool keepWithin(const std::string& folder, std::uint64_t limit, std::string_view spared = {}) const;
    // Before a recording: with less than 2 GB free the limit is kept first (nothing is deleted without a
    // limit that could be read); false, and why on stderr, when less than 1 GB is free even then.
    bool roomToRecord(const std::string& folder, std::optional<std::uint64_t> limit) const;
    // At launch: an unfinished movie that holds a whole fragment loses what follows its last whole one and
    // becomes "mp4", or "<stamp> (2).mp4" and on when that is taken (never replacing a file); one without is
    // removed. Nothing while another recording writes into the folder.
    void recoverUnfinished(const std::string& folder) const;

private:
    FreeSpace freeSpace_;
    uid_t owner_;
};

}  // namespace vidora
