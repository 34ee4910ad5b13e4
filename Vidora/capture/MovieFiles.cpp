// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/MovieFiles.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace vidora {

const FileSystemCalls& FileSystemCalls::system() {
    static const FileSystemCalls calls{[](const char* from, const char* to) {
                                           return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
                                       },
                                       ::link, ::rename, ::unlink};
    return calls;
}

bool changeExtension(const std::string& path, const std::string& extension, const FileSystemCalls& calls) {
    if (path.empty()) {
        return false;
    }
    const std::string target = std::filesystem::path(path).replace_extension(extension).string();
    if (target == path) {
        return false;
    }
    if (calls.renameNoReplace(path.c_str(), target.c_str()) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;  // the target exists, or the source is gone
    }
    // File systems without RENAME_NOREPLACE: a hard link fails as well when the target exists.
    if (calls.link(path.c_str(), target.c_str()) == 0) {
        calls.unlink(path.c_str());
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    // Nor hard links (some network and FUSE mounts): a plain rename, only while nothing is at the target.
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0 || errno != ENOENT) {
        return false;
    }
    return calls.rename(path.c_str(), target.c_str()) == 0;
}

}  // namespace vidora
