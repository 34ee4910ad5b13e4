// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures of movies, their names in the cache and its bound.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "MovieProbe.h"
#include "TemporaryFolder.h"
#include "matches/Thumbnails.h"

namespace vidora {
namespace {

namespace fs = std::filesystem;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::writeFile;

TEST(Thumbnails, APictureOfTheFightOrAWordWhyNone) {
    TemporaryFolder folder;
    // A movie as the recorder's are (HEVC tagged hvc1 with key frames 2 s apart, fragmented MP4), made by
    // ffmpeg's tool: libx265 inside this process leaves blocks the leak checker reports.
    const std::string movie = folder.file("2025-03-07 21.04.07.mp4");
    ASSERT_EQ(testing::run("ffmpeg -v error -f lavfi -i 'color=c=0x282828:s=640x360:r=30,drawbox=w=64:h=360:"
                           "color=white:t=fill' -t 1 -c:v libx265 -preset ultrafast -x265-params "
                           "log-level=error -g 60 -tag:v hvc1 "
                           "-movflags +frag_keyframe+empty_moov '" +
                           movie + "' && echo made"),
              "made\n");

    // From the key frame before the time asked: the bar covers the first 64 of 640 pixels.
    const Picture picture = grabPicture(movie, 0.5, 160);
    ASSERT_EQ(picture.problem, "");
    EXPECT_EQ(picture.width, 160);
    EXPECT_EQ(picture.height, 90);
    const auto brightness = [&picture](int x) { return picture.rgb[(45 * 160 + x) * 3 + 1]; };
    EXPECT_GT(brightness(5), 150);
    EXPECT_LT(brightness(100), 100);
    // Past its end a movie gives its start.
    EXPECT_EQ(grabPicture(movie, 60, 160).problem, "");

    writeFile(folder.file("damaged.mp4"), std::string(5000, 'x'));
    EXPECT_EQ(grabPicture(folder.file("damaged.mp4"), 1, 160).problem, "The movie cannot be opened.");
    EXPECT_EQ(grabPicture(folder.file("gone.mp4"), 1, 160).problem, "The movie cannot be opened.");

    // A movie replaced or moved is another picture.
    const ThumbnailKey key{movie, 1000, 5};
    EXPECT_EQ(key.fileName().size(), 20U);
    for (const ThumbnailKey& other :
         {ThumbnailKey{movie, 1001, 5}, ThumbnailKey{movie, 1000, 6}, ThumbnailKey{movie + "x", 1000, 5}}) {
        EXPECT_NE(other.fileName(), key.fileName());
    }
}

TEST(Thumbnails, TheCacheLosesItsLeastRecentlyUsedPicturesPastItsBound) {
    TemporaryFolder cache;
    for (int file = 0; file < 10; ++file) {
        const std::string path = cache.file(std::to_string(file) + ".jpg");
        writeFile(path, std::string(100, 'p'));
        const timespec used[] = {{1000 + file, 0}, {1000 + file, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), used, 0);
    }
    trimCache(cache.path(), 1000);  // within the bound
    EXPECT_EQ(std::distance(fs::directory_iterator(cache.path()), fs::directory_iterator()), 10);
    trimCache(cache.path(), 900);  // down to 720 bytes: the three least recently used go
    for (int file = 0; file < 10; ++file) {
        EXPECT_EQ(fs::exists(cache.file(std::to_string(file) + ".jpg")), file >= 3) << file;
    }
}

}  // namespace
}  // namespace vidora
