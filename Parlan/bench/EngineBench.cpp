// parlan-bench [benchmark flags] [LOG_FILE]: the combat-log engine's throughput on a sample log: the
// head alone, the whole path as the replay runs it, and one 1 MiB catch-up pass of the follower.
// LOG_FILE defaults to the largest sample log.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "TemporaryFolder.h"
#include "common/Text.h"
#include "engine/LogFiles.h"
#include "engine/LogParser.h"
#include "engine/Thresholds.h"
#include "replay/Replay.h"

namespace {

namespace fs = std::filesystem;
using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;

std::string logPath = PARLAN_BENCH_LOG;

void BM_Head(benchmark::State& state) {
    const std::string text = readFile(logPath);
    // The lines as the follower hands them to head: decoded and trimmed.
    std::vector<std::string> lines;
    for (std::size_t begin = 0, end = 0; begin < text.size(); begin = end) {
        end = std::min(text.find('\n', begin), text.size() - 1) + 1;
        lines.emplace_back(
            tavrin::trim(tavrin::decodeText(std::string_view(text).substr(begin, end - begin))));
    }
    TemporaryFolder movies;
    parlan::LineClock clock;
    parlan::LogParser parser(movies.path(), clock);
    for (auto _ : state) {
        for (const auto& line : lines) {
            benchmark::DoNotOptimize(parser.head(line));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_WholePath(benchmark::State& state) {
    std::size_t matches = 0;
    for (auto _ : state) {
        TemporaryFolder movies;
        const auto replayed = parlan::replayLog(logPath, movies.path());
        if (!replayed) {
            state.SkipWithError("cannot read the log");
            break;
        }
        matches = replayed->size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(logPath)));
    state.counters["matches"] = static_cast<double>(matches);
}

// A follower started on a live log of at least 5 MB that ends with `last`: the first line, then the last
// 1 MiB, the clock at the last line's time so that only its last 20 minutes pass the age test.
void BM_CatchUpPass(benchmark::State& state, const fs::path& last) {
    TemporaryFolder folder;
    const std::string path = folder.file("WoWCombatLog-" + last.stem().string() + ".txt");
    {
        std::ofstream out(path, std::ios::binary);
        for (const std::string filler = readFile(logPath);
             static_cast<std::uintmax_t>(out.tellp()) + fs::file_size(last) < 5'000'000;) {
            out << filler;
        }
        out << readFile(last.string());
    }
    struct stat attributes {};
    ::stat(path.c_str(), &attributes);
    const parlan::LogFiles::LogFile file{path, 0.0, attributes.st_size, attributes.st_ino};
    parlan::LineClock clock;
    {
        parlan::LogParser parser(folder.path(), clock);
        parlan::LogFiles probe(parser, clock);
        parlan::Date lastDate{};
        probe.setLineDateObserver([&lastDate](parlan::Date date) { lastDate = date; });
        probe.onFileComplete(path);
        clock.set(lastDate);
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto movies = std::make_unique<TemporaryFolder>();
        auto parser = std::make_unique<parlan::LogParser>(movies->path(), clock);
        auto logs = std::make_unique<parlan::LogFiles>(*parser, clock);
        state.ResumeTiming();
        logs->onFileModified(file);
        state.PauseTiming();
        logs.reset();
        parser.reset();
        movies.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * parlan::maxSize));
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
    const fs::path matchLog = fs::path(logPath).parent_path() / PARLAN_BENCH_MATCH_LOG;
    std::error_code error;
    if (!fs::is_regular_file(logPath, error) || !fs::is_regular_file(matchLog, error)) {
        std::cerr << "parlan-bench: cannot read " << logPath << " or " << matchLog << "\n";
        return 1;
    }
    benchmark::RegisterBenchmark("BM_Head", BM_Head)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_WholePath", BM_WholePath)->Unit(benchmark::kMillisecond)->UseRealTime();
    // Ends with the benchmark log's own session: after its match has ended.
    benchmark::RegisterBenchmark("BM_CatchUpPass/session_end", BM_CatchUpPass, fs::path(logPath))
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    // Ends with a log of whole matches: every line goes to the match log.
    benchmark::RegisterBenchmark("BM_CatchUpPass/in_matches", BM_CatchUpPass, matchLog)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::AddCustomContext("log", logPath);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
