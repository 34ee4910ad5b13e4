// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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

// Moves the file at `path` to the same path with its last extension replaced by `extension` (given
// without the dot; a path without one gets it appended); whether it did. Never replaces a file: a missing
// source, an existing target or any other failure leaves everything as it was. Any thread.
bool changeExtension(const std::string& path, const std::string& extension,
                     const FileSystemCalls& calls = FileSystemCalls::system());

}  // namespace vidora
