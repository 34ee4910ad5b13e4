// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: arbitrary bytes as a combat log through the whole engine: the follower, the head,
// the body with the event patterns, the match tracker and the files it writes.
//
// The input is log text followed by two control bytes, so that seeds cut from real logs stay logs.
// The last byte picks how the text arrives and how the clock behaves; the one before it skews the
// clock against the lines' times. Each input gets a fresh engine, so a reproducer replays alone.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/DateTime.h"
#include "common/Text.h"
#include "engine/LogFiles.h"
#include "engine/LogParser.h"
#include "replay/Replay.h"

namespace {

namespace fs = std::filesystem;

// Bits of the last input byte.
constexpr unsigned deliveryGrowing = 0x3;  // both bits: a growing file; else line by line
constexpr unsigned idleCheck = 0x4;        // afterwards, the log falls silent for longer than 1200 s
constexpr unsigned clockFixed = 0x8;       // the clock does not follow the lines (old lines get skipped)

fs::path root;

void removeRoot() {
    std::error_code error;
    fs::remove_all(root, error);
}

void writeLog(const std::string& path, std::string_view text, bool append) {
    std::ofstream(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc))
        .write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::optional<parlan::LogFiles::LogFile> logFileRecord(const std::string& path) {
    struct stat attributes {};
    if (::stat(path.c_str(), &attributes) != 0) {
        return std::nullopt;
    }
    return parlan::LogFiles::LogFile{path, 0.0, attributes.st_size, attributes.st_ino};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // Local times (file names, line dates) are read in one fixed zone, with its clock changes.
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    std::string pattern = (fs::temp_directory_path() / "parlan-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    root = pattern;
    std::atexit(removeRoot);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const unsigned mode = data[size - 1];
    // Up to about 40 minutes either way, across the 1200 s that make a line too old.
    const auto skew = std::chrono::seconds(static_cast<std::int8_t>(data[size - 2]) * 19);
    std::string_view text(reinterpret_cast<const char*>(data), size - 2);

    // The movies folder afresh for each input: what one match wrote never meets the next input.
    const std::string movies = (root / "movies").string();
    removeRoot();
    fs::create_directories(movies);
    parlan::LineClock clock;
    clock.set(tavrin::dateTimeDot("9/13/2024 13:31:52.307").value_or(parlan::Date{}) + skew);
    parlan::LogParser parser(movies, clock);
    parlan::LogFiles logs(parser, clock);
    if ((mode & clockFixed) == 0) {
        logs.setLineDateObserver([&clock, skew](parlan::Date date) { clock.set(date + skew); });
    }

    if ((mode & deliveryGrowing) == deliveryGrowing) {
        // Two passes over a file the game is still writing: the first may end inside a line, after as
        // many sixteenths of the text as the last byte's high bits say. Found as
        // the game's live log unless the clock stands 10 s or more after the file's modification time.
        const std::string log = (root / "WoWCombatLog.txt").string();
        const std::size_t split = text.size() * (mode >> 4) / 16;
        writeLog(log, text.substr(0, split), false);
        const auto recent = logs.getRecentFile(root.string());
        logs.onFileModified(recent ? recent : logFileRecord(log));
        writeLog(log, text.substr(split), true);
        logs.onFileModified(logFileRecord(log));
    } else {
        // Line by line, as the follower hands them on: cut at line feeds, decoded into valid UTF-8.
        while (!text.empty()) {
            const std::string_view line = text.substr(0, std::min(text.find('\n'), text.size() - 1) + 1);
            logs.onReadLine(tavrin::decodeText(line));
            text.remove_prefix(line.size());
        }
    }
    if ((mode & idleCheck) != 0) {
        clock.set(clock.now() + std::chrono::seconds(1201));
        logs.onModifiedFileEmpty();
    }
    return 0;
}
