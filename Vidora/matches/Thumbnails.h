// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vidora {

// A picture of a movie for the match list, and where it is kept in the user's cache.
struct ThumbnailKey {
    std::string path;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    bool operator==(const ThumbnailKey&) const = default;
    auto operator<=>(const ThumbnailKey&) const = default;

    // The cache's file name: a replaced or moved movie has another, so it is never shown with the
    // picture of what was there before.
    std::string fileName() const;
};

// Pixels as RGB, three bytes each, rows packed.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    // Nothing could be decoded: why, in a sentence for the row.
    std::string problem;
};

// The first picture at or after the key frame before `seconds` (the start of the movie when it is
// shorter), scaled to `width` pixels wide. Decodes on the calling thread with one thread of its own.
Picture grabPicture(const std::string& movie, double seconds, int width);

// Removes the least recently used files of the folder until the rest take at most 80 % of `limit` bytes,
// once they take more than `limit`. Any thread; files removed under it are no matter.
void trimCache(const std::string& folder, std::uint64_t limit);

}  // namespace vidora
