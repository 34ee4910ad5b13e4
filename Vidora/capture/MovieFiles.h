// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vidora {

// The file system calls a rename goes through, as the C library gives them (-1 and errno on failure).
// Tests stand in for file systems that lack some of them.
struct FileSystemCalls {
    int (*renameNoReplace)(const char* from, const char* to);
    int (*link)(const char* from, const char* to);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);

    static const FileSystemCalls& system();
};

// Moves the file at `from` to `to`; whether it did. Never replaces a file: a missing source, an existing
// target or any other failure leaves everything as it was. Any thread.
bool moveWithoutReplacing(const std::string& from, const std::string& to,
                          const FileSystemCalls& calls = FileSystemCalls::system());
// moveWithoutReplacing to the same path with its last extension replaced by `extension` (given without the
// dot; a path without one gets it appended).
bool changeExtension(const std::string& path, const std::string& extension,
                     const FileSystemCalls& calls = FileSystemCalls::system());

// How much of a fragmented movie players can open: up to the end of its last whole fragment (a "moof" and
// the "mdat" after it); 0 without its header and one whole fragment (and so without a whole frame: each
// fragment begins with a key frame). What follows is a fragment cut off by a crash, which keeps players from
// opening the file, or the zeros a power loss leaves at the end of a file, which read as a box of size 0.
std::uint64_t playableLength(const std::string& path);

// A flock on ".recording.lock" in a movies folder: every recording into the folder holds it shared, the
// recovery of unfinished movies exclusively, so that the recovery never takes a movie another copy of the
// recorder is writing. It ends with the process, however that ends. The file is opened for reading only,
// so that in a folder two users share, the lock file the other made is ours to lock too.
class FolderLock {
public:
    enum class Holder { recording, recovery };

    // A recording waits for a recovery in progress; a recovery gets nothing while a recording holds the
    // lock. Nothing either when the lock file cannot be made.
    static std::optional<FolderLock> take(const std::string& folder, Holder holder);

    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    ~FolderLock();

private:
    explicit FolderLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace vidora
