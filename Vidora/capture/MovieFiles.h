#pragma once

#include <string>

namespace vidora {

// Moves the file at `path` to the same path with its last extension replaced by `extension` (given
// without the dot; a path without one gets it appended). Never replaces a file: a missing source, an
// existing target or any other failure leaves everything as it was, and nothing is reported. Any thread.
void changeExtension(const std::string& path, const std::string& extension);

}  // namespace vidora
