// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

namespace vidora {

// Installs the game add-on into the game's folder (`_retail_/`, as the proxy finds it): its files,
// built into the program, become Interface/AddOns/TavrinRecorder/ (those folders found whatever their
// letter case), replacing an older copy of that folder only, and whole: a failure leaves the older copy.
// The installed folder, or nothing when it could not be written; failures are logged.
std::optional<std::string> installAddon(const std::string& gameFolder);

}  // namespace vidora
