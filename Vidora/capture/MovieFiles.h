#pragma once

#include <string>

namespace vidora {

// Moves the file at `path` to the same path with its last extension replaced by `extension` (given
// without the dot; a path without one gets it appended); whether it did. Never replaces a file: a missing
// source, an existing target or any other failure leaves everything as it was. Any thread.
bool changeExtension(const std::string& path, const std::string& extension);

}  // namespace vidora
