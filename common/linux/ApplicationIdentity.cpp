#include "ApplicationIdentity.h"

#include <utility>

#include "common/Text.h"
#include "common/Workspace.h"

namespace tavrin {
namespace {

bool isDiscordExecutable(std::string_view name) {
    return name == "Discord" || name == "discord";
}

}  // namespace

std::string_view commandWordFileName(std::string_view word) {
    const auto separator = word.find_last_of("/\\");
    return separator == std::string_view::npos ? word : word.substr(separator + 1);
}

bool isGameCommandWord(std::string_view word) {
    return equalIgnoringCase(commandWordFileName(word), "Wow.exe");
}

std::optional<std::string> ownProgramIdentifier(std::string_view executableName) {
    if (executableName == "Parlan") {
        return std::string(proxyBundleIdentifier);
    }
    if (executableName == "Vidora") {
        return std::string(recorderBundleIdentifier);
    }
    return std::nullopt;
}

std::optional<ProcessIdentity> identifyProcess(const ProcessTable& table, pid_t pid) {
    // Cheapest reads first: most processes are settled by their executable name and command line.
    auto executable = table.executableName(pid);
    if (!executable) {
        return std::nullopt;
    }
    if (auto identifier = ownProgramIdentifier(*executable)) {
        return ProcessIdentity{std::move(*identifier), std::move(*executable)};
    }
    if (const auto word = table.firstCommandWord(pid); word && isGameCommandWord(*word)) {
        return ProcessIdentity{std::string(gameBundleIdentifier), std::string(commandWordFileName(*word))};
    }
    if (isDiscordExecutable(*executable) || table.flatpakId(pid) == "com.discordapp.Discord") {
        return ProcessIdentity{std::string(discordBundleIdentifier), std::move(*executable)};
    }
    return std::nullopt;
}

}  // namespace tavrin
