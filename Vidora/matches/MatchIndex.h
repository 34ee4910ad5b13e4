// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "matches/MatchRow.h"

namespace vidora {

// The rows of the match list kept in the user's cache, so that a folder of thousands of matches lists
// without reading each record and subtitle file again. A row is used again only while its movie, record
// and subtitles have the size and modification time it was made from; a replaced or moved file is read
// anew. The rows carry no timeline marks (the player reads them from the record). The file is one object
// in MessagePack, quicker to read than JSON's text, written beside and renamed. One thread at a time.
class MatchIndex {
public:
    // Reads the index at `path`; one that is missing, unreadable or of another version starts empty.
    explicit MatchIndex(std::string path);

    // The rows of `movies` (in that order), from the index where it is current, else made and indexed.
    // `batch` is called with each `batchSize` rows as they are ready.
    std::vector<MatchRow> rows(const std::vector<MovieFile>& movies,
                               const std::function<void(std::vector<MatchRow>)>& batch = {},
                               std::size_t batchSize = 250);
    // Writes the index when it changed, keeping only the movies of the last `rows`.
    void save();

private:
    struct Entry {
        std::string signature;  // sizes and times of the movie, its record and its subtitles
        MatchRow summary;
    };

    std::string path_;
    std::map<std::string, Entry, std::less<>> entries_;
    bool changed_ = false;
};

// The size and modification time of a movie's own files, as one text.
std::string fileSignature(const MovieFile& movie);

}  // namespace vidora
