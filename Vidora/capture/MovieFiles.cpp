#include "capture/MovieFiles.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace vidora {

bool changeExtension(const std::string& path, const std::string& extension) {
    if (path.empty()) {
        return false;
    }
    const std::string target = std::filesystem::path(path).replace_extension(extension).string();
    if (target == path) {
        return false;
    }
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    // Filesystems without RENAME_NOREPLACE: a hard link fails as well when the target exists.
    if ((errno == EINVAL || errno == ENOSYS) && ::link(path.c_str(), target.c_str()) == 0) {
        ::unlink(path.c_str());
        return true;
    }
    return false;
}

}  // namespace vidora
