// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/MovieFiles.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <utility>

namespace vidora {

const FileSystemCalls& FileSystemCalls::system() {
    static const FileSystemCalls calls{[](const char* from, const char* to) {
                                           return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
                                       },
                                       ::link, ::rename, ::unlink};
    return calls;
}

bool moveWithoutReplacing(const std::string& from, const std::string& to, const FileSystemCalls& calls) {
    if (to == from) {
        return false;
    }
    if (calls.renameNoReplace(from.c_str(), to.c_str()) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;  // the target exists, or the source is gone
    }
    // File systems without RENAME_NOREPLACE: a hard link fails as well when the target exists.
    if (calls.link(from.c_str(), to.c_str()) == 0) {
        calls.unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    // Nor hard links (some network and FUSE mounts): a plain rename, only while nothing is at the target.
    struct stat existing {};
    if (::lstat(to.c_str(), &existing) == 0 || errno != ENOENT) {
        return false;
    }
    return calls.rename(from.c_str(), to.c_str()) == 0;
}

bool changeExtension(const std::string& path, const std::string& extension, const FileSystemCalls& calls) {
    if (path.empty()) {
        return false;
    }
    return moveWithoutReplacing(path, std::filesystem::path(path).replace_extension(extension).string(),
                                calls);
}

namespace {

std::uint64_t bigEndian(const unsigned char* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

}  // namespace

std::uint64_t playableLength(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat attributes {};
    if (fd < 0 || ::fstat(fd, &attributes) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return 0;
    }
    const auto size = static_cast<std::uint64_t>(attributes.st_size);
    bool header = false;
    bool fragmentHeader = false;  // the box before was a whole "moof"
    std::uint64_t fragmentsEnd = 0;
    std::uint64_t offset = 0;
    // The top-level boxes in order, up to the first one the file does not hold in full.
    while (offset + 8 <= size) {
        unsigned char box[16];
        const auto got = ::pread(fd, box, sizeof box, static_cast<off_t>(offset));
        if (got < 8) {
            break;
        }
        std::uint64_t boxSize = bigEndian(box, 4);
        std::uint64_t headerSize = 8;
        if (boxSize == 1 && got == 16) {
            boxSize = bigEndian(box + 8, 8);
            headerSize = 16;
        }
        // Size 0 ("to the end of the file") is a box the muxer never writes: the zeros of a tail the
        // file system had reserved when the power went.
        if (boxSize < headerSize || boxSize > size - offset) {
            break;
        }
        const std::string_view type(reinterpret_cast<const char*>(box + 4), 4);
        offset += boxSize;
        if (type == "mdat" && fragmentHeader) {
            fragmentsEnd = offset;
        }
        header = header || type == "moov";
        fragmentHeader = type == "moof" && header;
    }
    ::close(fd);
    return fragmentsEnd;
}

std::optional<FolderLock> FolderLock::take(const std::string& folder, Holder holder) {
    const int fd = ::open((folder + "/.recording.lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return std::nullopt;
    }
    ::fchmod(fd, 0644);  // readable by the folder's other users whatever our umask; theirs stays as it is
    const int operation = holder == Holder::recording ? LOCK_SH : LOCK_EX | LOCK_NB;
    int result = 0;
    while ((result = ::flock(fd, operation)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return FolderLock(fd);
}

FolderLock::FolderLock(FolderLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

}  // namespace vidora
