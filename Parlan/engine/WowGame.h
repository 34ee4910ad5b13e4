// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace parlan {

// The game's numbers turned into the words the match outputs carry. Constant data, safe from any thread.
class WowGame {
public:
    static const WowGame& shared();

    // "Arena" for an arena's instance id, nothing otherwise.
    std::optional<std::string> getInstanceType(std::int64_t instanceId) const;
    // The specialization's display name ("" for id 0), nothing for text that is no known id.
    std::optional<std::string> getSpecialization(std::string_view id) const;
    // The expansion's name for 1 to 16, nothing otherwise.
    std::optional<std::string> getExpansion(std::string_view number) const;
};

}  // namespace parlan
