// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

namespace vidora {

// Installs the game add-on into the game's folder (`_retail_/`, as the proxy finds it): its files,
// built into the program, become Interface/AddOns/TavrinRecorder/, replacing an older copy of that
// folder only. The installed folder, or nothing when it could not be written (nothing is changed then).
std::optional<std::string> installAddon(const std::string& gameFolder);

}  // namespace vidora
