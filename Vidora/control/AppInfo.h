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

    std::string versionUrl() const;   // the page the hidden web view loads
    std::string versionJson() const;  // the published version file
};

// major * 10000 + minor * 100 + patch for "major.minor.patch" (each piece an optionally signed
// decimal number); 0 for any other text, and for a value beyond 64 bits.
std::int64_t versionToNumber(std::string_view version);

}  // namespace vidora
