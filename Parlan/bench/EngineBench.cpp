// parlan-bench [benchmark flags] [LOG_FILE]: the combat-log engine's throughput on a sample log: the
// head alone, the whole path as the replay runs it, and one 1 MiB catch-up pass of the follower.
// LOG_FILE defaults to the largest sample log; the 5 MB log is built from the logs of its folder.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "common/DateTime.h"
#include "common/Text.h"
#include "engine/LogFiles.h"
#include "engine/LogParser.h"
#include "engine/Thresholds.h"
#include "replay/Replay.h"

namespace {

namespace fs = std::filesystem;

std::string logPath = PARLAN_BENCH_LOG;

constexpr std::uintmax_t catchUpLogSize = 5'000'000;

// A fresh folder under the system's temporary folder, removed with its contents at exit.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "parlan-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchFolder() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    // How many files lie below the folder: shows that a pass wrote its match outputs.
    std::size_t fileCount() const {
        std::error_code error;
        std::size_t count = 0;
        for (auto it = fs::recursive_directory_iterator(path_, error);
             !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            count += it->is_regular_file();
        }
        return count;
    }
    // Empties the folder, so every iteration writes its outputs from scratch.
    void clear() const {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(path_, error)) {
            fs::remove_all(entry.path(), error);
        }
    }

private:
    std::string path_;
};

ScratchFolder& scratch() {
    static ScratchFolder folder;
    return folder;
}

std::string readWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The file's lines as the follower hands them to head: decoded and trimmed.
std::vector<std::string> trimmedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string decoded = tavrin::decodeText(std::string_view(text).substr(begin, end - begin));
        lines.emplace_back(tavrin::trim(decoded));
        begin = end;
    }
    return lines;
}

// The date of the file's last line that has one, so the lines of its last 20 minutes pass the age test.
std::optional<tavrin::Date> lastLineDate(const std::vector<std::string>& lines) {
    const auto& pattern = parlan::LogParser::headPattern();
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (const auto match = pattern.search(*it)) {
            const std::string time = std::string(match->group(1)) + " " + std::string(match->group(2));
            if (const auto date = tavrin::dateTimeDot(time)) {
                return date;
            }
        }
    }
    return std::nullopt;
}

bool headAccepts(const std::string& path) {
    std::ifstream file(path);
    std::string first;
    std::getline(file, first);
    return parlan::LogParser::headPattern().search(tavrin::trim(tavrin::decodeText(first))).has_value();
}

// Sample logs of the folder that the head accepts, the largest first, then `last`: whole files until at
// least 5 MB, so the pass's last 1 MiB ends with that one log.
std::string buildCatchUpLog(const fs::path& last) {
    std::vector<fs::path> fillers;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(last.parent_path(), error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".txt" &&
            !fs::equivalent(entry.path(), last) && headAccepts(entry.path().string())) {
            fillers.push_back(entry.path());
        }
    }
    std::sort(fillers.begin(), fillers.end(),
              [](const fs::path& a, const fs::path& b) { return fs::file_size(a) > fs::file_size(b); });
    std::uintmax_t total = fs::file_size(last, error);
    std::vector<fs::path> parts;
    for (const auto& filler : fillers) {
        if (total >= catchUpLogSize) {
            break;
        }
        parts.push_back(filler);
        total += fs::file_size(filler);
    }
    // Short of fillers, the last log is repeated.
    while (total < catchUpLogSize && total > 0) {
        parts.push_back(last);
        total += fs::file_size(last);
    }
    parts.push_back(last);
    const std::string path = scratch().path() + "/WoWCombatLog-" + last.stem().string() + ".txt";
    std::ofstream out(path, std::ios::binary);
    for (const auto& part : parts) {
        out << readWhole(part.string());
    }
    return path;
}

void BM_Head(benchmark::State& state) {
    const std::string text = readWhole(logPath);
    const auto lines = trimmedLines(text);
    ScratchFolder movies;
    parlan::LineClock clock;
    parlan::LogParser parser(movies.path(), clock);
    std::size_t heads = 0;
    for (auto _ : state) {
        for (const auto& line : lines) {
            auto head = parser.head(line);
            heads += head.has_value();
            benchmark::DoNotOptimize(head);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["lines"] = static_cast<double>(lines.size());
    state.counters["heads"] = static_cast<double>(heads / std::max<std::size_t>(state.iterations(), 1));
}

void BM_WholePath(benchmark::State& state) {
    std::error_code error;
    const auto size = fs::file_size(logPath, error);
    ScratchFolder movies;
    std::size_t matches = 0;
    std::size_t outputs = 0;
    for (auto _ : state) {
        const auto replayed = parlan::replayLog(logPath, movies.path());
        if (!replayed) {
            state.SkipWithError("cannot read the log");
            break;
        }
        matches = replayed->size();
        state.PauseTiming();
        outputs = movies.fileCount();
        movies.clear();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    state.counters["matches"] = static_cast<double>(matches);
    state.counters["outputs"] = static_cast<double>(outputs);
}

// A follower started on a live 5 MB log: the first line, then the last 1 MiB, the clock at the last
// line's time so that its last 20 minutes pass the age test. `last` names the log the file ends with.
void BM_CatchUpPass(benchmark::State& state, const fs::path& last) {
    std::error_code error;
    if (!fs::is_regular_file(last, error)) {
        state.SkipWithError("missing sample log");
        return;
    }
    const std::string path = buildCatchUpLog(last);
    struct stat attributes {};
    if (::stat(path.c_str(), &attributes) != 0) {
        state.SkipWithError("cannot build the 5 MB log");
        return;
    }
    const parlan::LogFiles::LogFile file{path, 0.0, attributes.st_size, attributes.st_ino};
    parlan::LineClock clock;
    if (const auto date = lastLineDate(trimmedLines(readWhole(path)))) {
        clock.set(*date);
    }
    ScratchFolder movies;
    std::size_t outputs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        movies.clear();
        auto parser = std::make_unique<parlan::LogParser>(movies.path(), clock);
        auto logs = std::make_unique<parlan::LogFiles>(*parser, clock);
        state.ResumeTiming();
        logs->onFileModified(file);
        state.PauseTiming();
        outputs = movies.fileCount();
        logs.reset();
        parser.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * parlan::maxSize));
    state.counters["log_bytes"] = static_cast<double>(attributes.st_size);
    state.counters["outputs"] = static_cast<double>(outputs);
}

void registerBenchmarks() {
    benchmark::RegisterBenchmark("BM_Head", BM_Head)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_WholePath", BM_WholePath)->Unit(benchmark::kMillisecond)->UseRealTime();
    // Ends with the benchmark log's own session: after its match has ended.
    benchmark::RegisterBenchmark("BM_CatchUpPass/session_end", BM_CatchUpPass, fs::path(logPath))
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    // Ends with a log of followed events only, four matches: every line goes to the match log.
    benchmark::RegisterBenchmark("BM_CatchUpPass/in_matches", BM_CatchUpPass,
                                 fs::path(logPath).parent_path() / PARLAN_BENCH_MATCH_LOG)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 2) {
        std::cerr << "usage: parlan-bench [benchmark flags] [LOG_FILE]\n";
        return 2;
    }
    if (argc == 2) {
        logPath = argv[1];
    }
    std::error_code error;
    if (!fs::is_regular_file(logPath, error) || scratch().path().empty()) {
        std::cerr << "parlan-bench: cannot read " << logPath << "\n";
        return 1;
    }
    registerBenchmarks();
    benchmark::AddCustomContext("log", logPath);
    benchmark::AddCustomContext("log_bytes", std::to_string(fs::file_size(logPath, error)));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
