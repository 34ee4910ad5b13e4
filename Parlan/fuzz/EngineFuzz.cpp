// libFuzzer target: arbitrary bytes as a combat log through the whole engine: the follower, the head,
// the body with the eight event patterns, the match tracker and the files it writes.
//
// The input is log text followed by two control bytes, so that seeds cut from real logs stay logs.
// The last byte picks how the text arrives and how the clock behaves; the one before it skews the
// clock against the lines' times. Each input gets a fresh engine, so a reproducer replays alone; the
// output files go into one scratch folder per process, emptied now and then.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "common/Clock.h"
#include "common/Text.h"
#include "engine/LogFiles.h"
#include "engine/LogParser.h"

namespace {

using parlan::Date;

// Bits of the last input byte.
constexpr unsigned deliveryMask = 0x3;  // 0, 1: line by line; 2: a finished file; 3: a growing file
constexpr unsigned deliveryFile = 0x2;
constexpr unsigned deliveryGrowing = 0x3;
constexpr unsigned idleCheck = 0x4;   // afterwards, the log falls silent for longer than 1200 s
constexpr unsigned clockFixed = 0x8;  // the clock does not follow the lines (old lines get skipped)
constexpr unsigned splitShift = 4;    // growing file: sixteenths written before the first pass

constexpr std::uint64_t cleanEvery = 500;  // inputs between two emptyings of the scratch folder

// Now is what the input makes it; a pause costs nothing but moves now on.
class FuzzClock final : public tavrin::Clock {
public:
    Date now() const override { return now_; }
    void sleepFor(std::chrono::milliseconds span) override { now_ += span; }
    void set(Date date) { now_ = date; }

private:
    Date now_{};
};

struct Scratch {
    std::filesystem::path root;
    std::string movies;   // stands for the user's Movies folder
    std::string logFile;  // the combat log of the file deliveries
    Date base;            // the fixed clock's time before the skew
    std::uint64_t runs = 0;
};

Scratch* scratch = nullptr;

void removeScratch() {
    if (scratch != nullptr) {
        std::error_code error;
        std::filesystem::remove_all(scratch->root, error);
    }
}

void emptyFolder(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::filesystem::remove_all(entry.path(), error);
    }
}

void writeLog(const std::string& path, std::string_view text, bool append) {
    std::ofstream file(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::optional<parlan::LogFiles::LogFile> logFileRecord(const std::string& path) {
    struct stat attributes {};
    if (::stat(path.c_str(), &attributes) != 0) {
        return std::nullopt;
    }
    return parlan::LogFiles::LogFile{path, 0.0, attributes.st_size, attributes.st_ino};
}

// Line by line, as the follower hands them on: cut at line feeds, decoded into valid UTF-8.
void feedLines(parlan::LogFiles& logs, std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
        logs.onReadLine(tavrin::decodeText(line));
        text.remove_prefix(line.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // Local times (file names, line dates) are read in one fixed zone, with its clock changes.
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    std::string pattern = (std::filesystem::temp_directory_path() / "parlan-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    scratch = new Scratch;
    scratch->root = pattern;
    scratch->movies = (scratch->root / "movies").string();
    std::filesystem::create_directories(scratch->movies);
    scratch->logFile = (scratch->root / "WoWCombatLog.txt").string();
    scratch->base = tavrin::dateTimeDot("9/13/2024 13:31:52.307").value_or(Date{});
    std::atexit(removeScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const unsigned mode = data[size - 1];
    // Up to about 40 minutes either way, across the 1200 s that make a line too old.
    const auto skew = std::chrono::seconds(static_cast<std::int8_t>(data[size - 2]) * 19);
    const std::string_view text(reinterpret_cast<const char*>(data), size - 2);

    if (++scratch->runs % cleanEvery == 0) {
        emptyFolder(scratch->movies);
    }

    FuzzClock clock;
    clock.set(scratch->base + skew);
    parlan::LogParser parser(scratch->movies, clock);
    parlan::LogFiles logs(parser, clock);
    if ((mode & clockFixed) == 0) {
        logs.setLineDateObserver([&clock, skew](Date date) { clock.set(date + skew); });
    }

    switch (mode & deliveryMask) {
        case deliveryFile:
            writeLog(scratch->logFile, text, false);
            logs.onFileComplete(scratch->logFile);
            break;
        case deliveryGrowing: {
            // Two passes over a file the game is still writing: the first may end inside a line.
            const std::size_t split = text.size() * (mode >> splitShift) / 16;
            writeLog(scratch->logFile, text.substr(0, split), false);
            // Found as the game's live log unless the clock stands 10 s or more after the file's
            // modification time (or the file is empty).
            const auto recent = logs.getRecentFile(scratch->root.string());
            logs.onFileModified(recent ? recent : logFileRecord(scratch->logFile));
            writeLog(scratch->logFile, text.substr(split), true);
            logs.onFileModified(logFileRecord(scratch->logFile));
            break;
        }
        default:
            feedLines(logs, text);
            break;
    }
    if ((mode & idleCheck) != 0) {
        clock.set(clock.now() + std::chrono::seconds(1201));
        logs.onModifiedFileEmpty();
    }
    return 0;
}
