// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace vidora {

// The colour players know a class by ("#C69B6D" for a Warrior), grey for a class not known.
std::string classColour(std::string_view className);

}  // namespace vidora
