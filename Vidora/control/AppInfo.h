// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vidora {

// The program's name, version and edition, built in, and the two addresses of the update check
// made from them.
struct AppInfo {
    std::string appName;
    std::string appVersion;  // major.minor.patch
    std::string pricePlans;  // the edition word, lower case

    // The maker's web site, without a trailing "/".
    static constexpr std::string_view webSite = "https://tavrinworks.net";
    static constexpr std::string_view webSiteName = "tavrinworks.net";

    static const AppInfo& current();

    // The page the hidden web view loads and the published version file, on the maker's site or
    // another (a mirror, a test server).
    std::string versionUrl(std::string_view site = webSite) const;
    std::string versionJson(std::string_view site = webSite) const;
};

// major * 10000 + minor * 100 + patch for "major.minor.patch" (each piece an optionally signed
// decimal number); 0 for any other text, and for a value beyond 64 bits.
std::int64_t versionToNumber(std::string_view version);

}  // namespace vidora
