// SPDX-License-Identifier: GPL-3.0-or-later
#include "ApplicationIdentity.h"

#include <algorithm>
#include <filesystem>
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

bool belongsToApplications(const ProcessTable& table, pid_t pid, std::span<const std::string> identifiers,
                           std::span<const ProcessStart> processes) {
    // Deeper than any real tree: a guard against a loop in a table that changes while it is read.
    for (int depth = 0; pid > 0 && depth < 64; ++depth) {
        if (const auto listed = std::ranges::find(processes, pid, &ProcessStart::pid);
            listed != processes.end() && table.start(pid) == *listed) {
            return true;
        }
        if (const auto identity = identifyProcess(table, pid)) {
            return std::ranges::find(identifiers, identity->identifier) != identifiers.end();
        }
        pid = table.parentId(pid).value_or(0);
    }
    return false;
}

std::optional<DesktopEntry> desktopEntryOf(const ProcessTable& table, pid_t pid,
                                           const DesktopEntryIndex& entries, std::string_view classInstance,
                                           std::string_view className) {
    if (auto flatpak = table.flatpakId(pid)) {
        if (const auto* entry = entries.byId(*flatpak)) {
            return *entry;
        }
        DesktopEntry bare;
        bare.id = std::move(*flatpak);
        return bare;
    }
    if (const auto launched = table.environmentValue(pid, "GIO_LAUNCHED_DESKTOP_FILE");
        launched && table.environmentValue(pid, "GIO_LAUNCHED_DESKTOP_FILE_PID") == std::to_string(pid)) {
        if (const auto* entry = entries.byPath(*launched)) {
            return *entry;
        }
        if (auto entry = readDesktopEntry(*launched, std::filesystem::path(*launched).stem().string())) {
            return entry;
        }
    }
    const auto* entry = entries.byWindowClass(classInstance, className);
    if (const auto executable = table.executableName(pid); !entry && executable) {
        entry = entries.byExecutable(*executable);
    }
    return entry ? std::optional(*entry) : std::nullopt;
}

}  // namespace tavrin
